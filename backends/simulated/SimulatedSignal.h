#pragma once

#include <cstdint>

#include "platform/coremedia/AudioStreamBasicDescription.h"
#include "platform/coremedia/CMSampleBuffer.h"

namespace harkwell {

enum class SimulatedSampleFormat { float32, int16, int32 };

// A test tone: the same sine on every channel, in the given sample layout.
// Thread affinity: a value; any thread.
struct SimulatedSignal {
  SimulatedSampleFormat format = SimulatedSampleFormat::float32;
  double sampleRate = 48000;  // Hz
  int channels = 1;
  bool interleaved = false;  // false: one buffer per channel
  int framesPerBuffer = 1024;
  double frequency = 440;   // Hz
  double amplitude = 0.25;  // of full scale

  // The stream description of buffers in this layout. Any thread.
  AudioStreamBasicDescription streamDescription() const;
};

// Produces consecutive buffers of a SimulatedSignal, phase-continuous from one
// buffer to the next, stamped with their position in the stream.
// Thread affinity: one thread at a time.
class SineSource {
 public:
  explicit SineSource(SimulatedSignal signal);

  // The next `framesPerBuffer` frames. Any thread (one at a time).
  CMSampleBufferRef next();

  const SimulatedSignal& signal() const { return signal_; }
  std::int64_t framesProduced() const { return framesProduced_; }

 private:
  SimulatedSignal signal_;
  double phase_ = 0;  // in cycles, kept in [0, 1)
  std::int64_t framesProduced_ = 0;
};

}  // namespace harkwell
