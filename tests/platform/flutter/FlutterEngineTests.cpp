#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/support/MessagingTestSupport.h"

namespace harkwell::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

enum class Direction { uiToHost, hostToUi };

// One direction of travel through an engine: who sends, who handles, and
// which thread each of them must be called on.
// Thread affinity: any thread.
class Route {
 public:
  Route(FlutterEngine& engine, Direction direction) : engine_(engine), direction_(direction) {}

  void send(const std::string& channel, Bytes message, FlutterBinaryReply callback) {
    if (direction_ == Direction::uiToHost) {
      engine_.uiSide().sendToHost(channel, std::move(message), std::move(callback));
    } else {
      engine_.binaryMessenger().sendOnChannel(channel, std::move(message), std::move(callback));
    }
  }

  void setReceiverHandler(const std::string& channel, FlutterBinaryMessageHandler handler) {
    if (direction_ == Direction::uiToHost) {
      engine_.binaryMessenger().setMessageHandlerOnChannel(channel, std::move(handler));
    } else {
      engine_.uiSide().setHandler(channel, std::move(handler));
    }
  }

  bool onReceiverThread() const { return onThreadOf(direction_ == Direction::hostToUi); }
  bool onSenderThread() const { return onThreadOf(direction_ == Direction::uiToHost); }

 private:
  bool onThreadOf(bool ui) const {
    return ui ? engine_.uiSide().isUiThread() : MainRunLoop::shared().isMainThread();
  }

  FlutterEngine& engine_;
  Direction direction_;
};

// Lets everything already queued on both sides run, including what it queues
// in turn, so that a test can check that nothing more arrives.
void settle(FlutterEngine& engine) {
  for (int round = 0; round < 3; ++round) {
    TestSignal uiDrained;
    engine.uiSide().post([&] { uiDrained.notify(); });
    ASSERT_TRUE(uiDrained.wait());
    pumpMainIdle();
  }
}

// At stake: in both directions a message reaches the receiving side's handler
// on that side's thread, and the sender hears back exactly once, on its own
// thread: with the reply, or with null when nobody answers. A sender that never
// hears back would hang the UI or leak a host completion.
class FlutterEngineRoundTripTest : public testing::TestWithParam<Direction> {
 protected:
  // Records "tag=reply", or "tag=<null>", marked when off the sender's thread.
  FlutterBinaryReply recordReply(std::string tag) {
    return [this, tag](std::optional<Bytes> reply) {
      replies_.add(tag + "=" + (reply ? textOf(*reply) : "<null>") +
                   (route_.onSenderThread() ? "" : " off sender thread"));
    };
  }

  std::vector<std::string> sortedReplies() {
    auto values = replies_.values();
    std::sort(values.begin(), values.end());
    return values;
  }

  // Declared first so that it outlives the engine's last callback.
  TestRecorder<std::string> replies_;
  FlutterEngine engine_;
  Route route_{engine_, GetParam()};
};

TEST_P(FlutterEngineRoundTripTest, EveryMessageIsAnsweredExactlyOnceOnTheSenderThread) {
  TestRecorder<std::string> received;
  route_.setReceiverHandler("echo", [&](Bytes message, FlutterBinaryReply reply) {
    received.add(textOf(message) + (route_.onReceiverThread() ? "@receiver" : "@elsewhere"));
    reply(bytesOf("pong"));
  });
  route_.setReceiverHandler("forgetful", [](Bytes, FlutterBinaryReply reply) {
    FlutterBinaryReply copy = reply;  // every copy is dropped uncalled
  });
  int fragileCalls = 0;
  route_.setReceiverHandler("fragile", [&](Bytes message, FlutterBinaryReply reply) {
    if (++fragileCalls == 1) throw std::runtime_error("handler failed");
    reply(message);
  });

  TestSignal slowHandled;
  FlutterBinaryReply keptReply;
  route_.setReceiverHandler("slow", [&](Bytes, FlutterBinaryReply reply) {
    keptReply = std::move(reply);
    slowHandled.notify();
  });

  route_.send("echo", bytesOf("ping"), recordReply("echo"));
  route_.send("unhandled", bytesOf("ping"), recordReply("unhandled"));
  route_.send("forgetful", bytesOf("ping"), recordReply("forgetful"));
  route_.send("fragile", bytesOf("one"), recordReply("fragile1"));
  route_.send("fragile", bytesOf("two"), recordReply("fragile2"));
  route_.send("slow", bytesOf("work"), recordReply("slow"));
  ASSERT_TRUE(pumpMainUntil([&] { return slowHandled.raised(); }));
  // A late reply from another thread counts once; copies and repeats are ignored.
  std::thread worker([reply = std::move(keptReply)] {
    FlutterBinaryReply copy = reply;
    reply(bytesOf("first"));
    copy(bytesOf("second"));
    reply(std::nullopt);
  });
  worker.join();

  ASSERT_TRUE(pumpMainUntil([&] { return replies_.size() == 6; }));
  settle(engine_);
  EXPECT_EQ(received.values(), std::vector<std::string>{"ping@receiver"});
  EXPECT_EQ(sortedReplies(),
            (std::vector<std::string>{"echo=pong", "forgetful=<null>", "fragile1=<null>",
                                      "fragile2=two", "slow=first", "unhandled=<null>"}));
}

