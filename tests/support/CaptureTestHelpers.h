#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <memory>
#include <string>
#include <string_view>

#include "audio/capture/HostLog.h"
#include "bridge/BridgeFlutterApi.h"
#include "platform/coremedia/CMSampleBuffer.h"
#include "platform/dispatch/DispatchQueue.h"
#include "tests/support/MessagingTestSupport.h"

namespace harkwell::testing {

// An event sender that records each event and whether it was sent from the
// queue set with expectEventsOn. Completions are dropped. Any thread.
class RecordingFlutterApi final : public BridgeFlutterApiProtocol {
 public:
  struct Sent {
    NativeAudioEvent event;
    bool onExpectedQueue = false;
  };
  void onEvent(NativeAudioEvent event, EventCompletion) override {
    MutexLock lock(mutex_);
    sent_.push_back({std::move(event), expectedQueue_ && expectedQueue_->isCurrent()});
  }
  void expectEventsOn(std::shared_ptr<DispatchQueue> queue) {
    MutexLock lock(mutex_);
    expectedQueue_ = std::move(queue);
  }
  std::vector<Sent> sent() const {
    MutexLock lock(mutex_);
    return sent_;
  }
  std::size_t count() const { return sent().size(); }

 private:
  mutable Mutex mutex_;
  std::shared_ptr<DispatchQueue> expectedQueue_ GUARDED_BY(mutex_);
  std::vector<Sent> sent_ GUARDED_BY(mutex_);
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

// Decodes an audio sample buffer into one vector of samples (full scale = 1.0)
// per channel, whatever its sample type and layout. Empty when the buffer has
// no readable audio.
inline std::vector<std::vector<double>> decodeChannels(const CMSampleBufferRef& buffer) {
  const auto* asbd =
      CMAudioFormatDescriptionGetStreamBasicDescription(CMSampleBufferGetFormatDescription(buffer));
  AudioBufferList list;
  CMBlockBufferRef block;
  if (!asbd || CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(
                   buffer, &list, kCFAllocatorDefault, kCFAllocatorDefault, 0, &block) != noErr) {
    return {};
  }
  const bool isFloat = (asbd->mFormatFlags & kAudioFormatFlagIsFloat) != 0;
  const std::size_t sampleSize = asbd->mBitsPerChannel / 8;
  const std::size_t channels = asbd->mChannelsPerFrame;
  std::vector<std::vector<double>> result(channels);
  auto read = [&](const std::uint8_t* at) -> double {
    if (isFloat) {
      float value;
      std::memcpy(&value, at, sizeof value);
      return value;
    }
    if (sampleSize == 2) {
      std::int16_t value;
      std::memcpy(&value, at, sizeof value);
      return value / 32768.0;
    }
    std::int32_t value;
    std::memcpy(&value, at, sizeof value);
    return value / 2147483648.0;
  };
  for (std::size_t b = 0; b < list.mBuffers.size(); ++b) {
    const auto& audioBuffer = list.mBuffers[b];
    const auto* bytes = static_cast<const std::uint8_t*>(audioBuffer.mData);
    const std::size_t perFrame = audioBuffer.mNumberChannels;
    if (perFrame == 0 || sampleSize == 0) continue;
    const std::size_t frames = audioBuffer.mDataByteSize / (sampleSize * perFrame);
    for (std::size_t f = 0; f < frames; ++f) {
      for (std::size_t c = 0; c < perFrame; ++c) {
        const std::size_t channel = perFrame == channels ? c : b;
        if (channel < channels)
          result[channel].push_back(read(bytes + (f * perFrame + c) * sampleSize));
      }
    }
  }
  return result;
}

}  // namespace harkwell::testing
