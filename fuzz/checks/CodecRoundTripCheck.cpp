
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "fuzz/checks/FuzzChecks.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"

namespace harkwell::fuzz {

namespace {

// Decoding is the untrusted step: it must report, never throw (an exception
// ends the fuzzer and fails the replay test). A decoded value holds only what
// this codec's reader builds, so its writer must be able to write all of it.
FuzzVerdict checkRoundTrip(const FlutterMessageCodec& codec, FuzzInput input) {
  const CodecDecodeResult decoded = codec.decode(input);
  if (!decoded.ok()) {
    return decoded.error.empty() ? FuzzVerdict("a failed decode gave no reason") : std::nullopt;
  }
  const std::vector<std::uint8_t> first = codec.encode(*decoded.value);
  const CodecDecodeResult again = codec.decode(first);
  if (!again.ok()) return "the codec's own encoding does not decode: " + again.error;
  if (codec.encode(*again.value) != first) return "encoding is not stable across a round trip";
  return std::nullopt;
}

}  // namespace

FuzzVerdict checkStandardCodecInput(FuzzInput input) {
  return checkRoundTrip(FlutterStandardMessageCodec::sharedInstance(), input);
}

FuzzVerdict checkHostCodecInput(FuzzInput input) {
  return checkRoundTrip(BridgeHostApiCodec::shared(), input);
}

FuzzVerdict checkEventCodecInput(FuzzInput input) {
  return checkRoundTrip(BridgeFlutterApiCodec::shared(), input);
}

}  // namespace harkwell::fuzz
