#include "platform/flutter/FlutterMessageRouter.h"

#include <atomic>
#include <exception>
#include <optional>
#include <utility>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/flutter/FlutterDiagnostics.h"

namespace {

FlutterSide otherSide(FlutterSide side) {
  return side == FlutterSide::host ? FlutterSide::ui : FlutterSide::host;
}

}  // namespace

// The state behind one reply function: shared by every copy of it, so that the
// first call wins wherever the copies went, and the last copy's destruction can
// answer null for a handler that never replied (the sender would otherwise wait
// forever).
// Thread affinity: any thread.
class FlutterMessageRouter::PendingReply {
 public:
  PendingReply(std::weak_ptr<FlutterMessageRouter> router, FlutterSide replyTo,
               FlutterBinaryReply callback, std::shared_ptr<const std::string> channel)
      : router_(std::move(router)),
        replyTo_(replyTo),
        callback_(std::move(callback)),
        channel_(std::move(channel)) {}

  PendingReply(const PendingReply&) = delete;
  PendingReply& operator=(const PendingReply&) = delete;

  ~PendingReply() {
    if (answered_.exchange(true)) return;
    try {
      auto router = router_.lock();
      // A closing engine drops its pending replies quietly; anything else means
      // a handler lost its reply function, which is worth a line.
      if (router == nullptr || !router->gate_.isOpen()) return;
      logFlutterDiagnostic("no reply on channel " + *channel_ + "; answering null");
      deliver(*router, std::nullopt);
    } catch (...) {
      // Nothing may leave a destructor; the reply is lost only if memory is.
    }
  }

  // Any thread.
  void answer(std::optional<std::vector<std::uint8_t>> reply) {
    if (answered_.exchange(true)) {
      logFlutterDiagnostic("second reply on channel " + *channel_ + " ignored");
      return;
    }
    if (auto router = router_.lock()) deliver(*router, std::move(reply));
  }

 private:
  void deliver(FlutterMessageRouter& router, std::optional<std::vector<std::uint8_t>> reply) {
    if (!callback_) return;
    // The exchange on answered_ makes this the only caller, so moving the
    // callback out needs no lock.
    router.dispatch(replyTo_, [callback = std::move(callback_), reply = std::move(reply)](
                                  FlutterMessageRouter&) mutable { callback(std::move(reply)); });
  }

  std::weak_ptr<FlutterMessageRouter> router_;
  FlutterSide replyTo_;
  FlutterBinaryReply callback_;
  // Kept for diagnostics only; shared with the sender's channel object.
  std::shared_ptr<const std::string> channel_;
  std::atomic<bool> answered_{false};
};

std::shared_ptr<FlutterMessageRouter> FlutterMessageRouter::create(
    std::shared_ptr<DispatchQueue> uiQueue) {
  return std::shared_ptr<FlutterMessageRouter>(new FlutterMessageRouter(std::move(uiQueue)));
}

FlutterMessageRouter::FlutterMessageRouter(std::shared_ptr<DispatchQueue> uiQueue)
    : uiQueue_(std::move(uiQueue)) {}

void FlutterMessageRouter::setHandler(FlutterSide side, const std::string& channel,
                                      FlutterBinaryMessageHandler handler) {
  std::shared_ptr<const FlutterBinaryMessageHandler> replaced;
  {
    // The old handler is destroyed after the lock is released: its captures
    // may hold reply functions whose destruction posts through this router.
    MutexLock lock(mutex_);
    if (uiQueue_ == nullptr) return;  // closed
    auto& handlers = table(side);
    auto it = handlers.find(channel);
    if (it != handlers.end()) {
      replaced = std::move(it->second);
      handlers.erase(it);
    }
    if (handler) {
      handlers.emplace(channel,
                       std::make_shared<const FlutterBinaryMessageHandler>(std::move(handler)));
    }
  }
}

void FlutterMessageRouter::send(FlutterSide to, const std::string& channel,
                                std::vector<std::uint8_t> message, FlutterBinaryReply callback) {
  send(to, std::make_shared<const std::string>(channel), std::move(message), std::move(callback));
}

