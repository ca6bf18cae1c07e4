#include "audio/capture/AudioDataEvent.h"

#include <optional>

namespace harkwell {

NativeAudioEvent makeAudioDataEvent(const std::string& id, AudioDeviceType type,
                                    const std::vector<float>& samples) {
  std::vector<std::optional<double>> audioData;
  audioData.reserve(samples.size());
  for (float sample : samples) audioData.emplace_back(static_cast<double>(sample));

  NativeAudioEvent event;
  event.id = id;
  event.type = type;
  event.eventType = NativeAudioEventType::deviceAudioData;
  event.audioData = std::move(audioData);
  return event;
}

}  // namespace harkwell
