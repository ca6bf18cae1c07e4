#include "audio/capture/AudioDataEvent.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace harkwell {

AudioDataEvent::AudioDataEvent(std::string id, AudioDeviceType type) {
  event_.id = std::move(id);
  event_.type = type;
  event_.eventType = NativeAudioEventType::deviceAudioData;
  event_.audioData.emplace();
}

const NativeAudioEvent& AudioDataEvent::withSamples(const std::vector<float>& samples) {
  // resize() keeps the capacity: no allocation once the longest block was
  // seen. Every element is then overwritten, in one pass.
  std::vector<std::optional<double>>& audioData = *event_.audioData;
  audioData.resize(samples.size());
  std::transform(samples.begin(), samples.end(), audioData.begin(),
                 [](float sample) { return std::optional<double>(sample); });
  return event_;
}

}  // namespace harkwell
