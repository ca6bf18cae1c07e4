#pragma once

#include <cstdint>

#include "platform/flutter/FlutterStandardReader.h"

namespace harkwell {

// Reads the event API's record, NativeAudioEvent as 128, at any depth; every
// other type byte goes to the standard reader. A code 128 not followed by a
// well-formed event list fails the message (FlutterCodecError).
// Thread affinity: one reader per message, on the decoding thread.
class BridgeFlutterApiCodecReader : public FlutterStandardReader {
 public:
  using FlutterStandardReader::FlutterStandardReader;

  // Any thread.
  CodecValue readValueOfType(std::uint8_t type) override;
};

}  // namespace harkwell
