#include "platform/flutter/FlutterEngine.h"

#include <utility>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"
#include "platform/flutter/FlutterMessageRouter.h"

namespace {

// The host's end of the channels.
// Thread affinity: any thread; see FlutterBinaryMessenger.
class HostMessenger final : public FlutterBinaryMessenger {
 public:
  explicit HostMessenger(FlutterMessageRouter& router) : router_(router) {}

  void sendOnChannel(const std::string& channel, std::vector<std::uint8_t> message,
                     FlutterBinaryReply callback) override {
    router_.send(FlutterSide::ui, channel, std::move(message), std::move(callback));
  }

  void sendOnNamedChannel(std::shared_ptr<const std::string> channel,
                          std::vector<std::uint8_t> message, FlutterBinaryReply callback) override {
    router_.send(FlutterSide::ui, std::move(channel), std::move(message), std::move(callback));
  }

  void setMessageHandlerOnChannel(const std::string& channel,
                                  FlutterBinaryMessageHandler handler) override {
    router_.setHandler(FlutterSide::host, channel, std::move(handler));
  }

 private:
  FlutterMessageRouter& router_;
};

struct DefaultUiProgram {
  Mutex mutex;
  FlutterUiProgram program GUARDED_BY(mutex);
};

DefaultUiProgram& defaultUiProgramSlot() {
  static DefaultUiProgram slot;
  return slot;
}

}  // namespace

FlutterEngine::FlutterEngine() : FlutterEngine(FlutterUiProgram()) {}

FlutterEngine::FlutterEngine(FlutterUiProgram program)
    : program_(std::move(program)),
      router_(FlutterMessageRouter::create(DispatchQueue::makeSerial("flutter-ui"))),
      hostMessenger_(std::make_unique<HostMessenger>(*router_)),
      uiSide_(std::make_unique<FlutterUiSide>(*router_)) {
  if (program_) {
    // Capturing this is safe: the destructor closes the router, after which
    // the task no longer runs, and waits for it if it is running.
    router_->post(FlutterSide::ui, [this] { program_(*uiSide_); });
  }
}

FlutterEngine::~FlutterEngine() {
  router_->close();
}

void FlutterEngine::setDefaultUiProgram(FlutterUiProgram program) {
  auto& slot = defaultUiProgramSlot();
  // The replaced program dies outside the lock; its captures may be anything.
  FlutterUiProgram previous;
  {
    MutexLock lock(slot.mutex);
    previous = std::exchange(slot.program, std::move(program));
  }
}

FlutterUiProgram FlutterEngine::defaultUiProgram() {
  auto& slot = defaultUiProgramSlot();
  MutexLock lock(slot.mutex);
  return slot.program;
}
