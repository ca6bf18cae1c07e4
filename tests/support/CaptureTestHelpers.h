#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/avfoundation/AVCaptureAudioDataOutput.h"
#include "platform/coremedia/CMSampleBuffer.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Mutex.h"
#include "platform/screencapturekit/SCStream.h"

namespace harkwell::testing {

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

// Estimates the frequency of a sine by counting its rising zero crossings.
inline double estimateFrequency(const std::vector<double>& samples, double sampleRate) {
  std::size_t first = 0, last = 0, crossings = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    if (samples[i - 1] < 0 && samples[i] >= 0) {
      if (crossings == 0) first = i;
      last = i;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * sampleRate / static_cast<double>(last - first);
}

// What a recording consumer saw of one buffer.
struct ReceivedBuffer {
  CMSampleBufferRef buffer;
  bool onExpectedQueue;
};

// A microphone delegate that records every buffer and whether it arrived on
// the queue it was registered with. Thread affinity: callbacks on that queue;
// readers any thread.
class RecordingMicrophoneDelegate final : public AVCaptureAudioDataOutputSampleBufferDelegate {
 public:
  explicit RecordingMicrophoneDelegate(std::shared_ptr<DispatchQueue> queue)
      : queue_(std::move(queue)) {}
  ~RecordingMicrophoneDelegate() override = default;

  void captureOutput(AVCaptureAudioDataOutput&, CMSampleBufferRef sampleBuffer,
                     AVCaptureConnection&) override {
    MutexLock lock(mutex_);
    received_.push_back({std::move(sampleBuffer), queue_->isCurrent()});
  }

  std::vector<ReceivedBuffer> received() const {
    MutexLock lock(mutex_);
    return received_;
  }

  const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }

 private:
  const std::shared_ptr<DispatchQueue> queue_;
  mutable Mutex mutex_;
  std::vector<ReceivedBuffer> received_ GUARDED_BY(mutex_);
};

// A stream output and delegate that records buffers per type (with whether they
// came on the queue given for that type) and stop errors.
// Thread affinity: callbacks on the output queues or a backend thread; readers
// any thread.
class RecordingStreamConsumer final : public SCStreamOutput, public SCStreamDelegate {
 public:
  RecordingStreamConsumer(std::shared_ptr<DispatchQueue> audioQueue,
                          std::shared_ptr<DispatchQueue> screenQueue)
      : audioQueue_(std::move(audioQueue)), screenQueue_(std::move(screenQueue)) {}
  ~RecordingStreamConsumer() override = default;

  void stream(SCStream&, CMSampleBufferRef sampleBuffer, SCStreamOutputType type) override {
    const bool audio = type == SCStreamOutputType::audio;
    const bool onQueue = (audio ? audioQueue_ : screenQueue_)->isCurrent();
    MutexLock lock(mutex_);
    (audio ? audio_ : screen_).push_back({std::move(sampleBuffer), onQueue});
  }

  void streamDidStopWithError(SCStream&, const NSError& error) override {
    MutexLock lock(mutex_);
    stopErrors_.push_back(error.localizedDescription());
  }

  std::vector<ReceivedBuffer> audio() const {
    MutexLock lock(mutex_);
    return audio_;
  }
  std::vector<ReceivedBuffer> screen() const {
    MutexLock lock(mutex_);
    return screen_;
  }
  std::vector<std::string> stopErrors() const {
    MutexLock lock(mutex_);
    return stopErrors_;
  }

  const std::shared_ptr<DispatchQueue>& audioQueue() const { return audioQueue_; }
  const std::shared_ptr<DispatchQueue>& screenQueue() const { return screenQueue_; }

 private:
  const std::shared_ptr<DispatchQueue> audioQueue_;
  const std::shared_ptr<DispatchQueue> screenQueue_;
  mutable Mutex mutex_;
  std::vector<ReceivedBuffer> audio_ GUARDED_BY(mutex_);
  std::vector<ReceivedBuffer> screen_ GUARDED_BY(mutex_);
  std::vector<std::string> stopErrors_ GUARDED_BY(mutex_);
};

}  // namespace harkwell::testing
