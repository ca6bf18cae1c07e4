#pragma once

#include <stdexcept>
#include <string>

// Raised inside the standard codec's reader and writer when a message cannot be
// read (truncated, unknown type byte, oversized claim, too deep) or a value
// cannot be written (a custom value no writer handles, a container larger than
// the wire's 32-bit sizes). FlutterStandardMessageCodec::decode turns it into a
// failed CodecDecodeResult; encode lets it through to the caller.
// Thread affinity: a plain value, any thread.
class FlutterCodecError : public std::runtime_error {
 public:
  explicit FlutterCodecError(const std::string& what) : std::runtime_error(what) {}
};
