#include "bridge/NativeAudioEvent.h"

#include "bridge/RecordListReader.h"

namespace harkwell {

CodecList NativeAudioEvent::toList() const {
  CodecValue samples;
  if (audioData) {
    CodecList list;
    list.reserve(audioData->size());
    for (const std::optional<double>& sample : *audioData) {
      list.push_back(sample ? CodecValue(*sample) : CodecValue());
    }
    samples = std::move(list);
  }
  return CodecList{id, rawValue(type), rawValue(eventType), std::move(samples),
                   error ? CodecValue(*error) : CodecValue()};
}

std::optional<NativeAudioEvent> NativeAudioEvent::fromList(const CodecList& list,
                                                           std::string* error) {
  RecordListReader reader(list, "NativeAudioEvent", 5);
  NativeAudioEvent event{
      reader.string(0, "id"),
      reader.enumeration<AudioDeviceType>(1, "type", "an AudioDeviceType"),
      reader.enumeration<NativeAudioEventType>(2, "eventType", "a NativeAudioEventType"),
      reader.optionalDoubles(3, "audioData"),
      reader.optionalString(4, "error"),
  };
  if (reader.ok()) return event;
  if (error != nullptr) *error = reader.error();
  return std::nullopt;
}

}  // namespace harkwell
