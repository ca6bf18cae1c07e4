#include "ui/ConsoleChannels.h"

#include <utility>

#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "bridge/BridgeHostApiSetup.h"
#include "bridge/WireJson.h"

namespace harkwell {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The answer to an event that was read: [null].
CodecValue handledAnswer() {
  return CodecList{CodecNull{}};
}

const FlutterMessageCodec& codecFor(bool eventCodec) {
  if (eventCodec) return BridgeFlutterApiCodec::shared();
  return BridgeHostApiCodec::shared();
}

std::string hexOf(const Bytes& bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    hex += digits[byte >> 4];
    hex += digits[byte & 0xf];
  }
  return hex;
}

// A reply as the generated Dart code reads it: [value] is success, [code,
// message, details] an error.
HostCallResult interpretReply(const std::string& channel, const std::optional<Bytes>& bytes) {
  HostCallResult result;
  if (!bytes) {
    result.error = "the host does not answer on " + channel;
    return result;
  }
  CodecDecodeResult decoded = BridgeHostApiCodec::shared().decode(*bytes);
  if (!decoded.ok()) {
    result.error = "the host's reply on " + channel + " does not decode: " + decoded.error;
    return result;
  }
  const CodecList* list = decoded.value->getIf<CodecList>();
  if (list == nullptr || list->empty()) {
    result.error = "the host's reply on " + channel + " is not a reply list";
    return result;
  }
  if (list->size() == 1) {
    result.value = (*list)[0];
    return result;
  }
  const std::string* code = (*list)[0].getIf<std::string>();
  const std::string* message = (*list)[1].getIf<std::string>();
  result.error = "the host answered " + channel + " with the error " +
                 (code != nullptr ? *code : std::string("(no code)"));
  if (message != nullptr) result.error += ": " + *message;
  return result;
}

}  // namespace

ConsoleChannels::ConsoleChannels(FlutterUiSide& ui, ConsoleOutput& output, bool trace)
    : ui_(ui),
      output_(output),
      trace_(trace),
      handledReply_(BridgeFlutterApiCodec::shared().encode(handledAnswer())) {}

void ConsoleChannels::call(std::string_view operation, CodecValue message, CallDone done) {
  const std::string channel = BridgeHostApiSetup::channelName(operation);
  Bytes bytes;
  try {
    bytes = BridgeHostApiCodec::shared().encode(message);
  } catch (const std::exception& error) {
    // Only a value no codec can express gets here: a fault of the UI itself.
    done(
        HostCallResult{std::nullopt, "cannot encode the call on " + channel + ": " + error.what()});
    return;
  }
  if (trace_) trace("ui→host", channel, formatWireJson(message));
  // `this` outlives the call (see the constructor); the reply arrives on the UI thread.
  ui_.sendToHost(channel, std::move(bytes),
                 [this, channel, done = std::move(done)](std::optional<Bytes> reply) {
                   if (trace_) traceBytes("host→ui reply", channel, reply, false);
                   done(interpretReply(channel, reply));
                 });
}

void ConsoleChannels::setEventHandler(EventHandler handler) {
  // The event channel without a suffix, as the host's BridgeFlutterApi is made.
  const std::string channel(BridgeFlutterApi::channelPrefix);
  ui_.setHandler(channel, [this, channel, handler = std::move(handler)](Bytes message,
                                                                        FlutterBinaryReply reply) {
    if (trace_) traceBytes("host→ui", channel, message, true);
    CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(message);
    const NativeAudioEvent* event = nullptr;
    std::string problem;
    if (!decoded.ok()) {
      problem = decoded.error;
    } else if (const CodecList* list = decoded.value->getIf<CodecList>();
               list == nullptr || list->empty()) {
      problem = "the message is not a list of one event";
    } else {
      event = (*list)[0].custom<NativeAudioEvent>();
      if (event == nullptr) problem = "element 0 is not a NativeAudioEvent";
    }
    // As the generated Dart handler: [null] when handled, an error reply when
    // the message cannot be read.
    if (event == nullptr) {
      output_.line("harkwell: ignoring an event that cannot be read: " + problem);
      const CodecValue answer =
          CodecList{CodecValue("malformed-event"), CodecValue(problem), CodecNull{}};
      if (trace_) trace("ui→host reply", channel, formatWireJson(answer));
      reply(BridgeFlutterApiCodec::shared().encode(answer));
      return;
    }
    if (trace_) trace("ui→host reply", channel, formatWireJson(handledAnswer()));
    reply(handledReply_);
    if (handler) handler(*event);
  });
}

void ConsoleChannels::trace(std::string_view direction, std::string_view channel,
                            std::string_view text) {
  std::string line = "trace ";
  line += direction;
  line += ' ';
  line += channel;
  line += ' ';
  line += text;
  output_.line(line);
}

void ConsoleChannels::traceBytes(std::string_view direction, std::string_view channel,
                                 const std::optional<Bytes>& bytes, bool eventCodec) {
  if (!bytes) {
    trace(direction, channel, "(no reply: nobody handles the channel)");
    return;
  }
  CodecDecodeResult decoded = codecFor(eventCodec).decode(*bytes);
  if (decoded.ok()) {
    trace(direction, channel, formatWireJson(*decoded.value));
  } else {
    trace(direction, channel, "undecodable bytes " + hexOf(*bytes) + " (" + decoded.error + ")");
  }
}

}  // namespace harkwell