void FlutterMessageRouter::send(FlutterSide to, std::shared_ptr<const std::string> channel,
                                std::vector<std::uint8_t> message, FlutterBinaryReply callback) {
  // The handler is looked up when the message arrives, not now: a handler
  // installed in the same main-thread turn as the first send still sees it.
  // The name travels shared, as far as the pending reply: the audio path sends
  // many times a second on one channel object and copies no name.
  dispatch(to, [channel = std::move(channel), message = std::move(message),
                callback = std::move(callback), to](FlutterMessageRouter& router) mutable {
    router.deliver(to, std::move(channel), std::move(message), std::move(callback));
  });
}

void FlutterMessageRouter::post(FlutterSide side, std::function<void()> work) {
  dispatch(side, [work = std::move(work)](FlutterMessageRouter&) { work(); });
}

bool FlutterMessageRouter::isCurrent(FlutterSide side) const {
  if (side == FlutterSide::host) return MainRunLoop::shared().isMainThread();
  auto queue = uiQueue();
  return queue != nullptr && queue->isCurrent();
}

void FlutterMessageRouter::close() {
  std::shared_ptr<DispatchQueue> queue;
  HandlerTable hostHandlers;
  HandlerTable uiHandlers;
  {
    MutexLock lock(mutex_);
    queue.swap(uiQueue_);
    hostHandlers.swap(hostHandlers_);
    uiHandlers.swap(uiHandlers_);
  }
  gate_.close();
  // The handlers and the queue die here, outside the lock and after every
  // callback on other threads has returned. Tasks still queued stay inert.
}

template <class Body>
void FlutterMessageRouter::dispatch(FlutterSide side, Body body) {
  // Queued work holds the router weakly: an engine destroyed with messages in
  // flight leaves only inert work behind on the main queue. The body is
  // captured as it is, not wrapped in a std::function of its own, so that a
  // message with its channel and reply fits inside the queue's Task.
  auto run = [weak = weak_from_this(), body = std::move(body)]() mutable {
    auto router = weak.lock();
    if (router == nullptr) return;
    harkwell::CallbackGate::Entry entry(router->gate_);
    if (!entry.admitted()) return;
    try {
      body(*router);
    } catch (const std::exception& error) {
      logFlutterDiagnostic(std::string("callback threw: ") + error.what());
    } catch (...) {
      logFlutterDiagnostic("callback threw a non-standard exception");
    }
  };
  static_assert(sizeof(run) <= Task::inlineSize,
                "routed work must fit inside a Task: no allocation per message");
  if (side == FlutterSide::host) {
    DispatchQueue::main().async(std::move(run));
    return;
  }
  // The queue is enqueued on outside the lock: a queue may run or drop work
  // inside async(), and that work may come back through this router.
  if (auto queue = uiQueue()) queue->async(std::move(run));
}

std::shared_ptr<DispatchQueue> FlutterMessageRouter::uiQueue() const {
  MutexLock lock(mutex_);
  return uiQueue_;
}

void FlutterMessageRouter::deliver(FlutterSide to, std::shared_ptr<const std::string> channel,
                                   std::vector<std::uint8_t> message, FlutterBinaryReply callback) {
  const FlutterSide from = otherSide(to);
  auto handler = findHandler(to, *channel);
  if (handler == nullptr) {
    if (callback) {
      dispatch(from,
               [callback = std::move(callback)](FlutterMessageRouter&) { callback(std::nullopt); });
    }
    return;
  }
  auto pending = std::make_shared<PendingReply>(weak_from_this(), from, std::move(callback),
                                                std::move(channel));
  (*handler)(std::move(message),
             [pending = std::move(pending)](std::optional<std::vector<std::uint8_t>> reply) {
               pending->answer(std::move(reply));
             });
}

std::shared_ptr<const FlutterBinaryMessageHandler> FlutterMessageRouter::findHandler(
    FlutterSide side, const std::string& channel) {
  // A copy of the pointer keeps the handler alive while it runs, even if it is
  // replaced or removed meanwhile.
  MutexLock lock(mutex_);
  auto& handlers = table(side);
  auto it = handlers.find(channel);
  return it != handlers.end() ? it->second : nullptr;
}

FlutterMessageRouter::HandlerTable& FlutterMessageRouter::table(FlutterSide side) {
  return side == FlutterSide::host ? hostHandlers_ : uiHandlers_;
}
