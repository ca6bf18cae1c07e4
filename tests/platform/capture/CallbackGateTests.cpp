#include "platform/capture/CallbackGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

namespace harkwell {
namespace {

// At stake: a consumer that closes its gate may be destroyed right after, so
// close() must outwait a callback running elsewhere, must not deadlock when the
// callback itself closes, and nothing may run once closed.
class CallbackGateTest : public ::testing::Test {};

TEST_F(CallbackGateTest, RunsNothingOnceClosed) {
  CallbackGate gate;
  int calls = 0;
  EXPECT_TRUE(gate.run([&] { ++calls; }));
  gate.close();
  EXPECT_FALSE(gate.run([&] { ++calls; }));
  EXPECT_EQ(calls, 1);
}

TEST_F(CallbackGateTest, CloseReturnsOnlyAfterACallbackOnAnotherThreadHasFinished) {
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
}

TEST_F(CallbackGateTest, ACallbackMayCloseItsOwnGateWithoutWaitingForItself) {
  CallbackGate gate;
  gate.run([&] { gate.close(); });
  EXPECT_FALSE(gate.isOpen());
}

TEST_F(CallbackGateTest, AnExceptionInACallbackStaysInsideTheGate) {
  CallbackGate gate;
  EXPECT_NO_THROW(gate.run([] { throw std::runtime_error("consumer fault"); }));
  // The failed call no longer counts as running: closing does not hang.
  gate.close();
}

TEST_F(CallbackGateTest, ReopenedGateRunsCallbacksAgain) {
  CallbackGate gate(false);
  EXPECT_FALSE(gate.run([] {}));
  gate.open();
  EXPECT_TRUE(gate.run([] {}));
}

}  // namespace
}  // namespace harkwell
