#pragma once

#include <optional>
#include <string>

#include "platform/flutter/CodecValue.h"

namespace harkwell {

// Whether the two capture permissions are granted. On the wire: [system, mic].
// Thread affinity: a plain value, any thread.
struct AudioPermission {
  bool system = false;  // screen capture, needed for system audio
  bool mic = false;

  bool operator==(const AudioPermission&) const = default;

  // The list form, in field order. Any thread.
  CodecList toList() const;
  // The record from its list form; nullopt for a protocol violation, with the
  // reason in `error` when given. Extra elements are ignored. Any thread.
  static std::optional<AudioPermission> fromList(const CodecList& list,
                                                 std::string* error = nullptr);
};

}  // namespace harkwell