TEST_P(FlutterEngineRoundTripTest, SendsFromSeveralThreadsArriveInOrderPerSendingThread) {
  constexpr int threads = 4;
  constexpr int perThread = 250;
  TestRecorder<std::pair<int, int>> arrivals;
  std::atomic<int> offThread{0};
  route_.setReceiverHandler("stream", [&](Bytes message, FlutterBinaryReply reply) {
    if (!route_.onReceiverThread()) ++offThread;
    arrivals.add({message.at(0), message.at(1) | (message.at(2) << 8)});
    reply(std::move(message));
  });

  std::vector<std::thread> senders;
  for (int t = 0; t < threads; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < perThread; ++i) {
        route_.send("stream",
                    Bytes{static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(i & 0xff),
                          static_cast<std::uint8_t>(i >> 8)},
                    recordReply("s"));
      }
    });
  }
  for (auto& sender : senders) sender.join();

  ASSERT_TRUE(pumpMainUntil([&] { return replies_.size() == threads * perThread; }));
  EXPECT_EQ(offThread.load(), 0);
  std::vector<int> next(threads, 0);
  for (const auto& [thread, index] : arrivals.values()) {
    EXPECT_EQ(index, next[thread]) << "from thread " << thread;
    next[thread] = index + 1;
  }
  EXPECT_EQ(next, std::vector<int>(threads, perThread));
  for (const auto& reply : replies_.values()) EXPECT_EQ(reply.find("off"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(BothDirections, FlutterEngineRoundTripTest,
                         testing::Values(Direction::uiToHost, Direction::hostToUi),
                         [](const auto& info) {
                           return info.param == Direction::uiToHost ? "UiToHost" : "HostToUi";
                         });

// At stake: a UI call sent at start-up before the host installed its handler
// still reaches it when the handler is installed in the same main-thread turn
// (the application relies on this at start-up).
TEST(FlutterEngineStartTest, UiCallSentBeforeHostHandlerExistsIsHandledOnceHandlerIsInstalled) {
  TestSignal sent;
  TestRecorder<std::string> answers;
  std::atomic<bool> programOnUiThread{false};
  FlutterEngine engine([&](FlutterUiSide& ui) {
    programOnUiThread = ui.isUiThread();
    ui.sendToHost("early", bytesOf("first call"), [&](std::optional<Bytes> reply) {
      answers.add(reply ? textOf(*reply) : "<null>");
    });
    sent.notify();
  });
  ASSERT_TRUE(sent.wait());

  engine.binaryMessenger().setMessageHandlerOnChannel(
      "early", [](Bytes message, FlutterBinaryReply reply) { reply(message); });

  ASSERT_TRUE(pumpMainUntil([&] { return answers.size() == 1; }));
  EXPECT_EQ(answers.values()[0], "first call");
  EXPECT_TRUE(programOnUiThread.load());
}

// At stake: an engine destroyed with messages and replies in flight must not
// call back into anything afterwards, must not crash when a handler answers
// late, and must not return while one of its callbacks still runs.
TEST(FlutterEngineTeardownTest, RepliesInFlightEitherWayAreDroppedUncalled) {
  std::atomic<int> callbacks{0};
  FlutterBinaryReply keptReply;
  auto engine = std::make_unique<FlutterEngine>();
  engine->uiSide().setHandler(
      "echo", [](Bytes message, FlutterBinaryReply reply) { reply(std::move(message)); });
  engine->binaryMessenger().setMessageHandlerOnChannel(
      "slow", [&](Bytes, FlutterBinaryReply reply) { keptReply = std::move(reply); });
  engine->uiSide().sendToHost("slow", bytesOf("call"), [&](std::optional<Bytes>) { ++callbacks; });
  ASSERT_TRUE(pumpMainUntil([&] { return static_cast<bool>(keptReply); }));
  for (int i = 0; i < 50; ++i) {
    engine->binaryMessenger().sendOnChannel("echo", bytesOf("m"),
                                            [&](std::optional<Bytes>) { ++callbacks; });
  }
  TestSignal uiDone;
  engine->uiSide().post([&] { uiDone.notify(); });
  ASSERT_TRUE(uiDone.wait());  // the echo replies now wait on the main queue

  engine.reset();
  std::thread late([reply = std::move(keptReply)] {
    reply(bytesOf("too late"));
    reply(bytesOf("far too late"));
  });
  late.join();
  pumpMainIdle();

  EXPECT_EQ(callbacks.load(), 0);
}

TEST(FlutterEngineTeardownTest, DestructionWaitsForAUiHandlerThatIsRunning) {
  TestSignal entered;
  TestSignal release;
  std::atomic<bool> handlerFinished{false};
  std::atomic<bool> finishedBeforeDestructorReturned{false};
  auto engine = std::make_unique<FlutterEngine>();
  engine->uiSide().setHandler("busy", [&](Bytes, FlutterBinaryReply) {
    entered.notify();
    release.wait();
    handlerFinished = true;
  });
  engine->binaryMessenger().sendOnChannel("busy", bytesOf("x"), {});
  ASSERT_TRUE(entered.wait());

  std::thread destroyer([&] {
    engine.reset();
    finishedBeforeDestructorReturned = handlerFinished.load();
  });
  release.notify();
  destroyer.join();

  EXPECT_TRUE(finishedBeforeDestructorReturned.load());
}

TEST(FlutterEngineTeardownTest, HostHandlerMayDestroyItsOwnEngine) {
  std::atomic<bool> uiCallbackRan{false};
  auto engine = std::make_unique<FlutterEngine>();
  engine->binaryMessenger().setMessageHandlerOnChannel("quit",
                                                       [&](Bytes, FlutterBinaryReply reply) {
                                                         engine.reset();
                                                         reply(bytesOf("bye"));
                                                       });
  engine->uiSide().sendToHost("quit", bytesOf("now"),
                              [&](std::optional<Bytes>) { uiCallbackRan = true; });

  ASSERT_TRUE(pumpMainUntil([&] { return engine == nullptr; }));
  pumpMainIdle();
  EXPECT_FALSE(uiCallbackRan.load());
}

}  // namespace
}  // namespace harkwell::test
