#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bridge/AudioDeviceType.h"
#include "bridge/NativeAudioEventType.h"
#include "platform/flutter/CodecValue.h"

namespace harkwell {

// One event pushed from the host to the UI. On the wire:
// [id, type (integer), eventType (integer), audioData (list of doubles, or
// null), error (string or null)].
// Thread affinity: a plain value, any thread.
struct NativeAudioEvent {
  std::string id;
  AudioDeviceType type = AudioDeviceType::input;
  NativeAudioEventType eventType = NativeAudioEventType::serviceStart;
  // Mono float samples at 16000 Hz in deviceAudioData events. Contiguous, so an
  // event costs one allocation for its samples, not one per sample.
  std::optional<std::vector<std::optional<double>>> audioData;
  std::optional<std::string> error;  // on deviceStop: why a capture ended by itself

  bool operator==(const NativeAudioEvent&) const = default;

  // The list form, in field order; audioData becomes a generic list of
  // doubles. The event codec writes the same bytes without building it. Any
  // thread.
  CodecList toList() const;
  // The record from its list form; nullopt for a protocol violation, with the
  // reason in `error` when given. Extra elements are ignored. Any thread.
  static std::optional<NativeAudioEvent> fromList(const CodecList& list,
                                                  std::string* error = nullptr);
};

}  // namespace harkwell
