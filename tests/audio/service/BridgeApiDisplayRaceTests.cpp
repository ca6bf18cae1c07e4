#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "tests/audio/service/BridgeApiTestHarness.h"

namespace harkwell::test {
namespace {

// At stake: the registry stays consistent, and free of data races, while the
// UI fires display listen/unlisten calls without waiting and display tasks
// finish on background threads in between. Meant to run under ThreadSanitizer;
// bounded by a number of rounds, not by time.
class BridgeApiDisplayRaceTest : public BridgeApiTest {
 protected:
  static constexpr int rounds = 150;

  BridgeApiDisplayRaceTest() {
    backend().addDisplay(1);
    backend().addDisplay(2);
  }
};

TEST_F(BridgeApiDisplayRaceTest, ListenAndUnlistenStormsLeaveOneConsistentEntryPerDisplay) {
  std::vector<UiCall> calls;
  std::atomic<bool> sent{false};
  std::thread storm([&] {
    for (int round = 0; round < rounds; ++round) {
      const std::string id = round % 2 == 0 ? "1" : "2";
      calls.push_back(ui().listen(display(id)));
      calls.push_back(ui().listen(display(id)));
      if (round % 3 == 0) calls.push_back(ui().getDevices(AudioDeviceType::output));
      calls.push_back(ui().unlisten(display(id)));
      if (round % 5 == 0) {
        // A stream that ends by itself, between the registry's own moves.
        backend().stopStreamsWithError(
            1, makeCaptureError(CaptureErrorCode::stoppedUnexpectedly, "display went to sleep"));
      }
    }
    sent = true;
  });

  // The test thread is the main thread: it serves the channel handlers and
  // the tasks' hops while the storm goes on.
  const bool sending = ui().waitUntil([&] { return sent.load(); });
  storm.join();
  ASSERT_TRUE(sending);
  for (const UiCall& call : calls) {
    const std::optional<UiReply> reply = call.wait();
    ASSERT_TRUE(reply.has_value());
    EXPECT_TRUE(reply->isSuccess()) << reply->describe();
  }
  ASSERT_TRUE(ui().settle());
  for (const UiCall& call : calls) EXPECT_EQ(call.replyCount(), 1u);

  // At most one registered capture per display survives, and two unlistens
  // (stop, then remove) leave nothing open or running.
  EXPECT_LE(backend().openStreamCount(), 2u);
  for (const char* id : {"1", "2"}) {
    expectNullSuccess(ui().unlisten(display(id)));
    expectNullSuccess(ui().unlisten(display(id)));
  }
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(backend().openStreamCount(), 0u);
  EXPECT_EQ(backend().runningStreamCount(), 0u);
  EXPECT_EQ(ui().undecodableEventCount(), 0u);
}

}  // namespace
}  // namespace harkwell::test
