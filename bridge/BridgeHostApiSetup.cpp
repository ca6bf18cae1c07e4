#include "bridge/BridgeHostApiSetup.h"

#include <atomic>
#include <exception>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "bridge/BridgeHostApiCodec.h"
#include "bridge/ProtocolErrors.h"
#include "bridge/WireJson.h"
#include "bridge/WrapError.h"
#include "platform/dispatch/LogLine.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"
#include "platform/flutter/FlutterStandardReader.h"
#include "platform/flutter/FlutterStandardReaderWriter.h"

namespace harkwell {

namespace {

using ChannelName = std::shared_ptr<const std::string>;

void logBridgeDiagnostic(const std::string& text) {
  writeDiagnostic("bridge: " + text);
}

// A message that breaks the contract of its channel; answered with an error
// reply, the api is not called.
struct ProtocolViolation {
  std::string_view code;
  std::string message;
};

// Reads the host codec's record codes as opaque values. Used only after a
// message failed to decode, to tell a broken record (the bytes around it are
// fine) from bytes that are broken as such.
class OpaqueRecordReader final : public FlutterStandardReader {
 public:
  using FlutterStandardReader::FlutterStandardReader;

  CodecValue readValueOfType(std::uint8_t type) override {
    if (type >= 128 && type <= 130) {
      readValue();
      return CodecNull{};
    }
    return FlutterStandardReader::readValueOfType(type);
  }
};

class OpaqueRecordReaderWriter final : public FlutterStandardReaderWriter {
 public:
  std::unique_ptr<FlutterStandardReader> readerWithData(
      std::span<const std::uint8_t> data) const override {
    return std::make_unique<OpaqueRecordReader>(data);
  }
};

const FlutterStandardMessageCodec& opaqueRecordCodec() {
  // Never destroyed, like the shared codecs: host channels may still be
  // served while the process exits.
  static const auto* const codec =
      new FlutterStandardMessageCodec(std::make_shared<const OpaqueRecordReaderWriter>());
  return *codec;
}

std::string callPrefix(const std::string& channel) {
  return "Invalid call on channel '" + channel + "': ";
}

// The call's argument list, or the violation that makes it unusable.
CodecList decodeArguments(const std::string& channel, std::span<const std::uint8_t> message) {
  CodecDecodeResult decoded = BridgeHostApiCodec::shared().decode(message);
  if (!decoded.ok()) {
    bool recordAtFault = opaqueRecordCodec().decode(message).ok();
    throw ProtocolViolation{
        recordAtFault ? protocolError::malformedRecord : protocolError::malformedMessage,
        callPrefix(channel) + (recordAtFault ? "malformed record: " : "message does not decode: ") +
            decoded.error + "."};
  }
  if (auto* list = std::get_if<CodecList>(&*decoded.value)) return std::move(*list);
  throw ProtocolViolation{protocolError::invalidMessage,
                          callPrefix(channel) + "the message must be the list of arguments, got " +
                              std::string(wireTypeName(*decoded.value)) + "."};
}

const CodecValue& argument(const CodecList& arguments, std::size_t index, std::string_view name,
                           const std::string& channel) {
  std::string which = "argument " + std::to_string(index) + " (" + std::string(name) + ")";
  if (arguments.size() <= index) {
    throw ProtocolViolation{protocolError::missingArgument,
                            callPrefix(channel) + which + " is missing."};
  }
  const CodecValue& value = arguments[index];
  if (value.isNull()) {
    throw ProtocolViolation{protocolError::nullArgument, callPrefix(channel) + which + " is null."};
  }
  return value;
}

[[noreturn]] void wrongKind(std::size_t index, std::string_view name, std::string_view kind,
                            const CodecValue& value, const std::string& channel) {
  throw ProtocolViolation{protocolError::invalidArgument,
                          callPrefix(channel) + "argument " + std::to_string(index) + " (" +
                              std::string(name) + ") must be " + std::string(kind) + ", got " +
                              std::string(wireTypeName(value)) + "."};
}

AudioDeviceType deviceTypeArgument(const CodecList& arguments, const std::string& channel) {
  constexpr std::string_view kind = "an integer (AudioDeviceType)";
  const CodecValue& value = argument(arguments, 0, "type", channel);
  std::optional<std::int64_t> raw = value.asInteger();
  if (!raw.has_value()) wrongKind(0, "type", kind, value, channel);
  std::optional<AudioDeviceType> type = fromRawValue<AudioDeviceType>(*raw);
  if (!type.has_value()) {
    throw ProtocolViolation{protocolError::invalidEnumValue,
                            callPrefix(channel) + "argument 0 (type) is " + std::to_string(*raw) +
                                ", not an AudioDeviceType (0 or 1)."};
  }
  return *type;
}

const AudioDevice& deviceArgument(const CodecList& arguments, const std::string& channel) {
  constexpr std::string_view kind = "an AudioDevice";
  const CodecValue& value = argument(arguments, 0, "device", channel);
  const AudioDevice* device = value.custom<AudioDevice>();
  if (device == nullptr) wrongKind(0, "device", kind, value, channel);
  return *device;
}

// Answers one host call exactly once, from whichever thread finishes it: the
// handler itself, or a completion the api runs later elsewhere. Should the api
// drop its completion without calling it, the last reference answers with a
// "no-reply" error, so that the UI never waits forever.
class HostCallReply {
 public:
  HostCallReply(ChannelName channel, FlutterBinaryReply reply)
      : channel_(std::move(channel)), reply_(std::move(reply)) {}

