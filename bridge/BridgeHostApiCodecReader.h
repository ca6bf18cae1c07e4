#pragma once

#include <cstdint>

#include "platform/flutter/FlutterStandardReader.h"

namespace harkwell {

// Reads the host API's records: 128 and 129 as AudioDevice, 130 as
// AudioPermission, at any depth; every other type byte goes to the standard
// reader. A record code not followed by a well-formed record list fails the
// message (FlutterCodecError).
// Thread affinity: one reader per message, on the decoding thread.
class BridgeHostApiCodecReader : public FlutterStandardReader {
 public:
  using FlutterStandardReader::FlutterStandardReader;

  // Any thread.
  CodecValue readValueOfType(std::uint8_t type) override;
};

}  // namespace harkwell
