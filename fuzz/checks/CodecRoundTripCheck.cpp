#include "fuzz/checks/CodecRoundTripCheck.h"

#include <exception>
#include <string>
#include <vector>

#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"

namespace harkwell::fuzz {

namespace {

// Decoding is the untrusted step: it must report, never throw.
FuzzVerdict decodeWithoutThrowing(const FlutterMessageCodec& codec,
                                  std::span<const std::uint8_t> bytes, CodecDecodeResult& result,
                                  const char* what) {
  try {
    result = codec.decode(bytes);
  } catch (const std::exception& error) {
    return std::string(what) + " threw: " + error.what();
  } catch (...) {
    return std::string(what) + " threw a non-standard exception";
  }
  return std::nullopt;
}

}  // namespace

FuzzVerdict checkCodecRoundTrip(const FlutterMessageCodec& codec,
                                std::span<const std::uint8_t> input) {
  CodecDecodeResult decoded;
  if (auto verdict = decodeWithoutThrowing(codec, input, decoded, "decode")) return verdict;
  if (!decoded.ok()) {
    if (decoded.error.empty()) return "a failed decode gave no reason";
    return std::nullopt;
  }

  // A decoded value holds only what this codec's reader builds, so its writer
  // must be able to write all of it.
  std::vector<std::uint8_t> first;
  try {
    first = codec.encode(*decoded.value);
  } catch (const std::exception& error) {
    return std::string("encoding a decoded value threw: ") + error.what();
  }

  CodecDecodeResult again;
  if (auto verdict = decodeWithoutThrowing(codec, first, again, "decoding an encoding")) {
    return verdict;
  }
  if (!again.ok()) return "the codec's own encoding does not decode: " + again.error;

  std::vector<std::uint8_t> second;
  try {
    second = codec.encode(*again.value);
  } catch (const std::exception& error) {
    return std::string("re-encoding threw: ") + error.what();
  }
  if (second != first) return "encoding is not stable across a round trip";
  return std::nullopt;
}

FuzzVerdict checkStandardCodecInput(std::span<const std::uint8_t> input) {
  return checkCodecRoundTrip(FlutterStandardMessageCodec::sharedInstance(), input);
}

FuzzVerdict checkHostCodecInput(std::span<const std::uint8_t> input) {
  return checkCodecRoundTrip(BridgeHostApiCodec::shared(), input);
}

FuzzVerdict checkEventCodecInput(std::span<const std::uint8_t> input) {
  return checkCodecRoundTrip(BridgeFlutterApiCodec::shared(), input);
}

}  // namespace harkwell::fuzz
