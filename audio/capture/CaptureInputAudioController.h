#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio/capture/AudioController.h"
#include "audio/capture/AudioConverter.h"
#include "audio/capture/AudioDataEvent.h"
#include "bridge/BridgeFlutterApi.h"
#include "platform/avfoundation/AVCaptureAudioDataOutput.h"
#include "platform/avfoundation/AVCaptureDevice.h"
#include "platform/avfoundation/AVCaptureDeviceInput.h"
#include "platform/avfoundation/AVCaptureSession.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadRole.h"

namespace harkwell {

// Captures one microphone and sends each converted block to the UI as a
// deviceAudioData event (type input) under the microphone's id. Asks the device
// for lpcm, 1 channel, 16000 Hz; whatever it delivers is converted all the
// same. Running means the capture session runs: the session already runs when
// construction returns. stop() and destruction stop the session; no capture
// callback runs once they have returned. A session that stops by itself
// (device gone, sound server gone, interrupted) ends the capture, reported once
// through the ended handler.
// Thread affinity: construction, start(), stop(), isRunning() and destruction
// on the registry's thread; captureOutput() on the queue "input-audio-<id>",
// one buffer at a time, which alone uses the converter and sends events.
class CaptureInputAudioController final : public AudioController,
                                          public AVCaptureAudioDataOutputSampleBufferDelegate {
 public:
  // Opens `device` and starts capturing. Throws the NSError of opening the
  // device (or of a session that refuses the input or output), leaving nothing
  // running; std::invalid_argument for a null `flutterApi`. The controller keeps
  // `flutterApi` for its lifetime. Registry thread.
  CaptureInputAudioController(std::string id, const AVCaptureDevice& device,
                              std::shared_ptr<BridgeFlutterApiProtocol> flutterApi);
  ~CaptureInputAudioController() override;

  // The registry holds controllers through shared_ptr; throws as the constructor.
  // Registry thread.
  static std::shared_ptr<CaptureInputAudioController> create(
      std::string id, const AVCaptureDevice& device,
      std::shared_ptr<BridgeFlutterApiProtocol> flutterApi);

  CaptureInputAudioController(const CaptureInputAudioController&) = delete;
  CaptureInputAudioController& operator=(const CaptureInputAudioController&) = delete;

  // The capture session runs. Registry thread.
  bool isRunning() const override;
  // Runs the session again if it stopped; blocks until it runs or has failed.
  // Registry thread.
  void start() override;
  // Stops the session (also one that already stopped by itself); no event is
  // sent once this returns. Registry thread.
  void stop() override;
  // Registry thread; waits for the capture queue.
  void announceStart() override;
  // Registry thread; waits for the audio queue.
  bool startWasSent() override;
  // Registry thread.
  void setEndedHandler(EndedHandler handler) override EXCLUDES(endedMutex_);

  // One delivered buffer: converted, and sent unless it converts to nothing.
  // Capture queue.
  void captureOutput(AVCaptureAudioDataOutput& output, CMSampleBufferRef sampleBuffer,
                     AVCaptureConnection& connection) override;

  const std::string& id() const { return id_; }

 private:
  // Set by the constructor and never replaced; callbacks only read them.
  const std::string id_;
  const std::shared_ptr<DispatchQueue> queue_;
  // The audio path and deviceStart run there.
  const QueueRole audioSequence_{*queue_};
  const AVCaptureDevice captureDevice_;
  const std::shared_ptr<AVCaptureDeviceInput> captureInput_;
  const std::shared_ptr<AVCaptureAudioDataOutput> captureOutput_;
  const std::unique_ptr<AVCaptureSession> captureSession_;
  // Used only on queue_. The samples of one buffer live in samples_ between
  // conversion and event, and the event in audioEvent_, both kept so that a
  // steady stream reuses their storage.
  AudioConverter converter_;
  std::vector<float> samples_;
  AudioDataEvent audioEvent_;
  // Whether deviceStart went out.
  bool startSent_ GUARDED_BY(audioSequence_) = false;
  const std::shared_ptr<BridgeFlutterApiProtocol> flutterApi_;
  // Set on the registry's thread, taken (once) on the platform's.
  Mutex endedMutex_;
  EndedHandler ended_ GUARDED_BY(endedMutex_);

  // deviceStart, unless already sent. Capture queue.
  void sendStartOnce() REQUIRES(audioSequence_);
  // The session stopped by itself. Platform thread.
  void sessionEnded(const NSError& error) EXCLUDES(endedMutex_);
};

}  // namespace harkwell
