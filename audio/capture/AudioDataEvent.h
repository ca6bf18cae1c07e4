#pragma once

#include <string>
#include <vector>

#include "bridge/AudioDeviceType.h"
#include "bridge/NativeAudioEvent.h"

namespace harkwell {

// The deviceAudioData event for one converted block: `id` and `type` of the
// capture, every sample widened to double, no error. One allocation for the
// samples. Any thread.
NativeAudioEvent makeAudioDataEvent(const std::string& id, AudioDeviceType type,
                                    const std::vector<float>& samples);

}  // namespace harkwell
