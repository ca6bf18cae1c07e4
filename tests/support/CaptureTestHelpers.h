#pragma once

#include <string_view>

#include "audio/capture/HostLog.h"
#include "bridge/BridgeFlutterApi.h"
#include "platform/coremedia/CMSampleBuffer.h"
#include "platform/dispatch/DispatchQueue.h"
#include "tests/support/MessagingTestSupport.h"

namespace harkwell::testing {

// The samples of each channel of a planar float32 buffer, the layout every
// capture backend delivers; empty when the buffer has no readable audio.
inline std::vector<std::vector<double>> decodeChannels(const CMSampleBufferRef& buffer) {
  AudioBufferList list;
  CMBlockBufferRef block;
  if (CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(
          buffer, &list, kCFAllocatorDefault, kCFAllocatorDefault, 0, &block) != noErr) {
    return {};
  }
  std::vector<std::vector<double>> channels;
  for (const AudioBuffer& channel : list.mBuffers) {
    const auto* samples = static_cast<const float*>(channel.mData);
    channels.emplace_back(samples, samples + channel.mDataByteSize / sizeof(float));
  }
  return channels;
}

// An event sender that records each event and whether it was sent from the
// queue set with expectEventsOn. Completions are dropped. Any thread.
class RecordingFlutterApi final : public BridgeFlutterApiProtocol {
 public:
  struct Sent {
    NativeAudioEvent event;
    bool onExpectedQueue = false;
  };
  void onEvent(NativeAudioEvent event, EventCompletion) override {
    state_.with([&](State& s) { s.sent.push_back({std::move(event), s.on && s.on->isCurrent()}); });
  }
  void expectEventsOn(std::shared_ptr<DispatchQueue> queue) {
    state_.with([&](State& s) { s.on = std::move(queue); });
  }
  std::vector<Sent> sent() const {
    return state_.with([](State& s) { return s.sent; });
  }

 private:
  struct State {
    std::shared_ptr<DispatchQueue> on;
    std::vector<Sent> sent;
  };
  mutable test::Guarded<State> state_;
};

// Collects the host's log lines instead of standard output while it lives.
class RecordedHostLog {
 public:
  std::vector<std::string> lines() const { return lines_->values(); }

 private:
  std::shared_ptr<test::TestRecorder<std::string>> lines_ =
      std::make_shared<test::TestRecorder<std::string>>();
  ScopedHostLogSink scope_{
      [lines = lines_](std::string_view line) { lines->add(std::string(line)); }};
};

}  // namespace harkwell::testing
