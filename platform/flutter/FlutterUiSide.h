#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/flutter/FlutterBinaryMessenger.h"

class FlutterMessageRouter;

// The engine's UI end of the channels, where the UI program (the console UI,
// or a test driver) speaks encoded bytes, as a Dart UI would. It mirrors the
// host's messenger: sends reach host handlers on the main thread, and the UI's
// own handlers and reply callbacks run on the UI thread. As a
// FlutterBinaryMessenger it lets channels be used from the UI side too.
// Thread affinity: every method from any thread; handlers, reply callbacks and
// posted work run on the UI thread.
class FlutterUiSide final : public FlutterBinaryMessenger {
 public:
  // `router` must outlive this object (the engine owns both).
  explicit FlutterUiSide(FlutterMessageRouter& router);

  FlutterUiSide(const FlutterUiSide&) = delete;
  FlutterUiSide& operator=(const FlutterUiSide&) = delete;

  // Sends `message` to the host's handler for `channel`; `replyCallback` (may be
  // empty) runs once on the UI thread with the host's reply, or with nullopt
  // when the host handles nothing there. Any thread.
  void sendToHost(const std::string& channel, std::vector<std::uint8_t> message,
                  FlutterBinaryReply replyCallback);

  // Installs the UI's handler for host messages on `channel`, replacing any
  // earlier one; an empty handler removes it. Any thread.
  void setHandler(const std::string& channel, FlutterBinaryMessageHandler handler);

  // Runs `work` on the UI thread, after what is already queued there. For a UI
  // program that waits for input on a thread of its own. Any thread.
  void post(std::function<void()> work);

  // True on the UI thread. Any thread.
  bool isUiThread() const;

  // Same as sendToHost. Any thread.
  void sendOnChannel(const std::string& channel, std::vector<std::uint8_t> message,
                     FlutterBinaryReply callback) override;

  // Same as setHandler. Any thread.
  void setMessageHandlerOnChannel(const std::string& channel,
                                  FlutterBinaryMessageHandler handler) override;

 private:
  FlutterMessageRouter& router_;
};
