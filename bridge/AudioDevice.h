#pragma once

#include <optional>
#include <string>

#include "bridge/AudioDeviceType.h"
#include "platform/flutter/CodecValue.h"

namespace harkwell {

// One audio source as listed to the UI and passed back to listen/unlisten.
// On the wire: [name, type (integer), id, isDefault].
// Thread affinity: a plain value, any thread.
struct AudioDevice {
  std::string name;
  AudioDeviceType type = AudioDeviceType::input;
  std::string id;
  bool isDefault = false;

  bool operator==(const AudioDevice&) const = default;

  // The list form, in field order. Any thread.
  CodecList toList() const;
  // The record from its list form; nullopt for a protocol violation (short
  // list, null or wrong-kind field, enumeration out of range), with the reason
  // in `error` when given. Elements past the fourth are ignored. Any thread.
  static std::optional<AudioDevice> fromList(const CodecList& list, std::string* error = nullptr);
};

}  // namespace harkwell
