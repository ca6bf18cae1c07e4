#include "bridge/BridgeFlutterApi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bridge/ProtocolErrors.h"
#include "tests/bridge/BridgeChannelTestSupport.h"

namespace harkwell::test {
namespace {

using harkwell::testing::bytesFromHex;
using harkwell::testing::hexFromBytes;
using harkwell::testing::normalizedHex;
using ::testing::HasSubstr;

using EventResult = Result<void, PigeonError>;

const std::string eventChannel = "dev.flutter.pigeon.harkwell_bridge.BridgeFlutterApi.onEvent";

NativeAudioEvent startEvent(const std::string& id) {
  return NativeAudioEvent{id, AudioDeviceType::input, NativeAudioEventType::deviceStart,
                          std::nullopt, std::nullopt};
}

class EventChannelTest : public ::testing::Test {
 protected:
  // From now on the UI records each event's bytes and answers with `reply`
  // (nullopt: a null reply).
  void uiAnswers(std::optional<Bytes> reply) {
    engine.uiSide().setHandler(
        eventChannel, [received = received, reply](Bytes message, FlutterBinaryReply respond) {
          received->add(std::move(message));
          respond(reply);
        });
  }

  // Sends `event` and pumps the main loop until its completion has run; returns
  // every completion result seen by then.
  std::vector<EventResult> send(NativeAudioEvent event) {
    auto results = std::make_shared<TestRecorder<EventResult>>();
    api.onEvent(std::move(event),
                [results](EventResult result) { results->add(std::move(result)); });
    pumpMainUntil([&] { return results->size() > 0; });
    pumpMainIdle();
    return results->values();
  }

  FlutterEngine engine;
  BridgeFlutterApi api{engine.binaryMessenger()};
  std::shared_ptr<TestRecorder<Bytes>> received = std::make_shared<TestRecorder<Bytes>>();
};

struct ReplyCase {
  const char* name;
  std::optional<const char*> replyHex;  // nullopt: a null reply
  std::optional<std::string> code;      // nullopt: success
  std::optional<std::string> message;
  std::optional<CodecValue> details;
};

// At stake: the UI gets each event as the one-element list its generated code
// decodes; the completion tells success from failure exactly as the UI's reply
// says, and a reply that breaks the protocol yields a readable failure, never a
// crash.
class EventChannelReplyTest : public EventChannelTest,
                              public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(EventChannelReplyTest, SendsTheEventAndGivesTheCompletionWhatTheReplySays) {
  const ReplyCase& reply = GetParam();
  uiAnswers(reply.replyHex ? std::optional<Bytes>(bytesFromHex(*reply.replyHex)) : std::nullopt);
  std::vector<EventResult> results = send(startEvent("A"));
  ASSERT_EQ(received->size(), 1u);
  EXPECT_EQ(hexFromBytes(received->values()[0]),
            normalizedHex("0c 01 | 80 0c 05 | 07 01 41 | 04 00 00 00 00 00 00 00 00 |"
                          "04 03 00 00 00 00 00 00 00 | 00 | 00"));
  ASSERT_EQ(results.size(), 1u);
  if (!reply.code) {
    EXPECT_TRUE(results[0].ok());
    return;
  }
  ASSERT_FALSE(results[0].ok());
  const PigeonError& error = results[0].error();
  EXPECT_EQ(error.code(), *reply.code);
  if (*reply.code == protocolError::malformedReply) {
    EXPECT_THAT(error.message().value_or(""), HasSubstr("'" + eventChannel + "'"));
    EXPECT_TRUE(error.details() && error.details()->is<CodecList>())
        << "the malformed reply should travel as details";
    return;
  }
  EXPECT_EQ(error.message(), reply.message);
  EXPECT_EQ(error.details(), reply.details);
}

const std::string connectionMessage =
    "Unable to establish connection on channel: '" + eventChannel + "'.";
const std::string malformed(protocolError::malformedReply);

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

INSTANTIATE_TEST_SUITE_P(Replies, EventChannelReplyTest, ::testing::ValuesIn(replyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// At stake: onEvent runs on capture queues; what a sender's completion throws
// must not reach them nor stop the next event.
TEST_F(EventChannelTest, AThrowingCompletionDoesNotStopTheNextEvent) {
  uiAnswers(bytesFromHex("0c 00"));
  api.onEvent(startEvent("A"), [](EventResult) { throw std::runtime_error("sender bug"); });
  EXPECT_EQ(send(startEvent("B")).size(), 1u);
  EXPECT_EQ(received->size(), 2u);
}

}  // namespace
}  // namespace harkwell::test
