#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/platform/flutter/FlutterMessagingTestSupport.h"

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

  bool onReceiverThread() const {
    return direction_ == Direction::uiToHost ? MainRunLoop::shared().isMainThread()
                                             : engine_.uiSide().isUiThread();
  }

  bool onSenderThread() const {
    return direction_ == Direction::uiToHost ? engine_.uiSide().isUiThread()
                                             : MainRunLoop::shared().isMainThread();
  }

 private:
  FlutterEngine& engine_;
  Direction direction_;
};

struct ReplyRecord {
  std::optional<std::string> text;  // nullopt: answered with no reply
  bool onSenderThread;
};

std::string directionName(const testing::TestParamInfo<Direction>& info) {
  return info.param == Direction::uiToHost ? "UiToHost" : "HostToUi";
}

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
  FlutterBinaryReply recordReply() {
    return [this](std::optional<Bytes> reply) {
      replies_.add({reply ? std::optional(textOf(*reply)) : std::nullopt, route_.onSenderThread()});
    };
  }

  // Declared first so that it outlives the engine's last callback.
  TestRecorder<ReplyRecord> replies_;
  FlutterEngine engine_;
  Route route_{engine_, GetParam()};
};

TEST_P(FlutterEngineRoundTripTest, HandlerRunsOnReceiverThreadAndReplyReachesSenderThread) {
  TestRecorder<std::string> received;
  route_.setReceiverHandler("echo", [&](Bytes message, FlutterBinaryReply reply) {
    received.add(textOf(message) + (route_.onReceiverThread() ? "@receiver" : "@elsewhere"));
    reply(bytesOf("pong"));
  });

  route_.send("echo", bytesOf("ping"), recordReply());

  ASSERT_TRUE(pumpMainUntil([&] { return replies_.size() == 1; }));
  EXPECT_EQ(received.values(), std::vector<std::string>{"ping@receiver"});
  EXPECT_EQ(replies_.values()[0].text, "pong");
  EXPECT_TRUE(replies_.values()[0].onSenderThread);
}

TEST_P(FlutterEngineRoundTripTest, MessageOnChannelWithoutHandlerIsAnsweredWithNull) {
  route_.setReceiverHandler("other", [](Bytes, FlutterBinaryReply reply) { reply(Bytes{}); });

  route_.send("unhandled", bytesOf("ping"), recordReply());

  ASSERT_TRUE(pumpMainUntil([&] { return replies_.size() == 1; }));
  EXPECT_EQ(replies_.values()[0].text, std::nullopt);
  EXPECT_TRUE(replies_.values()[0].onSenderThread);
}

TEST_P(FlutterEngineRoundTripTest, LateReplyFromAnotherThreadArrivesOnceAndLaterRepliesAreIgnored) {
  TestSignal handled;
  FlutterBinaryReply keptReply;
  route_.setReceiverHandler("slow", [&](Bytes, FlutterBinaryReply reply) {
    keptReply = std::move(reply);
    handled.notify();
  });
  route_.send("slow", bytesOf("work"), recordReply());
  ASSERT_TRUE(pumpMainUntil([&] { return handled.raised(); }));

  std::thread worker([reply = std::move(keptReply)] {
    FlutterBinaryReply copy = reply;
    reply(bytesOf("first"));
    copy(bytesOf("second"));
    reply(std::nullopt);
  });
  worker.join();

  ASSERT_TRUE(pumpMainUntil([&] { return replies_.size() >= 1; }));
  settle(engine_);
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_.values()[0].text, "first");
  EXPECT_TRUE(replies_.values()[0].onSenderThread);
}

TEST_P(FlutterEngineRoundTripTest, HandlerThatDropsItsReplyGetsTheSenderANullAnswerOnce) {
  route_.setReceiverHandler("forgetful", [](Bytes, FlutterBinaryReply reply) {
    FlutterBinaryReply copy = reply;  // every copy is dropped uncalled
  });

  route_.send("forgetful", bytesOf("ping"), recordReply());

  ASSERT_TRUE(pumpMainUntil([&] { return replies_.size() >= 1; }));
  settle(engine_);
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_.values()[0].text, std::nullopt);
  EXPECT_TRUE(replies_.values()[0].onSenderThread);
}

