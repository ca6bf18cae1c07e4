#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/dispatch/CallbackGate.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"
#include "platform/flutter/FlutterBinaryMessenger.h"

// The two ends of an engine's channels: the host (served by the main queue)
// and the UI (served by the engine's UI queue).
enum class FlutterSide { host, ui };

// Carries encoded messages between the host side and the UI side of one engine:
// a message is handled on the receiving side's thread by that side's handler for
// the channel, and its reply comes back on the sending side's thread exactly
// once. Without a handler the reply is nullopt. After close() nothing more runs:
// queued messages and replies are dropped, their callbacks destroyed uncalled.
// Thread affinity: any thread; handlers and callbacks run on their side's thread.
class FlutterMessageRouter : public std::enable_shared_from_this<FlutterMessageRouter> {
 public:
  // `uiQueue` serves the UI side; the router keeps it until close(). Any thread.
  static std::shared_ptr<FlutterMessageRouter> create(std::shared_ptr<DispatchQueue> uiQueue);

  FlutterMessageRouter(const FlutterMessageRouter&) = delete;
  FlutterMessageRouter& operator=(const FlutterMessageRouter&) = delete;

  // Installs `side`'s handler for `channel`; an empty handler removes it. Ignored
  // after close(). Any thread.
  void setHandler(FlutterSide side, const std::string& channel,
                  FlutterBinaryMessageHandler handler);

  // Delivers `message` to the handler of side `to`; `callback` (may be empty)
  // gets the reply on the other side's thread. Messages from one thread to one
  // side arrive in the order sent. Any thread.
  void send(FlutterSide to, const std::string& channel, std::vector<std::uint8_t> message,
            FlutterBinaryReply callback);
  // The same, sharing the channel's name (not null) instead of copying it. Any thread.
  void send(FlutterSide to, std::shared_ptr<const std::string> channel,
            std::vector<std::uint8_t> message, FlutterBinaryReply callback);

  // Runs `work` on `side`'s thread unless closed first; an exception it throws
  // is logged and dropped. Any thread.
  void post(FlutterSide side, std::function<void()> work);

  // True on the thread that serves `side` right now. Any thread.
  bool isCurrent(FlutterSide side) const;

  // Stops all delivery and waits for handlers and callbacks running on other
  // threads to return. Handlers, and normally the UI queue, are destroyed on
  // the calling thread. Any thread but the UI side's.
  void close();

 private:
  class PendingReply;
  using HandlerTable =
      std::unordered_map<std::string, std::shared_ptr<const FlutterBinaryMessageHandler>>;

  explicit FlutterMessageRouter(std::shared_ptr<DispatchQueue> uiQueue);

  // Runs body(router) on `side`'s thread; see the .cpp.
  template <class Body>
  void dispatch(FlutterSide side, Body body);
  void deliver(FlutterSide to, std::shared_ptr<const std::string> channel,
               std::vector<std::uint8_t> message, FlutterBinaryReply callback);
  std::shared_ptr<const FlutterBinaryMessageHandler> findHandler(FlutterSide side,
                                                                 const std::string& channel);
  HandlerTable& table(FlutterSide side) REQUIRES(mutex_);
  std::shared_ptr<DispatchQueue> uiQueue() const;

  harkwell::CallbackGate gate_;
  mutable Mutex mutex_;
  std::shared_ptr<DispatchQueue> uiQueue_ GUARDED_BY(mutex_);  // null once closed
  HandlerTable hostHandlers_ GUARDED_BY(mutex_);
  HandlerTable uiHandlers_ GUARDED_BY(mutex_);
};
