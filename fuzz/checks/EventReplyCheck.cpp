#include "fuzz/checks/EventReplyCheck.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/ProtocolErrors.h"
#include "fuzz/checks/LockedLog.h"
#include "fuzz/checks/QuiescentEngine.h"

namespace harkwell::fuzz {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t noReplyMarker = 0xff;

const std::string channelError = "channel-error";

// The outcome the reply calls for: nullopt for success, else the error code
// (channelError only when the reply is no list: a UI may send that code itself).
std::optional<std::string> expectedFailureCode(const std::optional<Bytes>& reply,
                                               bool& connectionError) {
  connectionError = true;
  if (!reply) return channelError;
  const CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(*reply);
  const CodecList* list = decoded.ok() ? decoded.value->getIf<CodecList>() : nullptr;
  if (list == nullptr) return channelError;
  connectionError = false;
  if (list->size() < 2) return std::nullopt;
  const std::string malformed(protocolError::malformedReply);
  if (list->size() == 2) return malformed;
  const auto textOrNull = [](const CodecValue& value) {
    return value.isNull() || value.is<std::string>();
  };
  const std::string* code = (*list)[0].getIf<std::string>();
  if (code == nullptr || !textOrNull((*list)[1]) || !textOrNull((*list)[2])) return malformed;
  return *code;
}

}  // namespace

FuzzVerdict checkEventReplyInput(std::span<const std::uint8_t> input) {
  QuiescentEngine& quiescent = QuiescentEngine::shared();
  static BridgeFlutterApi* const flutterApi =
      new BridgeFlutterApi(quiescent.engine().binaryMessenger());

  std::optional<Bytes> reply;
  if (!(input.size() == 1 && input[0] == noReplyMarker)) reply.emplace(input.begin(), input.end());

  quiescent.engine().uiSide().setHandler(
      flutterApi->channelName(), [reply](Bytes, FlutterBinaryReply answer) { answer(reply); });

  // Completions seen for the event in flight, from whichever thread runs them.
  auto log = std::make_shared<LockedLog<Result<void, PigeonError>>>();
  NativeAudioEvent event{"fuzz", AudioDeviceType::output, NativeAudioEventType::deviceStart,
                         std::nullopt, std::nullopt};
  flutterApi->onEvent(std::move(event),
                      [log](Result<void, PigeonError> result) { log->add(std::move(result)); });

  if (auto verdict = quiescent.pumpUntil([&] { return !log->items().empty(); }, "the completion")) {
    return verdict;
  }
  if (auto verdict = quiescent.settle()) return verdict;
  const auto results = log->items();
  if (results.size() != 1) {
    return "the completion ran " + std::to_string(results.size()) + " times";
  }

  bool connectionError = false;
  const std::optional<std::string> expected = expectedFailureCode(reply, connectionError);
  const Result<void, PigeonError>& result = results.front();
  if (!expected) {
    if (!result.ok()) return "a success reply failed the delivery with " + result.error().code();
    return std::nullopt;
  }
  if (result.ok()) return "a reply that calls for failure " + *expected + " succeeded";
  if (result.error().code() != *expected) {
    return "expected failure " + *expected + ", got " + result.error().code();
  }
  if (connectionError) {
    const std::optional<CodecValue>& details = result.error().details();
    if (!details || details->getIf<std::string>() == nullptr ||
        !details->getIf<std::string>()->empty()) {
      return "a channel-error without empty-string details";
    }
  }
  return std::nullopt;
}

}  // namespace harkwell::fuzz