TEST_P(FlutterEngineRoundTripTest,
       HandlerThatThrowsStillGetsTheSenderAnAnswerAndTheChannelKeepsWorking) {
  int calls = 0;
  route_.setReceiverHandler("fragile", [&](Bytes message, FlutterBinaryReply reply) {
    if (++calls == 1) throw std::runtime_error("handler failed");
    reply(message);
  });

  route_.send("fragile", bytesOf("one"), recordReply());
  route_.send("fragile", bytesOf("two"), recordReply());

  ASSERT_TRUE(pumpMainUntil([&] { return replies_.size() == 2; }));
  EXPECT_EQ(replies_.values()[0].text, std::nullopt);
  EXPECT_EQ(replies_.values()[1].text, "two");
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
                    recordReply());
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
  for (const auto& reply : replies_.values()) EXPECT_TRUE(reply.onSenderThread);
}

INSTANTIATE_TEST_SUITE_P(BothDirections, FlutterEngineRoundTripTest,
                         testing::Values(Direction::uiToHost, Direction::hostToUi), directionName);

// At stake: the UI program starts on the UI thread as the engine starts, and
// a UI call sent before the host installed its handler still reaches it when
// the handler is installed in the same main-thread turn (the app relies on
// this at start-up).
class FlutterEngineStartTest : public testing::Test {};

TEST_F(FlutterEngineStartTest, UiProgramRunsOnUiThreadAndItsHandlersServeTheHost) {
  std::atomic<bool> programOnUiThread{false};
  FlutterEngine engine([&](FlutterUiSide& ui) {
    programOnUiThread = ui.isUiThread();
    ui.setHandler("greet", [](Bytes message, FlutterBinaryReply reply) {
      reply(bytesOf("hello " + textOf(message)));
    });
  });
  std::optional<std::string> answer;

  engine.binaryMessenger().sendOnChannel("greet", bytesOf("host"), [&](std::optional<Bytes> reply) {
    answer = reply ? textOf(*reply) : "<null>";
  });

  ASSERT_TRUE(pumpMainUntil([&] { return answer.has_value(); }));
  EXPECT_TRUE(programOnUiThread.load());
  EXPECT_EQ(answer, "hello host");
}

TEST_F(FlutterEngineStartTest, UiCallSentBeforeHostHandlerExistsIsHandledOnceHandlerIsInstalled) {
  TestSignal sent;
  TestRecorder<std::string> answers;
  FlutterEngine engine([&](FlutterUiSide& ui) {
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
}

// At stake: an engine destroyed with messages and replies in flight must not
// call back into anything afterwards, must not crash when a handler answers
// late, and must not return while one of its callbacks still runs.
class FlutterEngineTeardownTest : public testing::Test {};

TEST_F(FlutterEngineTeardownTest, RepliesStillQueuedForTheHostAreDroppedUncalled) {
  constexpr int messages = 50;
  TestRecorder<int> uiHandled;
  std::atomic<int> hostCallbacks{0};
  auto engine = std::make_unique<FlutterEngine>();
  engine->uiSide().setHandler("echo", [&](Bytes message, FlutterBinaryReply reply) {
    uiHandled.add(1);
    reply(std::move(message));
  });
  for (int i = 0; i < messages; ++i) {
    engine->binaryMessenger().sendOnChannel("echo", bytesOf("m"),
                                            [&](std::optional<Bytes>) { ++hostCallbacks; });
  }
  TestSignal uiDone;
  engine->uiSide().post([&] { uiDone.notify(); });
  ASSERT_TRUE(uiDone.wait());
  ASSERT_EQ(uiHandled.size(), static_cast<std::size_t>(messages));

  engine.reset();
  pumpMainIdle();

  EXPECT_EQ(hostCallbacks.load(), 0);
}

TEST_F(FlutterEngineTeardownTest, ReplyKeptByTheHostPastEngineDestructionIsHarmless) {
  std::atomic<bool> uiCallbackRan{false};
  FlutterBinaryReply keptReply;
  auto engine = std::make_unique<FlutterEngine>();
  engine->binaryMessenger().setMessageHandlerOnChannel(
      "slow", [&](Bytes, FlutterBinaryReply reply) { keptReply = std::move(reply); });
  engine->uiSide().sendToHost("slow", bytesOf("call"),
                              [&](std::optional<Bytes>) { uiCallbackRan = true; });
  ASSERT_TRUE(pumpMainUntil([&] { return static_cast<bool>(keptReply); }));

  engine.reset();
  std::thread late([reply = std::move(keptReply)] {
    reply(bytesOf("too late"));
    reply(bytesOf("far too late"));
  });
  late.join();
  pumpMainIdle();

  EXPECT_FALSE(uiCallbackRan.load());
}

TEST_F(FlutterEngineTeardownTest, DestructionWaitsForAUiHandlerThatIsRunning) {
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

TEST_F(FlutterEngineTeardownTest, HostHandlerMayDestroyItsOwnEngine) {
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
