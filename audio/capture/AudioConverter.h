#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/coremedia/AVAudioFormat.h"
#include "platform/coremedia/AVAudioPCMBuffer.h"
#include "platform/coremedia/CMSampleBuffer.h"

namespace harkwell {

// Turns delivered audio sample buffers into mono float32 blocks at 16000 Hz:
// wrap as PCM (float32, int16 or int32, interleaved or not), average the
// channels (integers scaled into about -1..1), then pick samples at the target
// rate. Picking carries its position across the buffers of one stream (same
// source rate), so a run of buffers yields the exact picking of the continuous
// input. Anything malformed yields an empty block, never a crash.
// Thread affinity: convert() on one thread at a time (the owning controller's
// capture queue; it keeps the stream position); the static steps on any thread.
class AudioConverter {
 public:
  // Source rates outside this range (Hz) are taken as corrupt descriptions.
  static constexpr double minSourceSampleRate = 1000;
  static constexpr double maxSourceSampleRate = 1000000;

  // Hz; never changes.
  const double targetSampleRate = 16000;

  AudioConverter() = default;
  AudioConverter(const AudioConverter&) = delete;
  AudioConverter& operator=(const AudioConverter&) = delete;

  // One sample buffer in; mono float32 at targetSampleRate out, empty when the
  // buffer cannot be converted. Capture queue.
  std::vector<float> convert(const CMSampleBufferRef& buffer);

  // The same into `samples`, whose capacity is reused: a caller that keeps
  // the vector converts without allocating once it is large enough. Capture
  // queue.
  void convert(const CMSampleBufferRef& buffer, std::vector<float>& samples);

  // A PCM view over the buffer's bytes in the delivered layout, holding the
  // bytes alive; null when the buffer is invalid, has no usable stream
  // description (or its rate is outside the accepted range), is not
  // float32/int16/int32 linear PCM, or its bytes do not hold exactly its frame
  // count. Any thread.
  static std::unique_ptr<AVAudioPCMBuffer> convertToPcmBuffer(const CMSampleBufferRef& buffer);

  // The average of all channels, exactly frameLength() values; int16 divided
  // by 32767, int32 by 2^31; channels without float or integer data count as
  // silence. Any thread.
  static std::vector<float> convertToFloat32Array(const AVAudioPCMBuffer& buffer);

  // Picks input samples at the target rate without filtering, stepping a
  // float32 position (see AudioConverter.cpp). Output length is
  // ceil(n / from * to) in float32; values past the end of the input stay 0.
  // Empty for rates that are not finite and positive. Any thread.
  static std::vector<float> resample(const std::vector<float>& from, float fromSampleRate,
                                     float toSampleRate);

 private:
  struct PcmView;

  // What convertToPcmBuffer would make of `buffer`, as a view on the stack:
  // the same checks, in the same layouts, without allocating. False where
  // convertToPcmBuffer gives null. Capture queue (uses the format cache).
  bool viewPcm(const CMSampleBufferRef& buffer, PcmView& view);

  // Averages the view's channels into `mono` (the full channel count divides),
  // integers scaled to [-1, 1] through `scratch`. Any thread.
  static void mixDown(const PcmView& view, std::vector<float>& mono, std::vector<float>& scratch);

  // Picks this buffer's share of the stream's output into `out`. Capture queue.
  void pick(const std::vector<float>& samples, double sourceRate, std::vector<float>& out);

  // The last stream description seen and its format, so that a stream of
  // buffers in one format makes that format once. Capture queue.
  AudioStreamBasicDescription cachedDescription_{};
  std::shared_ptr<const AVAudioFormat> cachedFormat_;
  // The mixed-down buffer and the integer scratch, kept between buffers.
  std::vector<float> mono_;
  std::vector<float> scratch_;

  // The current stream: its source rate, and the exact ratio sourceRate /
  // targetSampleRate as stepNumerator_ / stepDenominator_ (see the .cpp).
  double streamRate_ = 0;
  std::uint64_t stepNumerator_ = 1;
  std::uint64_t stepDenominator_ = 1;
  // Input frames seen and output samples made since the stream started.
  std::uint64_t streamFrames_ = 0;
  std::uint64_t streamOutputs_ = 0;
};

}  // namespace harkwell
