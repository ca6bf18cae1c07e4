#include "bridge/BridgeFlutterApi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/bridge/BridgeChannelTestSupport.h"

namespace harkwell::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using EventResult = Result<void, PigeonError>;

const std::string channel = "dev.flutter.pigeon.harkwell_bridge.BridgeFlutterApi.onEvent";

struct ReplyCase {
  std::optional<const char*> replyHex;  // nullopt: a null reply
  std::string code;                     // empty: success
  std::optional<std::string> message;
  std::optional<CodecValue> details;  // for malformed-reply: the reply as a list
};

// At stake: the UI gets each event as the one-element list its generated code
// decodes; the completion runs once and carries the UI's error, or names the
// channel when the reply is none or breaks the protocol; and what a completion
// throws (onEvent runs on capture queues) neither escapes nor stops the next
// event. (Which replies give which code is the event_reply fuzz check's model,
// replayed over its corpus.)
TEST(EventChannelTest, SendsTheEventAndGivesTheCompletionWhatTheReplySays) {
  const ReplyCase cases[] = {
      {std::nullopt, "channel-error",
       "Unable to establish connection on channel: '" + channel + "'.", CodecValue("")},
      {"0c 01 00", "", std::nullopt, std::nullopt},
      {"0c 03 07 01 43 07 01 4d 00", "C", "M", std::nullopt},
      {"0c 03 07 01 43 00 07 01 64", "C", std::nullopt, CodecValue("d")},
      {"0c 02 07 01 43 07 01 4d", "malformed-reply", std::nullopt, CodecList{"C", "M"}},
      {"0c 03 07 01 43 00 0d 00", "malformed-reply", std::nullopt,
       CodecList{"C", CodecValue(), CodecMap{}}},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.replyHex.value_or("null reply"));
    FlutterEngine engine;
    BridgeFlutterApi api{engine.binaryMessenger()};
    auto received = std::make_shared<TestRecorder<Bytes>>();
    const std::optional<Bytes> reply =
        c.replyHex ? std::optional(bytesFromHex(*c.replyHex)) : std::nullopt;
    engine.uiSide().setHandler(channel, [received, reply](Bytes message, FlutterBinaryReply r) {
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
    ASSERT_EQ(result.ok(), c.code.empty());
    if (result.ok()) continue;
    EXPECT_EQ(result.error().code(), c.code);
    EXPECT_EQ(result.error().details(), c.details);
    if (c.code == "malformed-reply") {
      EXPECT_THAT(result.error().message().value_or(""), ::testing::HasSubstr("'" + channel));
    } else {
      EXPECT_EQ(result.error().message(), c.message);
    }
  }
}

}  // namespace
}  // namespace harkwell::test
