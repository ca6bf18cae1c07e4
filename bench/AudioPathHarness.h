#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/capture/AudioConverter.h"
#include "audio/capture/AudioDataEvent.h"
#include "bridge/BridgeFlutterApi.h"
#include "platform/coremedia/CMSampleBuffer.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"
#include "platform/flutter/FlutterBinaryMessenger.h"
#include "platform/flutter/FlutterEngine.h"

namespace harkwell::bench {

// The audio path of one capture, as a controller's sample-buffer callback runs
// it: convert the buffer, build the deviceAudioData event, hand it to
// BridgeFlutterApi::onEvent, which encodes it and gives it to the messenger.
// With `throughEngine` the messenger is a real engine's, so each event crosses
// to the engine's UI thread, where no handler is installed and the router
// drops it; otherwise a messenger that drops each message on the spot, which
// leaves out the thread hop.
// Thread affinity: deliver() and drain() from one thread (the benchmark's,
// standing in for the capture queue).
class AudioPathHarness {
 public:
  explicit AudioPathHarness(bool throughEngine);
  ~AudioPathHarness();
  AudioPathHarness(const AudioPathHarness&) = delete;
  AudioPathHarness& operator=(const AudioPathHarness&) = delete;

  // One delivered buffer down the path; the number of samples sent. Capture thread.
  std::size_t deliver(const CMSampleBufferRef& buffer);

  // Returns once the UI side has handled every event sent so far (at once
  // without the engine). Capture thread.
  void drain();

 private:
  // Takes every message and drops it; never answers (no send here asks for a reply).
  class DroppingMessenger final : public FlutterBinaryMessenger {
   public:
    void sendOnChannel(const std::string&, std::vector<std::uint8_t>, FlutterBinaryReply) override {
    }
    void setMessageHandlerOnChannel(const std::string&, FlutterBinaryMessageHandler) override {}
  };

  AudioConverter converter_;
  std::vector<float> samples_;
  AudioDataEvent audioEvent_{"1", AudioDeviceType::output};
  std::unique_ptr<FlutterEngine> engine_;
  DroppingMessenger droppingMessenger_;
  std::unique_ptr<BridgeFlutterApi> flutterApi_;

  // drain() waits on the UI thread's marker task through these.
  Mutex drainMutex_;
  std::condition_variable_any drained_;
  std::uint64_t drainsRequested_ = 0;  // capture thread only
  std::uint64_t drainsDone_ GUARDED_BY(drainMutex_) = 0;
};

}  // namespace harkwell::bench
