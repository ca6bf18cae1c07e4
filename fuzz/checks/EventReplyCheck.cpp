
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/ProtocolErrors.h"
#include "fuzz/checks/FuzzChecks.h"
#include "fuzz/checks/FuzzEngine.h"

namespace harkwell::fuzz {

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string noListOutcome = "channel-error with empty-string details";

// The outcome the reply calls for: "" for success, else the error code, and
// noListOutcome for a reply that is no list (a UI may send that code itself).
std::string expectedOutcome(const std::optional<Bytes>& reply) {
  const CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(reply.value_or(Bytes{}));
  const CodecList* list = decoded.ok() ? decoded.value->getIf<CodecList>() : nullptr;
  if (list == nullptr) return noListOutcome;
  if (list->size() < 2) return "";
  const auto text = [](const CodecValue& v) { return v.isNull() || v.is<std::string>(); };
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
  if (auto verdict = pumpUntil([&] { return !log->items().empty(); }, "completion")) return verdict;
  if (auto verdict = settle()) return verdict;
  const auto results = log->items();
  if (results.size() != 1) return "the completion ran " + std::to_string(results.size()) + " times";

  const std::string expected = expectedOutcome(reply);
  const Result<void, PigeonError>& result = results.front();
  std::string outcome = result.ok() ? "" : result.error().code();
  if (expected == noListOutcome && !result.ok() && result.error().details() == CodecValue("")) {
    outcome = noListOutcome;
  }
  if (outcome != expected) return "expected '" + expected + "', got '" + outcome + "'";
  return std::nullopt;
}

}  // namespace harkwell::fuzz
