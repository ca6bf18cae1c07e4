#include "platform/flutter/FlutterEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/dispatch/MainRunLoop.h"
#include "tests/support/MessagingTestSupport.h"

namespace harkwell::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// At stake: in both directions a message reaches the receiving side's handler
// on that side's thread, in order per sending thread, and the sender hears back
// exactly once, on its own thread: with the reply, or with null when nobody
// answers (no handler, a handler that throws or drops every copy of its reply).
// A sender that never hears back would hang the UI or leak a host completion.
TEST(FlutterEngineRoundTripTest, EveryMessageIsAnsweredExactlyOnceOnTheSenderThread) {
  for (const bool uiSends : {true, false}) {
    SCOPED_TRACE(uiSends ? "UI to host" : "host to UI");
    TestRecorder<std::string> replies;  // outlives the engine's last callback
    FlutterEngine engine;
    FlutterBinaryMessenger& sender = uiSends ? engine.uiSide() : engine.binaryMessenger();
    FlutterBinaryMessenger& receiver = uiSends ? engine.binaryMessenger() : engine.uiSide();
    const auto onThreadOf = [&](bool ui) {
      return ui ? engine.uiSide().isUiThread() : MainRunLoop::shared().isMainThread();
    };
    const auto recordReply = [&](std::string tag) -> FlutterBinaryReply {
      return [&, tag](std::optional<Bytes> reply) {
        replies.add(tag + "=" + (reply ? textOf(*reply) : "<null>") +
                    (onThreadOf(uiSends) ? "" : " off sender thread"));
      };
    };
    TestRecorder<std::pair<int, int>> arrivals;  // (sending thread or -1 off thread, index)
    receiver.setMessageHandlerOnChannel("echo", [&](Bytes message, FlutterBinaryReply reply) {
      arrivals.add({onThreadOf(!uiSends) ? message.at(0) : -1, message.at(1) | message.at(2) << 8});
      reply(bytesOf("pong"));
    });
    receiver.setMessageHandlerOnChannel("forgetful", [](Bytes, FlutterBinaryReply reply) {
      FlutterBinaryReply copy = reply;  // every copy is dropped uncalled
    });
    int fragileCalls = 0;
    receiver.setMessageHandlerOnChannel("fragile", [&](Bytes message, FlutterBinaryReply reply) {
      if (++fragileCalls == 1) throw std::runtime_error("handler failed");
      reply(message);
    });
    TestSignal slowHandled;
    FlutterBinaryReply keptReply;
    receiver.setMessageHandlerOnChannel("slow", [&](Bytes, FlutterBinaryReply reply) {
      keptReply = std::move(reply);
      slowHandled.notify();
    });

    for (const char* channel : {"unhandled", "forgetful", "fragile", "fragile", "slow"}) {
      sender.sendOnChannel(channel, bytesOf(channel), recordReply(channel));
    }
    ASSERT_TRUE(pumpMainUntil([&] { return slowHandled.raised(); }));
    // A late reply from another thread counts once; copies and repeats are ignored.
    std::thread([reply = std::move(keptReply)] {
      FlutterBinaryReply copy = reply;
      reply(bytesOf("first"));
      copy(bytesOf("second"));
      reply(std::nullopt);
    }).join();
    constexpr int threads = 4, perThread = 250;
    std::vector<std::thread> senders;
    for (std::uint8_t t = 0; t < threads; ++t) {
      senders.emplace_back([&, t] {
        for (int i = 0; i < perThread; ++i) {
          const Bytes message{t, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)};
          sender.sendOnChannel("echo", message, recordReply("echo"));
        }
      });
    }
    for (auto& thread : senders) thread.join();

    ASSERT_TRUE(pumpMainUntil([&] { return replies.size() == 5 + threads * perThread; }));
    for (int round = 0; round < 3; ++round) {  // nothing more arrives
      TestSignal uiDrained;
      engine.uiSide().post([&] { uiDrained.notify(); });
      ASSERT_TRUE(uiDrained.wait());
      pumpMainIdle();
    }
    std::vector<std::string> seen = replies.values();
    EXPECT_EQ(seen.size(), 5u + threads * perThread);
    std::sort(seen.begin(), seen.end());
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    EXPECT_EQ(seen,
              (std::vector<std::string>{"echo=pong", "forgetful=<null>", "fragile=<null>",
                                        "fragile=fragile", "slow=first", "unhandled=<null>"}));
    std::vector<int> next(threads, 0);
    for (const auto& [thread, index] : arrivals.values()) {
      ASSERT_NE(thread, -1) << "a handler ran off the receiver's thread";
      EXPECT_EQ(index, next[thread]) << "from thread " << thread;
      next[thread] = index + 1;
    }
    EXPECT_EQ(next, std::vector<int>(threads, perThread));
  }
}

// At stake: an engine destroyed with messages and replies in flight never
// calls back afterwards, survives a handler answering late, and does not
// return while one of its UI handlers still runs; a host handler may destroy
// its own engine.
TEST(FlutterEngineTeardownTest, AHostHandlerDestroysTheEngineWithRepliesInFlightEitherWay) {
  std::atomic<int> callbacks{0};
  const auto count = [&](std::optional<Bytes>) { ++callbacks; };
  FlutterBinaryReply keptReply;
  TestSignal entered, release;
  std::atomic<bool> busyFinished{false};
  bool finishedFirst = false;
  auto engine = std::make_unique<FlutterEngine>();
  engine->uiSide().setHandler("echo", [](Bytes m, FlutterBinaryReply reply) { reply(m); });
  engine->uiSide().setHandler("busy", [&](Bytes, FlutterBinaryReply) {
    entered.notify();
    release.wait();
    busyFinished = true;
  });
  engine->binaryMessenger().setMessageHandlerOnChannel(
      "slow", [&](Bytes, FlutterBinaryReply reply) { keptReply = std::move(reply); });
  engine->binaryMessenger().setMessageHandlerOnChannel("quit", [&](Bytes, FlutterBinaryReply r) {
    release.notify();
    engine.reset();
    finishedFirst = busyFinished.load();
    r(bytesOf("bye"));
  });
  engine->uiSide().sendToHost("slow", bytesOf("call"), count);
  ASSERT_TRUE(pumpMainUntil([&] { return static_cast<bool>(keptReply); }));
  engine->uiSide().sendToHost("quit", {}, count);  // runs before the echo replies below
  for (int i = 0; i < 50; ++i) engine->binaryMessenger().sendOnChannel("echo", {}, count);
  engine->binaryMessenger().sendOnChannel("busy", {}, count);
  ASSERT_TRUE(entered.wait());  // the echo replies now wait on the main queue

  ASSERT_TRUE(pumpMainUntil([&] { return engine == nullptr; }));
  std::thread([reply = std::move(keptReply)] {
    reply(bytesOf("too late"));
    reply(bytesOf("far too late"));
  }).join();
  pumpMainIdle();
  EXPECT_EQ(callbacks.load(), 0);
  EXPECT_TRUE(finishedFirst);
}

}  // namespace
}  // namespace harkwell::test
