#include "bridge/BridgeFlutterApi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bridge/ProtocolErrors.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/support/CodecByteHelpers.h"
#include "tests/support/MessagingTestSupport.h"

namespace harkwell::test {
namespace {

using harkwell::testing::bytesFromHex;
using harkwell::testing::hexFromBytes;
using harkwell::testing::normalizedHex;
using Bytes = std::vector<std::uint8_t>;
using EventResult = Result<void, PigeonError>;

const std::string eventChannel = "dev.flutter.pigeon.harkwell_bridge.BridgeFlutterApi.onEvent";
const std::string connectionMessage =
    "Unable to establish connection on channel: '" + eventChannel + "'.";
const std::string malformed(protocolError::malformedReply);

struct ReplyCase {
  const char* name;
  std::optional<const char*> replyHex;  // nullopt: a null reply
  std::optional<std::string> code;      // nullopt: success
  std::optional<std::string> message;
  std::optional<CodecValue> details;
};

// At stake: the UI gets each event as the one-element list its generated code
// decodes; the completion runs once and tells success from failure exactly as
// the UI's reply says; a reply that breaks the protocol yields a readable
// failure; and what a completion throws (onEvent runs on capture queues)
// neither escapes nor stops the next event.
class EventChannelTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(EventChannelTest, SendsTheEventAndGivesTheCompletionWhatTheReplySays) {
  const ReplyCase& c = GetParam();
  FlutterEngine engine;
  BridgeFlutterApi api{engine.binaryMessenger()};
  auto received = std::make_shared<TestRecorder<Bytes>>();
  const std::optional<Bytes> reply =
      c.replyHex ? std::optional(bytesFromHex(*c.replyHex)) : std::nullopt;
  engine.uiSide().setHandler(eventChannel, [received, reply](Bytes message, FlutterBinaryReply r) {
    received->add(std::move(message));
    r(reply);
  });
  const NativeAudioEvent event{"A", AudioDeviceType::input, NativeAudioEventType::deviceStart,
                               std::nullopt, std::nullopt};
  api.onEvent(event, [](EventResult) { throw std::runtime_error("sender bug"); });
  auto results = std::make_shared<TestRecorder<EventResult>>();
  api.onEvent(event, [results](EventResult result) { results->add(std::move(result)); });
  pumpMainUntil([&] { return results->size() > 0; });
  pumpMainIdle();

  ASSERT_EQ(received->size(), 2u);
  EXPECT_EQ(hexFromBytes(received->values()[1]),
            normalizedHex("0c 01 | 80 0c 05 | 07 01 41 | 04 00 00 00 00 00 00 00 00 |"
                          "04 03 00 00 00 00 00 00 00 | 00 | 00"));
  ASSERT_EQ(results->size(), 1u);
  const EventResult result = results->values()[0];
  ASSERT_EQ(result.ok(), !c.code);
  if (result.ok()) return;
  EXPECT_EQ(result.error().code(), *c.code);
  if (*c.code == malformed) {
    EXPECT_THAT(result.error().message().value_or(""), ::testing::HasSubstr("'" + eventChannel));
    EXPECT_TRUE(result.error().details() && result.error().details()->is<CodecList>())
        << "the malformed reply should travel as details";
    return;
  }
  EXPECT_EQ(result.error().message(), c.message);
  EXPECT_EQ(result.error().details(), c.details);
}

const ReplyCase replyCases[] = {
    {"NullReply", std::nullopt, "channel-error", connectionMessage, CodecValue("")},
    {"StringReply", "07 01 41", "channel-error", connectionMessage, CodecValue("")},
    {"UndecodableReply", "0c 03 07", "channel-error", connectionMessage, CodecValue("")},
    {"EmptyList", "0c 00", std::nullopt, std::nullopt, std::nullopt},
    {"ListOfNull", "0c 01 00", std::nullopt, std::nullopt, std::nullopt},
    {"ErrorReply", "0c 03 07 01 43 07 01 4d 00", "C", "M", std::nullopt},
    {"ErrorWithDetails", "0c 03 07 01 43 00 07 01 64", "C", std::nullopt, CodecValue("d")},
    {"TwoElements", "0c 02 07 01 43 07 01 4d", malformed, std::nullopt, std::nullopt},
    {"MapDetails", "0c 03 07 01 43 00 0d 00", malformed, std::nullopt, std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Replies, EventChannelTest, ::testing::ValuesIn(replyCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harkwell::test
