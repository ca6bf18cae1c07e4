#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Raw reply to a message: nullopt when nobody handled the channel (a null
// reply); otherwise the encoded bytes (zero bytes also decode to null).
using FlutterBinaryReply = std::function<void(std::optional<std::vector<std::uint8_t>> reply)>;

// Handler for messages arriving on a channel. `reply` must be called exactly
// once, possibly later and from any thread.
using FlutterBinaryMessageHandler =
    std::function<void(std::vector<std::uint8_t> message, FlutterBinaryReply reply)>;

// The engine's binary messenger as the host sees it.
// Thread affinity: sendOnChannel from any thread; setMessageHandlerOnChannel
// from any thread. Host handlers run on the main thread; the reply callback of
// a send runs on the main thread.
class FlutterBinaryMessenger {
 public:
  virtual ~FlutterBinaryMessenger() = default;

  // Sends `message` to the UI side on `channel`. `callback` (may be empty) runs
  // once with the UI's reply, or with nullopt when the UI handles nothing there.
  virtual void sendOnChannel(const std::string& channel, std::vector<std::uint8_t> message,
                             FlutterBinaryReply callback) = 0;

  // The same, for a sender that keeps its channel's name (a channel object):
  // a messenger that carries the name along may share it instead of copying
  // it per message. By default forwards to sendOnChannel.
  virtual void sendOnNamedChannel(std::shared_ptr<const std::string> channel,
                                  std::vector<std::uint8_t> message, FlutterBinaryReply callback) {
    sendOnChannel(*channel, std::move(message), std::move(callback));
  }

  // Installs the host's handler for `channel`, replacing any earlier one; an
  // empty handler removes it.
  virtual void setMessageHandlerOnChannel(const std::string& channel,
                                          FlutterBinaryMessageHandler handler) = 0;
};
