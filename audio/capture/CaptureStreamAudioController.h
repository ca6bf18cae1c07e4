#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/capture/AudioController.h"
#include "audio/capture/AudioConverter.h"
#include "audio/capture/AudioDataEvent.h"
#include "bridge/BridgeFlutterApi.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadRole.h"
#include "platform/screencapturekit/SCShareableContent.h"
#include "platform/screencapturekit/SCStream.h"
#include "platform/screencapturekit/SCStreamConfiguration.h"

namespace harkwell {

// Records the system audio of one display through a screen-capture stream
// (audio on, frames at most every 1/30 s) and sends each converted block to the
// UI as a deviceAudioData event (type output) under the display's id; screen
// frames are dropped. start() returns at once; the platform's answer logs
// "stream start" or "stream start failed Optional(<error>)". stop() asks the
// platform to stop (its answer logs "stream stop") and tears the stream down
// at once, so nothing of the capture runs or sends afterwards even when that
// stop fails. A refused start and a stream that stops with an error end the
// capture, reported once through the ended handler.
// Lifecycle: one Phase, guarded by the lifecycle's mutex; every platform
// completion carries the generation it was asked under and is discarded once a
// later start or a stop has moved the generation on, or the controller is gone.
// Thread affinity: construction, start(), stop(), isRunning(), announceStart()
// and destruction on the registry's thread; audio callbacks and deviceStart on
// "stream-audio-<id>", screen frames on "stream-video-<id>"; completions and the
// stop callback on threads of the platform's choosing.
class CaptureStreamAudioController final : public AudioController,
                                           public SCStreamOutput,
                                           public SCStreamDelegate {
 public:
  // Makes the stream on `display` and adds the audio and screen outputs. Throws
  // the NSError of adding an output; std::invalid_argument for a null
  // `flutterApi`. Logs nothing. The controller keeps `flutterApi` for its
  // lifetime. Registry thread.
  CaptureStreamAudioController(std::string id, const SCDisplay& display,
                               std::shared_ptr<BridgeFlutterApiProtocol> flutterApi);
  ~CaptureStreamAudioController() override;

  // The registry holds controllers through shared_ptr; throws as the constructor.
  // Registry thread.
  static std::shared_ptr<CaptureStreamAudioController> create(
      std::string id, const SCDisplay& display,
      std::shared_ptr<BridgeFlutterApiProtocol> flutterApi);

  CaptureStreamAudioController(const CaptureStreamAudioController&) = delete;
  CaptureStreamAudioController& operator=(const CaptureStreamAudioController&) = delete;

  // True from start() until stop() or the capture's end, also while the
  // platform has yet to confirm the start. Any thread.
  bool isRunning() const override EXCLUDES(lifecycle_->mutex);
  // Asks the stream to start and returns at once. Registry thread.
  void start() override EXCLUDES(lifecycle_->mutex);
  // Asks a starting or running stream to stop, then tears the stream down
  // (which also stops a capture whose stop failed). Final. Registry thread.
  void stop() override EXCLUDES(lifecycle_->mutex);
  // Registry thread; waits for the audio queue.
  void announceStart() override;
  // Registry thread; waits for the audio queue.
  bool startWasSent() override;
  // Registry thread.
  void setEndedHandler(EndedHandler handler) override EXCLUDES(lifecycle_->mutex);

  // One audio buffer (sent once converted, unless it converts to nothing) or
  // screen frame (dropped). Audio queue or video queue.
  void stream(SCStream& stream, CMSampleBufferRef sampleBuffer, SCStreamOutputType type) override;
  // The stream ended by itself: the capture ends (ended handler told, once);
  // nothing is logged. Platform thread.
  void streamDidStopWithError(SCStream& stream, const NSError& error) override;

  const std::string& id() const { return id_; }

 private:
  enum class Phase { idle, starting, running, ended, stopped };

  // What the platform's completions may change. They hold it weakly: after the
  // controller is gone they find nothing and only log.
  // Thread affinity: any thread, under `mutex`.
  struct Lifecycle {
    Mutex mutex;
    Phase phase GUARDED_BY(mutex) = Phase::idle;
    // Moved on by every start and stop; a completion of an older one is stale.
    std::uint64_t generation GUARDED_BY(mutex) = 0;
    EndedHandler ended GUARDED_BY(mutex);
  };

  // Moves a starting or running capture of `generation` to ended and tells the
  // ended handler, once. Any thread.
  static void end(const std::shared_ptr<Lifecycle>& lifecycle, std::uint64_t generation,
                  const NSError& error) EXCLUDES(lifecycle->mutex);
  // deviceStart, unless already sent. Audio queue.
  void sendStartOnce() REQUIRES(audioSequence_);

  // Set by the constructor and never replaced; callbacks only read them.
  const std::string id_;
  const std::shared_ptr<DispatchQueue> audioQueue_;
  // The audio path and deviceStart run there.
  const QueueRole audioSequence_{*audioQueue_};
  const std::shared_ptr<DispatchQueue> videoQueue_;
  const SCDisplay display_;
  SCStreamConfiguration config_;
  const std::shared_ptr<Lifecycle> lifecycle_;
  // Used only on audioQueue_. The samples of one buffer live in samples_ between
  // conversion and event, and the event in audioEvent_, both kept so that a
  // steady stream reuses their storage.
  AudioConverter converter_;
  std::vector<float> samples_;
  AudioDataEvent audioEvent_;
  // Whether deviceStart went out.
  bool startSent_ GUARDED_BY(audioSequence_) = false;
  const std::shared_ptr<BridgeFlutterApiProtocol> flutterApi_;
  // Made by the constructor; stop() and the destructor destroy it, which waits
  // out callbacks in progress and lets none start. It holds `this` as output
  // and delegate. Registry thread.
  std::unique_ptr<SCStream> stream_;
};

}  // namespace harkwell