  ~HostCallReply() {
    if (!answered_.load()) {
      error(protocolError::noReply,
            "The call on channel '" + *channel_ + "' ended without an answer from the host.");
    }
  }

  HostCallReply(const HostCallReply&) = delete;
  HostCallReply& operator=(const HostCallReply&) = delete;

  void succeed(CodecValue result) noexcept {
    answer([&] { return CodecList{std::move(result)}; });
  }

  void fail(const std::exception_ptr& error) noexcept {
    answer([&] { return wrapError(error); });
  }

  void error(std::string_view code, std::string message) noexcept {
    answer([&] { return CodecList{std::string(code), std::move(message), CodecValue()}; });
  }

 private:
  // `build` makes the reply list; it runs only for the first answer.
  template <class Build>
  void answer(Build build) noexcept {
    // The exchange picks the one answer that counts, whichever thread gets here first.
    if (answered_.exchange(true)) {
      logBridgeDiagnostic("ignored a second answer to a call on channel " + *channel_);
      return;
    }
    std::optional<std::vector<std::uint8_t>> bytes;
    try {
      bytes = BridgeHostApiCodec::shared().encode(build());
    } catch (...) {
      // A result the codec cannot carry still gets an answer: the error of trying.
      try {
        bytes = BridgeHostApiCodec::shared().encode(wrapError(std::current_exception()));
      } catch (...) {
        logBridgeDiagnostic("cannot encode the answer to a call on channel " + *channel_);
      }
    }
    try {
      reply_(std::move(bytes));
    } catch (...) {
      logBridgeDiagnostic("the messenger failed to take the answer on channel " + *channel_);
    }
  }

