#include "bench/AudioPathHarness.h"

#include "audio/capture/AudioDataEvent.h"

namespace harkwell::bench {

AudioPathHarness::AudioPathHarness(bool throughEngine) {
  if (throughEngine) engine_ = std::make_unique<FlutterEngine>();
  flutterApi_ = std::make_unique<BridgeFlutterApi>(
      engine_ ? engine_->binaryMessenger()
              : static_cast<FlutterBinaryMessenger&>(droppingMessenger_));
}

AudioPathHarness::~AudioPathHarness() {
  drain();
  flutterApi_.reset();
  engine_.reset();
}

std::size_t AudioPathHarness::deliver(const CMSampleBufferRef& buffer) {
  // The body of CaptureStreamAudioController's audio callback.
  converter_.convert(buffer, samples_);
  if (samples_.empty()) return 0;
  const std::size_t count = samples_.size();
  flutterApi_->sendEvent(audioEvent_.withSamples(samples_), {});
  return count;
}

void AudioPathHarness::drain() {
  if (!engine_) return;
  // Work posted to the UI side runs after every message already queued there
  // (one queue, in order), so its running means they are all handled.
  const std::uint64_t ticket = ++drainsRequested_;
  engine_->uiSide().post([this, ticket] {
    // UI thread: the only writer of drainsDone_.
    MutexLock lock(drainMutex_);
    drainsDone_ = ticket;
    drained_.notify_one();
  });
  MutexLock lock(drainMutex_);
  while (drainsDone_ < ticket) drained_.wait(lock);
}

}  // namespace harkwell::bench
