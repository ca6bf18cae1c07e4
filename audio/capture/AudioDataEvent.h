#pragma once

#include <string>
#include <vector>

#include "bridge/AudioDeviceType.h"
#include "bridge/NativeAudioEvent.h"

namespace harkwell {

// The deviceAudioData event of one capture: `id` and `type` of the capture, no
// error, and the samples of the latest converted block widened to double. A
// controller keeps one and refills it for every block, so that a steady
// stream reuses the samples' storage and the id instead of allocating them
// per block.
// Thread affinity: one thread at a time (the controller's capture queue).
class AudioDataEvent {
 public:
  AudioDataEvent(std::string id, AudioDeviceType type);

  // The event carrying `samples`; valid until the next call.
  const NativeAudioEvent& withSamples(const std::vector<float>& samples);

 private:
  NativeAudioEvent event_;
};

}  // namespace harkwell
