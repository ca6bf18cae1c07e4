#include "platform/dispatch/CallbackGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

namespace harkwell {
namespace {

// At stake: a consumer (a capture's controller, an engine) that closes its gate
// may be destroyed right after, so close() must outwait a callback running
// elsewhere, must not deadlock when the callback itself closes (also from a
// nested callback), and nothing may run once closed.
TEST(CallbackGateTest, CloseReturnsOnlyAfterACallbackOnAnotherThreadHasFinished) {
  CallbackGate gate;
  std::promise<void> entered, permit;
  std::atomic<bool> finished{false};
  std::thread callbackThread([&] {
    gate.run([&] {
      entered.set_value();
      permit.get_future().wait();
      finished = true;
    });
  });
  entered.get_future().wait();
  std::atomic<bool> finishedWhenClosed{false};
  std::thread closer([&] {
    gate.close();
    finishedWhenClosed = finished.load();
  });
  permit.set_value();
  closer.join();
  callbackThread.join();
  EXPECT_TRUE(finishedWhenClosed);
  EXPECT_FALSE(gate.run([] { FAIL() << "ran after close"; }));
}

TEST(CallbackGateTest, ACallbackMayThrowOrCloseItsOwnGateWithoutHangingIt) {
  CallbackGate gate;
  EXPECT_NO_THROW(gate.run([] { throw std::runtime_error("consumer fault"); }));
  EXPECT_TRUE(gate.run([&] { gate.run([&] { gate.close(); }); }));
  EXPECT_FALSE(gate.isOpen());
  // A session's gate opens again for its next run.
  gate.open();
  EXPECT_TRUE(gate.run([] {}));
}

}  // namespace
}  // namespace harkwell
