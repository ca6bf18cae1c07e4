#include "platform/flutter/FlutterBasicMessageChannel.h"

#include <exception>
#include <utility>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/flutter/FlutterDiagnostics.h"

FlutterBasicMessageChannel::FlutterBasicMessageChannel(std::string name,
                                                       FlutterBinaryMessenger& messenger,
                                                       const FlutterMessageCodec& codec)
    : FlutterBasicMessageChannel(std::make_shared<const std::string>(std::move(name)), messenger,
                                 codec) {}

FlutterBasicMessageChannel::FlutterBasicMessageChannel(std::shared_ptr<const std::string> name,
                                                       FlutterBinaryMessenger& messenger,
                                                       const FlutterMessageCodec& codec)
    : name_(std::move(name)), messenger_(messenger), codec_(codec) {}

void FlutterBasicMessageChannel::setMessageHandler(FlutterMessageHandler handler) {
  if (!handler) {
    messenger_.setMessageHandlerOnChannel(*name_, {});
    return;
  }
  // The installed closure outlives this object, so it holds what it needs
  // itself: the codec (process-lived) and the name, for diagnostics.
  messenger_.setMessageHandlerOnChannel(
      *name_, [codec = &codec_, name = name_, handler = std::move(handler)](
                  std::vector<std::uint8_t> message, FlutterBinaryReply binaryReply) {
        // Replies may come from any thread, so an encoding failure is turned
        // into a null reply here rather than thrown into the caller.
        FlutterMessageReply reply = [codec, binaryReply =
                                                std::move(binaryReply)](const CodecValue& value) {
          std::optional<std::vector<std::uint8_t>> encoded;
          try {
            encoded = codec->encode(value);
          } catch (const std::exception& error) {
            logFlutterDiagnostic(std::string("cannot encode reply: ") + error.what());
          }
          binaryReply(std::move(encoded));
        };
        CodecDecodeResult decoded = codec->decode(message);
        if (!decoded.ok()) {
          logFlutterDiagnostic("undecodable message on channel " + *name + ": " + decoded.error);
        }
        handler(std::move(decoded.value), std::move(reply));
      });
}

void FlutterBasicMessageChannel::sendMessage(const CodecValue& message, FlutterReply callback) {
  std::vector<std::uint8_t> encoded;
  try {
    encoded = codec_.encode(message);
  } catch (const std::exception& error) {
    logFlutterDiagnostic("cannot encode message on channel " + *name_ + ": " + error.what());
    // Callers rely on their callback running once, on the main thread as a
    // reply would; they may be on a capture queue that must not see a throw.
    answerUnsent(std::move(callback));
    return;
  }
  sendEncodedMessage(std::move(encoded), std::move(callback));
}

void FlutterBasicMessageChannel::answerUnsent(FlutterReply callback) {
  if (callback)
    DispatchQueue::main().async([callback = std::move(callback)] { callback(std::nullopt); });
}

void FlutterBasicMessageChannel::sendEncodedMessage(std::vector<std::uint8_t> encoded,
                                                    FlutterReply callback) {
  if (!callback) {
    messenger_.sendOnNamedChannel(name_, std::move(encoded), {});
    return;
  }
  // The reply is decoded where it is delivered; the closure holds no reference
  // to this channel, which is often dropped right after the send.
  messenger_.sendOnNamedChannel(name_, std::move(encoded),
                                [codec = &codec_, callback = std::move(callback)](
                                    std::optional<std::vector<std::uint8_t>> reply) {
                                  if (!reply) {
                                    callback(std::nullopt);
                                    return;
                                  }
                                  CodecDecodeResult decoded = codec->decode(*reply);
                                  if (!decoded.ok())
                                    logFlutterDiagnostic("undecodable reply: " + decoded.error);
                                  callback(std::move(decoded.value));
                                });
}
