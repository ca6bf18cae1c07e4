
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/ProtocolErrors.h"
#include "fuzz/checks/FuzzChecks.h"
#include "fuzz/checks/FuzzEngine.h"

namespace harkwell::fuzz {

namespace {

using Bytes = std::vector<std::uint8_t>;

// The failure code the reply calls for, nullopt for success; `noList` tells
// that it is channel-error for a reply that is no list (a UI may send that
// code itself).
std::optional<std::string> expectedFailure(const std::optional<Bytes>& reply, bool& noList) {
  noList = true;
  if (!reply) return "channel-error";
  const CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(*reply);
  const CodecList* list = decoded.ok() ? decoded.value->getIf<CodecList>() : nullptr;
  if (list == nullptr) return "channel-error";
  noList = false;
  if (list->size() < 2) return std::nullopt;
  const auto text = [](const CodecValue& value) {
    return value.isNull() || value.is<std::string>();
  };
  const std::string* code = (*list)[0].getIf<std::string>();
  if (list->size() == 2 || code == nullptr || !text((*list)[1]) || !text((*list)[2])) {
    return std::string(protocolError::malformedReply);
  }
  return *code;
}

}  // namespace

FuzzVerdict checkEventReplyInput(FuzzInput input) {
  static BridgeFlutterApi* const api = new BridgeFlutterApi(fuzzEngine().binaryMessenger());
  std::optional<Bytes> reply;
  if (!(input.size() == 1 && input[0] == 0xff)) reply.emplace(input.begin(), input.end());
  fuzzEngine().uiSide().setHandler(api->channelName(),
                                   [reply](Bytes, FlutterBinaryReply answer) { answer(reply); });

  auto log = std::make_shared<LockedLog<Result<void, PigeonError>>>();
  api->onEvent(NativeAudioEvent{"fuzz", AudioDeviceType::output, NativeAudioEventType::deviceStart,
                                std::nullopt, std::nullopt},
               [log](Result<void, PigeonError> result) { log->add(std::move(result)); });
  if (auto verdict = pumpUntil([&] { return !log->items().empty(); }, "the completion")) {
    return verdict;
  }
  if (auto verdict = settle()) return verdict;
  const auto results = log->items();
  if (results.size() != 1) return "the completion ran " + std::to_string(results.size()) + " times";

  bool noList = false;
  const std::optional<std::string> expected = expectedFailure(reply, noList);
  const Result<void, PigeonError>& result = results.front();
  if (!expected) {
    return result.ok() ? std::nullopt
                       : FuzzVerdict("a success reply failed: " + result.error().code());
  }
  if (result.ok() || result.error().code() != *expected) {
    return "expected failure " + *expected + ", got " +
           (result.ok() ? "success" : result.error().code());
  }
  const std::optional<CodecValue>& details = result.error().details();
  if (noList &&
      !(details && details->getIf<std::string>() && details->getIf<std::string>()->empty())) {
    return "a channel-error without empty-string details";
  }
  return std::nullopt;
}

}  // namespace harkwell::fuzz
