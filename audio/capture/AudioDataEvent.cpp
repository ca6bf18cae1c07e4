#include "audio/capture/AudioDataEvent.h"

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
  // assign() keeps the capacity: no allocation once the longest block was seen.
  std::vector<std::optional<double>>& audioData = *event_.audioData;
  audioData.assign(samples.size(), std::nullopt);
  for (std::size_t i = 0; i < samples.size(); ++i) audioData[i] = static_cast<double>(samples[i]);
  return event_;
}

}  // namespace harkwell
