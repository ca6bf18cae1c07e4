#include "bridge/BridgeFlutterApi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/ProtocolErrors.h"
#include "platform/dispatch/MainRunLoop.h"
#include "tests/bridge/BridgeChannelTestSupport.h"

namespace harkwell::test {
namespace {

using harkwell::testing::bytesFromHex;
using harkwell::testing::hexFromBytes;
using harkwell::testing::normalizedHex;
using ::testing::ElementsAre;
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
  void uiAnswers(std::optional<Bytes> reply, const std::string& channel = eventChannel) {
    engine.uiSide().setHandler(
        channel, [received = received, reply](Bytes message, FlutterBinaryReply respond) {
          received->add(std::move(message));
          respond(reply);
        });
  }

  // Sends `event` and pumps the main loop until its completion has run; returns
  // every completion result seen by then.
  std::vector<EventResult> send(BridgeFlutterApi& sender, NativeAudioEvent event) {
    auto results = std::make_shared<TestRecorder<EventResult>>();
    sender.onEvent(std::move(event),
                   [results](EventResult result) { results->add(std::move(result)); });
    pumpMainUntil([&] { return results->size() > 0; });
    pumpMainIdle();
    return results->values();
  }
  std::vector<EventResult> send(NativeAudioEvent event) { return send(api, std::move(event)); }

  FlutterEngine engine;
  BridgeFlutterApi api{engine.binaryMessenger()};
  std::shared_ptr<TestRecorder<Bytes>> received = std::make_shared<TestRecorder<Bytes>>();
};

// At stake: the UI gets each event as the one-element list its generated code
// decodes, on exactly the channel name it listens on.
class EventChannelMessageTest : public EventChannelTest {};

TEST_F(EventChannelMessageTest, TheUiReceivesTheEventInAOneElementList) {
  uiAnswers(bytesFromHex("0c 00"));
  send(startEvent("A"));
  ASSERT_EQ(received->size(), 1u);
  EXPECT_EQ(hexFromBytes(received->values()[0]),
            normalizedHex("0c 01 | 80 0c 05 | 07 01 41 | 04 00 00 00 00 00 00 00 00 |"
                          "04 03 00 00 00 00 00 00 00 | 00 | 00"));
}

TEST_F(EventChannelMessageTest, ASuffixIsJoinedWithAPoint) {
  BridgeFlutterApi suffixed(engine.binaryMessenger(), "s");
  EXPECT_EQ(suffixed.channelName(), eventChannel + ".s");
  EXPECT_EQ(api.channelName(), eventChannel);
  uiAnswers(bytesFromHex("0c 00"), eventChannel + ".s");
  std::vector<EventResult> results = send(suffixed, startEvent("A"));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].ok());
  EXPECT_EQ(received->size(), 1u);
}

TEST_F(EventChannelMessageTest, AnEventWithoutCompletionIsStillDelivered) {
  uiAnswers(std::nullopt);
  api.onEvent(startEvent("A"), {});
  EXPECT_TRUE(pumpMainUntil([&] { return received->size() == 1; }));
}

// At stake: the completion tells success from failure exactly as the UI's
// reply says, and a UI that breaks the protocol in its reply yields a failure
// the sender can read, never a crash.
struct ReplyCase {
  const char* name;
  std::optional<const char*> replyHex;  // nullopt: a null reply
  std::optional<std::string> code;      // nullopt: success
  std::optional<std::string> message;
  std::optional<CodecValue> details;
};

