#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/flutter/FlutterBasicMessageChannel.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/platform/flutter/FlutterMessagingTestSupport.h"

namespace harkwell::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A readable codec: "s" + text for strings, "i" + digits for int32, no bytes
// for null. Anything else fails to encode; any other first byte fails to decode.
// Thread affinity: stateless; any thread.
class TextCodec final : public FlutterMessageCodec {
 public:
  Bytes encode(const CodecValue& message) const override {
    if (message.isNull()) return {};
    if (auto* text = message.getIf<std::string>()) return bytesOf("s" + *text);
    if (auto* number = message.getIf<std::int32_t>()) return bytesOf("i" + std::to_string(*number));
    throw std::invalid_argument("no encoding for this type");
  }

  CodecDecodeResult decode(std::span<const std::uint8_t> message) const override {
    if (message.empty()) return {CodecNull{}, {}};
    const std::string rest(message.begin() + 1, message.end());
    if (message[0] == 's') return {CodecValue(rest), {}};
    if (message[0] == 'i') return {CodecValue(static_cast<std::int32_t>(std::stoi(rest))), {}};
    return {std::nullopt, "unknown type at offset 0"};
  }
};

const TextCodec& textCodec() {
  static const TextCodec codec;
  return codec;
}

std::string describe(const std::optional<CodecValue>& value) {
  if (!value) return "<no reply>";
  if (value->isNull()) return "<null>";
  if (auto* text = value->getIf<std::string>()) return "text " + *text;
  if (auto number = value->asInteger()) return "int " + std::to_string(*number);
  return "<other>";
}

// At stake: a host channel hands its handler the decoded message, even when
// the bytes are bad (so the bridge can answer with an error instead of leaving
// the UI waiting), encodes the reply, and keeps serving after the channel
// object itself is gone.
class FlutterBasicMessageChannelReceiveTest : public testing::Test {
 protected:
  void uiSends(Bytes message) {
    engine_.uiSide().sendToHost(kChannel, std::move(message), [this](std::optional<Bytes> reply) {
      uiReplies_.add(reply ? "bytes " + textOf(*reply) : "<no reply>");
    });
  }

  static constexpr const char* kChannel = "test.receive";
  TestRecorder<std::string> uiReplies_;
  TestRecorder<std::string> handled_;
  FlutterEngine engine_;
};

TEST_F(FlutterBasicMessageChannelReceiveTest, HandlerGetsTheDecodedMessageAndItsReplyIsEncoded) {
  FlutterBasicMessageChannel(kChannel, engine_.binaryMessenger(), textCodec())
      .setMessageHandler([&](std::optional<CodecValue> message, FlutterMessageReply reply) {
        handled_.add(describe(message));
        reply(CodecValue(std::int32_t{7}));
      });

  uiSends(bytesOf("shello"));

  ASSERT_TRUE(pumpMainUntil([&] { return uiReplies_.size() == 1; }));
  EXPECT_EQ(handled_.values(), std::vector<std::string>{"text hello"});
  EXPECT_EQ(uiReplies_.values()[0], "bytes i7");
}

TEST_F(FlutterBasicMessageChannelReceiveTest,
       UndecodableMessageReachesTheHandlerAsAbsentAndIsAnswered) {
  FlutterBasicMessageChannel(kChannel, engine_.binaryMessenger(), textCodec())
      .setMessageHandler([&](std::optional<CodecValue> message, FlutterMessageReply reply) {
        handled_.add(describe(message));
        reply(message ? CodecValue("fine") : CodecValue("bad message"));
      });

  uiSends(bytesOf("?garbage"));
  uiSends(bytesOf("sok"));

  ASSERT_TRUE(pumpMainUntil([&] { return uiReplies_.size() == 2; }));
  EXPECT_EQ(handled_.values(), (std::vector<std::string>{"<no reply>", "text ok"}));
  EXPECT_EQ(uiReplies_.values(), (std::vector<std::string>{"bytes sbad message", "bytes sfine"}));
}

