#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/flutter/CodecValue.h"

// Outcome of decoding one whole message: a value, or the reason it failed.
// A zero-length message decodes to CodecNull (not a failure).
struct CodecDecodeResult {
  std::optional<CodecValue> value;  // set on success
  std::string error;                // set on failure: short, factual, names the offset

  bool ok() const { return value.has_value(); }
};

// Encodes and decodes whole channel messages. Implementations keep no
// per-message state, so one instance serves every thread.
class FlutterMessageCodec {
 public:
  virtual ~FlutterMessageCodec() = default;
  virtual std::vector<std::uint8_t> encode(const CodecValue& message) const = 0;
  virtual CodecDecodeResult decode(std::span<const std::uint8_t> message) const = 0;
};
