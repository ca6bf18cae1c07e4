#include "bridge/BridgeFlutterApi.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/NilOrValue.h"
#include "bridge/ProtocolErrors.h"
#include "bridge/WireJson.h"
#include "platform/dispatch/LogLine.h"
#include "platform/flutter/FlutterBasicMessageChannel.h"

namespace harkwell {

namespace {

void logBridgeDiagnostic(const std::string& text) {
  writeDiagnostic("bridge: " + text);
}

PigeonError malformedReply(const std::string& channelName, const std::string& what,
                           const CodecList& reply) {
  return PigeonError(std::string(protocolError::malformedReply),
                     "Malformed error reply on channel '" + channelName + "': " + what + ".",
                     CodecValue(reply));
}

// Reads a string-or-null element of an error reply; false for any other kind.
bool readOptionalText(const CodecValue& element, std::optional<std::string>& text) {
  try {
    text = nilOrValue<std::string>(element);
    return true;
  } catch (const std::invalid_argument&) {
    return false;
  }
}

Result<void, PigeonError> readEventReply(const std::optional<CodecValue>& reply,
                                         const std::string& channelName) {
  const CodecList* list = reply.has_value() ? reply->getIf<CodecList>() : nullptr;
  if (list == nullptr)
    return Result<void, PigeonError>::failure(createConnectionError(channelName));
  if (list->size() < 2) return Result<void, PigeonError>::success();

  // An error reply. Anything but [string, string-or-null, string-or-null, …]
  // is the UI breaking the protocol; the delivery still fails, with a reason.
  using Failure = Result<void, PigeonError>;
  if (list->size() == 2) {
    return Failure::failure(malformedReply(channelName, "it has 2 elements, not 3", *list));
  }
  const std::string* code = (*list)[0].getIf<std::string>();
  if (code == nullptr) {
    return Failure::failure(malformedReply(
        channelName, "its code is " + std::string(wireTypeName((*list)[0])) + ", not a string",
        *list));
  }
  std::optional<std::string> message;
  if (!readOptionalText((*list)[1], message)) {
    return Failure::failure(malformedReply(
        channelName,
        "its message is " + std::string(wireTypeName((*list)[1])) + ", not a string or null",
        *list));
  }
  std::optional<std::string> details;
  if (!readOptionalText((*list)[2], details)) {
    return Failure::failure(malformedReply(
        channelName,
        "its details are " + std::string(wireTypeName((*list)[2])) + ", not a string or null",
        *list));
  }
  std::optional<CodecValue> detailsValue;
  if (details.has_value()) detailsValue = CodecValue(std::move(*details));
  return Failure::failure(PigeonError(*code, std::move(message), std::move(detailsValue)));
}

std::shared_ptr<const std::string> joinedChannelName(const std::string& suffix) {
  std::string name(BridgeFlutterApi::channelPrefix);
  if (!suffix.empty()) name += "." + suffix;
  return std::make_shared<const std::string>(std::move(name));
}

}  // namespace

PigeonError createConnectionError(std::string_view channelName) {
  return PigeonError(
      "channel-error",
      "Unable to establish connection on channel: '" + std::string(channelName) + "'.",
      CodecValue(std::string()));
}

BridgeFlutterApi::BridgeFlutterApi(FlutterBinaryMessenger& binaryMessenger,
                                   const std::string& messageChannelSuffix)
    : binaryMessenger_(binaryMessenger), channelName_(joinedChannelName(messageChannelSuffix)) {}

const FlutterMessageCodec& BridgeFlutterApi::codec() {
  return BridgeFlutterApiCodec::shared();
}

void BridgeFlutterApi::onEvent(NativeAudioEvent event, EventCompletion completion) {
  sendEvent(event, std::move(completion));
}

void BridgeFlutterApi::sendEvent(const NativeAudioEvent& event, EventCompletion completion) {
  // Called on capture queues: nothing may be thrown back at them.
  try {
    FlutterReply onReply;
    if (completion) {
      onReply = [channelName = channelName_,
                 completion = std::move(completion)](std::optional<CodecValue> reply) {
        // Wherever the messenger delivers the reply (the main thread); the
        // completion is the sender's, and what it throws stops here.
        try {
          completion(readEventReply(reply, *channelName));
        } catch (const std::exception& error) {
          logBridgeDiagnostic("an event completion threw: " + std::string(error.what()));
        } catch (...) {
          logBridgeDiagnostic("an event completion threw");
        }
      };
    }
    // The message [event] is encoded from the event itself: no list, no
    // boxed value, one allocation for the bytes.
    std::vector<std::uint8_t> encoded;
    try {
      encoded = BridgeFlutterApiCodec::shared().encodeEventMessage(event);
    } catch (const std::exception& error) {
      logBridgeDiagnostic("cannot encode an event on " + *channelName_ + ": " + error.what());
      // The completion still runs once, as for a message nobody answered.
      FlutterBasicMessageChannel::answerUnsent(std::move(onReply));
      return;
    }
    // The channel shares the stored name: a channel per event, no copy of it.
    FlutterBasicMessageChannel(channelName_, binaryMessenger_, codec())
        .sendEncodedMessage(std::move(encoded), std::move(onReply));
  } catch (const std::exception& error) {
    logBridgeDiagnostic("cannot send an event on " + *channelName_ + ": " + error.what());
  }
}

}  // namespace harkwell
