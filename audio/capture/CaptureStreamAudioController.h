#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "audio/capture/AudioController.h"
#include "audio/capture/AudioConverter.h"
#include "audio/capture/AudioDataEvent.h"
#include "bridge/BridgeFlutterApi.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/screencapturekit/SCShareableContent.h"
#include "platform/screencapturekit/SCStream.h"
#include "platform/screencapturekit/SCStreamConfiguration.h"

namespace harkwell {

// Records the system audio of one display through a screen-capture stream
// (audio on, frames at most every 1/30 s) and sends each converted block to the
// UI as a deviceAudioData event (type output) under the display's id; screen
// frames are dropped. start() and stop() return at once; the platform's answer
// logs "stream start", "stream start failed Optional(<error>)" or "stream stop"
// and moves isRunning(). Destruction stops the stream whenever a start was
// requested and no stop has been confirmed since, also while the start is still
// pending; completions that arrive after destruction only log.
// Thread affinity: construction, start(), stop(), isRunning() and destruction
// on the registry's thread; audio callbacks on "stream-audio-<id>", screen
// frames on "stream-video-<id>"; completions and the stop callback on threads
// of the platform's choosing.
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

  // True from the platform's confirmation of a start until the stream stops by
  // itself or a stop is confirmed. Any thread.
  bool isRunning() const override;
  // Asks the stream to start and returns at once. Registry thread.
  void start() override;
  // When running, asks the stream to stop and returns at once; otherwise does
  // nothing (no call, no log). Registry thread.
  void stop() override;

  // One audio buffer (sent once converted, unless it converts to nothing) or
  // screen frame (dropped). Audio queue or video queue.
  void stream(SCStream& stream, CMSampleBufferRef sampleBuffer, SCStreamOutputType type) override;
  // The stream ended by itself: not running any more; nothing is logged or sent.
  // Platform thread.
  void streamDidStopWithError(SCStream& stream, const NSError& error) override;

  const std::string& id() const { return id_; }

 private:
  // What the platform's completions may change. They hold it weakly: after the
  // controller is gone they find nothing and only log.
  // Thread affinity: any thread.
  struct CaptureState {
    // The platform confirmed a start and no stop since.
    std::atomic<bool> running{false};
    // A start was requested and no stop confirmed since (the stream may be
    // capturing, or about to).
    std::atomic<bool> startRequested{false};
    // A stop was asked for since the last start and has not failed: the
    // platform is already stopping the stream, so release need not ask again.
    std::atomic<bool> stopRequested{false};
  };

  // Set by the constructor and never replaced; callbacks only read them.
  const std::string id_;
  const std::shared_ptr<DispatchQueue> audioQueue_;
  const std::shared_ptr<DispatchQueue> videoQueue_;
  const SCDisplay display_;
  SCStreamConfiguration config_;
  const std::shared_ptr<CaptureState> state_;
  // Used only on audioQueue_. The samples of one buffer live in samples_ between
  // conversion and event, and the event in audioEvent_, both kept so that a
  // steady stream reuses their storage.
  AudioConverter converter_;
  std::vector<float> samples_;
  AudioDataEvent audioEvent_;
  const std::shared_ptr<BridgeFlutterApiProtocol> flutterApi_;
  // Made by the constructor, present afterwards. It holds `this` as output and
  // delegate; the destructor destroys it first, which waits out callbacks in
  // progress and lets none start.
  std::unique_ptr<SCStream> stream_;
};

}  // namespace harkwell