class EventChannelReplyTest : public EventChannelTest,
                              public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(EventChannelReplyTest, GivesTheCompletionWhatTheReplySays) {
  const ReplyCase& reply = GetParam();
  uiAnswers(reply.replyHex.has_value() ? std::optional<Bytes>(bytesFromHex(*reply.replyHex))
                                       : std::nullopt);
  std::vector<EventResult> results = send(startEvent("A"));
  ASSERT_EQ(results.size(), 1u);
  if (!reply.code.has_value()) {
    EXPECT_TRUE(results[0].ok());
    return;
  }
  ASSERT_FALSE(results[0].ok());
  const PigeonError& error = results[0].error();
  EXPECT_EQ(error.code(), *reply.code);
  if (*reply.code == protocolError::malformedReply) {
    ASSERT_TRUE(error.message().has_value());
    EXPECT_THAT(*error.message(), HasSubstr("'" + eventChannel + "'"));
    EXPECT_TRUE(error.details().has_value() && error.details()->is<CodecList>())
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
    {"ZeroLengthReply", "", "channel-error", connectionMessage, CodecValue("")},
    {"StringReply", "07 01 41", "channel-error", connectionMessage, CodecValue("")},
    {"MapReply", "0d 01 07 01 41 00", "channel-error", connectionMessage, CodecValue("")},
    {"UndecodableReply", "0c 03 07", "channel-error", connectionMessage, CodecValue("")},
    {"EmptyList", "0c 00", std::nullopt, std::nullopt, std::nullopt},
    {"ListOfNull", "0c 01 00", std::nullopt, std::nullopt, std::nullopt},
    {"ErrorReply", "0c 03 07 01 43 07 01 4d 00", "C", "M", std::nullopt},
    {"ErrorWithDetails", "0c 03 07 01 43 00 07 01 64", "C", std::nullopt, CodecValue("d")},
    {"ErrorWithAFourthElement", "0c 04 07 01 43 07 01 4d 00 01", "C", "M", std::nullopt},
    {"TwoElements", "0c 02 07 01 43 07 01 4d", malformed, std::nullopt, std::nullopt},
    {"NullCode", "0c 03 00 07 01 4d 00", malformed, std::nullopt, std::nullopt},
    {"IntegerCode", "0c 03 03 01 00 00 00 07 01 4d 00", malformed, std::nullopt, std::nullopt},
    {"IntegerMessage", "0c 03 07 01 43 03 05 00 00 00 00", malformed, std::nullopt, std::nullopt},
    {"MapDetails", "0c 03 07 01 43 00 0d 00", malformed, std::nullopt, std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Replies, EventChannelReplyTest, ::testing::ValuesIn(replyCases),
                         [](const ::testing::TestParamInfo<ReplyCase>& info) {
                           return info.param.name;
                         });

// At stake: onEvent is on the audio path; it must never wait for the UI, and
// each completion runs exactly once, wherever the event came from.
class EventChannelDeliveryTest : public EventChannelTest {};

TEST_F(EventChannelDeliveryTest, NoHandlerOnTheUiSideIsAConnectionError) {
  std::vector<EventResult> results = send(startEvent("A"));
  ASSERT_EQ(results.size(), 1u);
  ASSERT_FALSE(results[0].ok());
  EXPECT_EQ(results[0].error(), PigeonError("channel-error", connectionMessage, CodecValue("")));
}

TEST_F(EventChannelDeliveryTest, OnEventReturnsBeforeTheReplyAndCompletesOnceOnTheMainThread) {
  auto pendingReply = std::make_shared<TestRecorder<FlutterBinaryReply>>();
  engine.uiSide().setHandler(eventChannel, [pendingReply](Bytes, FlutterBinaryReply respond) {
    pendingReply->add(std::move(respond));
  });
  auto onMainThread = std::make_shared<TestRecorder<bool>>();
  api.onEvent(startEvent("A"), [onMainThread](EventResult result) {
    EXPECT_TRUE(result.ok());
    onMainThread->add(MainRunLoop::shared().isMainThread());
  });
  ASSERT_TRUE(pumpMainUntil([&] { return pendingReply->size() == 1; }));
  pumpMainIdle();
  EXPECT_EQ(onMainThread->size(), 0u) << "completed before the UI answered";

  pendingReply->values()[0](bytesFromHex("0c 00"));
  ASSERT_TRUE(pumpMainUntil([&] { return onMainThread->size() > 0; }));
  pumpMainIdle();
  EXPECT_THAT(onMainThread->values(), ElementsAre(true));
}

TEST_F(EventChannelDeliveryTest, AThrowingCompletionDoesNotStopTheNextEvent) {
  uiAnswers(bytesFromHex("0c 00"));
  api.onEvent(startEvent("A"), [](EventResult) { throw std::runtime_error("sender bug"); });
  EXPECT_EQ(send(startEvent("B")).size(), 1u);
  EXPECT_EQ(received->size(), 2u);
}

TEST_F(EventChannelDeliveryTest, EventsFromSeveralThreadsArriveInOrderPerThread) {
  constexpr int threadCount = 4;
  constexpr int eventsPerThread = 50;
  auto ids = std::make_shared<TestRecorder<std::string>>();
  engine.uiSide().setHandler(eventChannel, [ids](Bytes message, FlutterBinaryReply respond) {
    CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(message);
    const CodecList* list = decoded.ok() ? decoded.value->getIf<CodecList>() : nullptr;
    const NativeAudioEvent* event =
        list != nullptr && list->size() == 1 ? (*list)[0].custom<NativeAudioEvent>() : nullptr;
    ids->add(event != nullptr ? event->id : "undecodable");
    respond(bytesFromHex("0c 00"));
  });
  auto completions = std::make_shared<TestRecorder<bool>>();
  std::vector<std::thread> senders;
  for (int t = 0; t < threadCount; ++t) {
    senders.emplace_back([this, t, completions] {
      for (int n = 0; n < eventsPerThread; ++n) {
        NativeAudioEvent event{std::to_string(t) + ":" + std::to_string(n), AudioDeviceType::output,
                               NativeAudioEventType::deviceAudioData,
                               std::vector<std::optional<double>>(64, 0.25), std::nullopt};
        api.onEvent(std::move(event),
                    [completions](EventResult result) { completions->add(result.ok()); });
      }
    });
  }
  for (std::thread& sender : senders) sender.join();
  ASSERT_TRUE(pumpMainUntil([&] { return completions->size() >= threadCount * eventsPerThread; }));
  pumpMainIdle();

  EXPECT_EQ(completions->size(), static_cast<std::size_t>(threadCount * eventsPerThread));
  std::vector<int> next(threadCount, 0);
  for (const std::string& id : ids->values()) {
    int thread = std::stoi(id.substr(0, id.find(':')));
    EXPECT_EQ(std::stoi(id.substr(id.find(':') + 1)), next[thread]++) << id;
  }
  for (int count : next) EXPECT_EQ(count, eventsPerThread);
}

}  // namespace
}  // namespace harkwell::test
