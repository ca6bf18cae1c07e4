#include "bridge/AudioPermission.h"

#include "bridge/RecordListReader.h"

namespace harkwell {

CodecList AudioPermission::toList() const {
  return CodecList{system, mic};
}

std::optional<AudioPermission> AudioPermission::fromList(const CodecList& list,
                                                         std::string* error) {
  RecordListReader reader(list, "AudioPermission", 2);
  AudioPermission permission{reader.boolean(0, "system"), reader.boolean(1, "mic")};
  if (reader.ok()) return permission;
  if (error != nullptr) *error = reader.error();
  return std::nullopt;
}

}  // namespace harkwell