  ChannelName channel_;
  FlutterBinaryReply reply_;  // called once, by whoever wins answered_
  // Atomic rather than locked: the handler and a completion on another thread
  // may race to answer, and only the winner of the exchange touches reply_.
  std::atomic<bool> answered_{false};
};

using Reply = std::shared_ptr<HostCallReply>;

// Runs one operation: reads its arguments from `arguments`, calls the api and
// answers through `reply` (now or from a completion). Throws ProtocolViolation
// before calling the api when the arguments are unusable.
using Operation = void (*)(BridgeHostApi& api, const CodecList& arguments,
                           const std::string& channel, const Reply& reply);

void getDevices(BridgeHostApi& api, const CodecList& arguments, const std::string& channel,
                const Reply& reply) {
  AudioDeviceType type = deviceTypeArgument(arguments, channel);
  api.getDevices(type, [reply](Result<std::vector<AudioDevice>> result) {
    // Runs on the api's thread of choice; nothing may escape from here.
    try {
      if (!result.ok()) {
        reply->fail(result.error());
        return;
      }
      CodecList devices;
      devices.reserve(result.value().size());
      for (AudioDevice& device : result.value()) {
        devices.emplace_back(CodecCustomValue::make(std::move(device)));
      }
      reply->succeed(std::move(devices));
    } catch (...) {
      reply->fail(std::current_exception());
    }
  });
}

void listen(BridgeHostApi& api, const CodecList& arguments, const std::string& channel,
            const Reply& reply) {
  api.listen(deviceArgument(arguments, channel));
  reply->succeed(CodecNull{});
}

void unlisten(BridgeHostApi& api, const CodecList& arguments, const std::string& channel,
              const Reply& reply) {
  api.unlisten(deviceArgument(arguments, channel));
  reply->succeed(CodecNull{});
}

void checkPermission(BridgeHostApi& api, const CodecList&, const std::string&, const Reply& reply) {
  api.checkPermission([reply](Result<AudioPermission> result) {
    try {
      if (result.ok()) {
        reply->succeed(CodecCustomValue::make(std::move(result).value()));
      } else {
        reply->fail(result.error());
      }
    } catch (...) {
      reply->fail(std::current_exception());
    }
  });
}

void requestPermission(BridgeHostApi& api, const CodecList& arguments, const std::string& channel,
                       const Reply& reply) {
  api.requestPermission(deviceTypeArgument(arguments, channel));
  reply->succeed(CodecNull{});
}

struct OperationEntry {
  std::string_view name;
  Operation run;
  bool readsMessage;
};

// In the order in which the channels are opened.
constexpr OperationEntry operations[] = {
    {"getDevices", &getDevices, true},
    {"listen", &listen, true},
    {"unlisten", &unlisten, true},
    // Its message is ignored whatever it holds, even bytes that do not decode.
    {"checkPermission", &checkPermission, false},
    {"requestPermission", &requestPermission, true},
};

FlutterBinaryMessageHandler makeHandler(ChannelName channel, std::shared_ptr<BridgeHostApi> api,
                                        const OperationEntry& operation) {
  return [channel = std::move(channel), api = std::move(api), run = operation.run,
          readsMessage = operation.readsMessage](std::vector<std::uint8_t> message,
                                                 FlutterBinaryReply binaryReply) {
    // Main thread. Everything the api throws, or that goes wrong reading the
    // message, ends here as an error reply; nothing reaches the messenger.
    Reply reply;
    try {
      reply = std::make_shared<HostCallReply>(channel, std::move(binaryReply));
      CodecList arguments = readsMessage ? decodeArguments(*channel, message) : CodecList{};
      run(*api, arguments, *channel, reply);
    } catch (const ProtocolViolation& violation) {
      reply->error(violation.code, violation.message);
    } catch (...) {
      if (reply != nullptr) {
        reply->fail(std::current_exception());
      } else if (binaryReply) {
        // Out of memory before the call could even be set up: a null reply,
        // which the UI reads as a failed call, is all that is left.
        binaryReply(std::nullopt);
      }
    }
  };
}

}  // namespace

std::string BridgeHostApiSetup::channelName(std::string_view operation,
                                            std::string_view messageChannelSuffix) {
  std::string name(channelPrefix);
  name += operation;
  if (!messageChannelSuffix.empty()) {
    name += '.';
    name += messageChannelSuffix;
  }
  return name;
}

void BridgeHostApiSetup::setUp(FlutterBinaryMessenger& binaryMessenger,
                               std::shared_ptr<BridgeHostApi> api,
                               const std::string& messageChannelSuffix) {
  // The handlers are installed on the messenger directly, with the decoding
  // done here, so that a message that does not decode is answered with the
  // codec's reason rather than a bare failure.
  for (const OperationEntry& operation : operations) {
    auto channel =
        std::make_shared<const std::string>(channelName(operation.name, messageChannelSuffix));
    if (api == nullptr) {
      binaryMessenger.setMessageHandlerOnChannel(*channel, {});
    } else {
      binaryMessenger.setMessageHandlerOnChannel(*channel, makeHandler(channel, api, operation));
    }
  }
}

}  // namespace harkwell