TEST_F(FlutterBasicMessageChannelReceiveTest, ReplyTheCodecCannotEncodeReachesTheUiAsNoReply) {
  FlutterBasicMessageChannel(kChannel, engine_.binaryMessenger(), textCodec())
      .setMessageHandler(
          [&](std::optional<CodecValue>, FlutterMessageReply reply) { reply(CodecValue(2.5)); });

  uiSends(bytesOf("sx"));

  ASSERT_TRUE(pumpMainUntil([&] { return uiReplies_.size() == 1; }));
  EXPECT_EQ(uiReplies_.values()[0], "<no reply>");
}

TEST_F(FlutterBasicMessageChannelReceiveTest,
       HandlerOutlivesTheChannelUntilAnEmptyHandlerRemovesIt) {
  {
    FlutterBasicMessageChannel channel(kChannel, engine_.binaryMessenger(), textCodec());
    channel.setMessageHandler([&](std::optional<CodecValue> message, FlutterMessageReply reply) {
      handled_.add(describe(message));
      reply(CodecNull{});
    });
  }
  uiSends(bytesOf("sfirst"));
  ASSERT_TRUE(pumpMainUntil([&] { return uiReplies_.size() == 1; }));

  FlutterBasicMessageChannel(kChannel, engine_.binaryMessenger(), textCodec())
      .setMessageHandler({});
  uiSends(bytesOf("ssecond"));
  ASSERT_TRUE(pumpMainUntil([&] { return uiReplies_.size() == 2; }));

  EXPECT_EQ(handled_.values(), std::vector<std::string>{"text first"});
  EXPECT_EQ(uiReplies_.values(), (std::vector<std::string>{"bytes ", "<no reply>"}));
}

// At stake: an event sent through a short-lived channel is encoded and
// delivered, and its reply callback runs once on the main thread with the
// decoded reply, whatever the UI answers, even when the channel is long gone.
class FlutterBasicMessageChannelSendTest : public testing::Test {
 protected:
  void hostSends(const CodecValue& message) {
    FlutterBasicMessageChannel channel(channelName_, engine_.binaryMessenger(), textCodec());
    channel.sendMessage(message, [this](std::optional<CodecValue> reply) {
      replies_.add(describe(reply) + (MainRunLoop::shared().isMainThread() ? "" : " off main"));
    });
  }

  void uiAnswers(Bytes answer) {
    engine_.uiSide().setHandler(kChannel, [this, answer](Bytes message, FlutterBinaryReply reply) {
      uiReceived_.add(textOf(message));
      reply(answer);
    });
  }

  static constexpr const char* kChannel = "test.send";
  // Shared, as a sender making one channel per event holds it.
  const std::shared_ptr<const std::string> channelName_ =
      std::make_shared<const std::string>(kChannel);
  TestRecorder<std::string> replies_;
  TestRecorder<std::string> uiReceived_;
  FlutterEngine engine_;
};

TEST_F(FlutterBasicMessageChannelSendTest,
       MessageIsEncodedAndTheReplyDecodedAfterTheChannelIsGone) {
  uiAnswers(bytesOf("i42"));

  hostSends(CodecValue("event"));

  ASSERT_TRUE(pumpMainUntil([&] { return replies_.size() == 1; }));
  EXPECT_EQ(uiReceived_.values(), std::vector<std::string>{"sevent"});
  EXPECT_EQ(replies_.values()[0], "int 42");
}

TEST_F(FlutterBasicMessageChannelSendTest, ReplyThatFailsToDecodeIsReportedAsNoReply) {
  uiAnswers(bytesOf("#not a value"));

  hostSends(CodecValue("event"));

  ASSERT_TRUE(pumpMainUntil([&] { return replies_.size() == 1; }));
  EXPECT_EQ(replies_.values()[0], "<no reply>");
}

TEST_F(FlutterBasicMessageChannelSendTest,
       MessageTheCodecCannotEncodeIsNotSentButStillCalledBackOnMainThread) {
  uiAnswers(bytesOf("sunexpected"));

  std::thread sender([&] { hostSends(CodecValue(1.5)); });
  sender.join();

  ASSERT_TRUE(pumpMainUntil([&] { return replies_.size() == 1; }));
  EXPECT_EQ(replies_.values()[0], "<no reply>");
  EXPECT_EQ(uiReceived_.size(), 0u);
}

}  // namespace
}  // namespace harkwell::test
