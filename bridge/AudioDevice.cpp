#include "bridge/AudioDevice.h"

#include "bridge/RecordListReader.h"

namespace harkwell {

CodecList AudioDevice::toList() const {
  return CodecList{name, rawValue(type), id, isDefault};
}

std::optional<AudioDevice> AudioDevice::fromList(const CodecList& list, std::string* error) {
  RecordListReader reader(list, "AudioDevice", 4);
  AudioDevice device{
      reader.string(0, "name"),
      reader.enumeration<AudioDeviceType>(1, "type", "an AudioDeviceType"),
      reader.string(2, "id"),
      reader.boolean(3, "isDefault"),
  };
  if (reader.ok()) return device;
  if (error != nullptr) *error = reader.error();
  return std::nullopt;
}

}  // namespace harkwell
