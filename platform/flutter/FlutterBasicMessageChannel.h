#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/flutter/CodecValue.h"
#include "platform/flutter/FlutterBinaryMessenger.h"
#include "platform/flutter/FlutterMessageCodec.h"

// Answers one incoming message with a value, encoded with the channel's codec.
// The first call counts; later calls are ignored and logged.
using FlutterMessageReply = std::function<void(const CodecValue& reply)>;

// Handles one incoming message. `message` is the decoded message, or nullopt
// when its bytes did not decode (the reason is logged); the handler should
// still answer, for instance with an error reply.
using FlutterMessageHandler =
    std::function<void(std::optional<CodecValue> message, FlutterMessageReply reply)>;

// Receives the other side's decoded reply: nullopt when nobody handled the
// channel or the reply did not decode (the reason is logged), CodecNull for a
// null or empty reply.
using FlutterReply = std::function<void(std::optional<CodecValue> reply)>;

// A named channel on a binary messenger, carrying values through a codec. The
// channel object is a light handle: a handler it installs stays with the
// messenger after the channel is dropped, and a reply to sendMessage arrives
// even if the channel is already gone.
// Thread affinity: any thread; handlers and reply callbacks run where the
// messenger delivers them (the main thread for the engine's host messenger).
class FlutterBasicMessageChannel {
 public:
  // `messenger` must outlive the channel; `codec` must outlive every handler
  // and reply this channel registers (the shared codecs live for the process).
  FlutterBasicMessageChannel(std::string name, FlutterBinaryMessenger& messenger,
                             const FlutterMessageCodec& codec);

  // The same, sharing `name` (not null) instead of copying it: for senders that
  // make a channel per message.
  FlutterBasicMessageChannel(std::shared_ptr<const std::string> name,
                             FlutterBinaryMessenger& messenger, const FlutterMessageCodec& codec);

  // Installs `handler` for this channel's name, replacing any earlier one; an
  // empty handler removes it. Any thread.
  void setMessageHandler(FlutterMessageHandler handler);

  // Encodes `message` and sends it; `callback` (may be empty) runs once with
  // the decoded reply. A message the codec cannot encode is not sent, is logged,
  // and its callback gets nullopt on the main thread. Any thread.
  void sendMessage(const CodecValue& message, FlutterReply callback = {});

  // Sends `encoded`, bytes this channel's codec made (sendMessage after the
  // encoding): for a sender that encodes its message without building a value
  // first. `callback` is handled as by sendMessage. Any thread.
  void sendEncodedMessage(std::vector<std::uint8_t> encoded, FlutterReply callback = {});

  // For a message that could not be encoded: runs `callback` (may be empty)
  // with nullopt on the main thread, as sendMessage does. Any thread.
  static void answerUnsent(FlutterReply callback);

  const std::string& name() const { return *name_; }

 private:
  std::shared_ptr<const std::string> name_;
  FlutterBinaryMessenger& messenger_;
  const FlutterMessageCodec& codec_;
};
