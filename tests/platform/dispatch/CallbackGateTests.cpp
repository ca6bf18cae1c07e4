#include "platform/dispatch/CallbackGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <stdexcept>
#include <thread>

namespace harkwell {
namespace {

// At stake: a consumer (a capture's controller, an engine) that closes its gate
// may be destroyed right after, so close() must outwait a callback running
// elsewhere, must not deadlock when the callback itself closes (also from a
// nested callback), and nothing may run once closed until it opens again.
TEST(CallbackGateTest, CloseOutwaitsOtherThreadsButNotItsOwnCallback) {
  CallbackGate gate;
  std::latch entered(1);
  std::atomic<bool> finished{false};
  std::thread callback([&] {
    gate.run([&] {
      entered.count_down();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      finished = true;
    });
  });
  entered.wait();
  gate.close();
  EXPECT_TRUE(finished);
  callback.join();
  EXPECT_FALSE(gate.run([] { ADD_FAILURE() << "ran after close"; }));

  gate.open();
  EXPECT_NO_THROW(gate.run([] { throw std::runtime_error("consumer fault"); }));
  EXPECT_TRUE(gate.run([&] { gate.run([&] { gate.close(); }); }));
  EXPECT_FALSE(gate.isOpen());
}

}  // namespace
}  // namespace harkwell
