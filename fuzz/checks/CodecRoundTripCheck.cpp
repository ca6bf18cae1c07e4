#include "fuzz/checks/CodecRoundTripCheck.h"

#include <exception>
#include <string>
#include <vector>

#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"

namespace harkwell::fuzz {

namespace {

// Runs `step`, storing its result in `out`; a verdict naming `what` when it
// throws. Decoding is the untrusted step (it must report, never throw), and a
// decoded value holds only what this codec's reader builds, so its writer must
// be able to write all of it.
template <class Out, class Step>
FuzzVerdict withoutThrowing(const char* what, Out& out, Step step) {
  try {
    out = step();
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
  CodecDecodeResult decoded, again;
  std::vector<std::uint8_t> first, second;
  if (auto verdict = withoutThrowing("decode", decoded, [&] { return codec.decode(input); })) {
    return verdict;
  }
  if (!decoded.ok()) {
    if (decoded.error.empty()) return "a failed decode gave no reason";
    return std::nullopt;
  }
  if (auto verdict = withoutThrowing("encoding a decoded value", first,
                                     [&] { return codec.encode(*decoded.value); })) {
    return verdict;
  }
  if (auto verdict =
          withoutThrowing("decoding an encoding", again, [&] { return codec.decode(first); })) {
    return verdict;
  }
  if (!again.ok()) return "the codec's own encoding does not decode: " + again.error;
  if (auto verdict =
          withoutThrowing("re-encoding", second, [&] { return codec.encode(*again.value); })) {
    return verdict;
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
