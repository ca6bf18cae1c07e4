#include "bridge/BridgeHostApiSetup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bridge/PigeonError.h"
#include "bridge/ProtocolErrors.h"
#include "tests/bridge/BridgeChannelTestSupport.h"

namespace harkwell::test {
namespace {

using harkwell::testing::bytesFromHex;
using harkwell::testing::hexFromBytes;
using harkwell::testing::normalizedHex;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string getDevicesChannel = "dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.getDevices";
const std::string listenChannel = "dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.listen";
const std::string unlistenChannel = "dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.unlisten";
const std::string checkPermissionChannel =
    "dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.checkPermission";
const std::string requestPermissionChannel =
    "dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.requestPermission";
const std::vector<std::string> allChannels = {getDevicesChannel, listenChannel, unlistenChannel,
                                              checkPermissionChannel, requestPermissionChannel};

// [AudioDevice{"N", output, "I", true}] as the UI sends it.
const char* const deviceMessageHex =
    "0c 01 | 80 0c 04 | 07 01 4e | 04 01 00 00 00 00 00 00 00 | 07 01 49 | 01";

std::string replyHex(const std::vector<UiReply>& replies) {
  if (replies.size() != 1) return "expected one reply, got " + std::to_string(replies.size());
  if (!replies[0].bytes.has_value()) return "null reply";
  return hexFromBytes(*replies[0].bytes);
}

class HostChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { BridgeHostApiSetup::setUp(engine.binaryMessenger(), api); }

  std::vector<UiReply> call(const std::string& channel, const std::string& hex) {
    return callFromUi(engine, channel, bytesFromHex(hex));
  }

  FlutterEngine engine;
  std::shared_ptr<FakeHostApi> api = std::make_shared<FakeHostApi>();
};

// At stake: the reply bytes each handler puts on the wire are exactly what the
// generated UI code reads: [result] or [null] on success, never an empty list.
class HostChannelReplyShapeTest : public HostChannelTest {};

TEST_F(HostChannelReplyShapeTest, ListenAnswersWithAListHoldingNull) {
  EXPECT_EQ(replyHex(call(listenChannel, deviceMessageHex)), normalizedHex("0c 01 00"));
  EXPECT_THAT(api->calls.values(), ElementsAre("listen(I)"));
}

TEST_F(HostChannelReplyShapeTest, UnlistenAnswersWithAListHoldingNull) {
  EXPECT_EQ(replyHex(call(unlistenChannel, deviceMessageHex)), normalizedHex("0c 01 00"));
  EXPECT_THAT(api->calls.values(), ElementsAre("unlisten(I)"));
}

TEST_F(HostChannelReplyShapeTest, RequestPermissionOfOneMeansOutput) {
  EXPECT_EQ(replyHex(call(requestPermissionChannel, "0c 01 04 01 00 00 00 00 00 00 00")),
            normalizedHex("0c 01 00"));
  EXPECT_THAT(api->calls.values(), ElementsAre("requestPermission(1)"));
}

TEST_F(HostChannelReplyShapeTest, GetDevicesAcceptsAnInt32Type) {
  EXPECT_EQ(replyHex(call(getDevicesChannel, "0c 01 03 00 00 00 00")),
            normalizedHex("0c 01 0c 00"));
  EXPECT_THAT(api->calls.values(), ElementsAre("getDevices(0)"));
}

TEST_F(HostChannelReplyShapeTest, GetDevicesAnswersWithAListOfRecords) {
  api->getDevicesDoes = [](AudioDeviceType, GetDevicesCompletion completion) {
    completion(Result<std::vector<AudioDevice>>::success(
        {AudioDevice{"N", AudioDeviceType::output, "I", true},
         AudioDevice{"N", AudioDeviceType::output, "I", true}}));
  };
  const std::string deviceHex = "80 0c 04 07 01 4e 04 01 00 00 00 00 00 00 00 07 01 49 01";
  EXPECT_EQ(replyHex(call(getDevicesChannel, "0c 01 04 01 00 00 00 00 00 00 00")),
            normalizedHex("0c 01 0c 02" + deviceHex + deviceHex));
}

TEST_F(HostChannelReplyShapeTest, CheckPermissionAnswersWithTheRecord) {
  api->checkPermissionDoes = [](CheckPermissionCompletion completion) {
    completion(Result<AudioPermission>::success(AudioPermission{true, false}));
  };
  EXPECT_EQ(replyHex(call(checkPermissionChannel, "")), normalizedHex("0c 01 82 0c 02 01 02"));
}

// At stake: the UI sends checkPermission without arguments in whatever form its
// runtime chooses; none of them may stop the call.
class CheckPermissionMessageTest : public HostChannelTest,
                                   public ::testing::WithParamInterface<const char*> {};

TEST_P(CheckPermissionMessageTest, IsAnsweredWhateverTheMessageHolds) {
  EXPECT_EQ(replyHex(call(checkPermissionChannel, GetParam())),
            normalizedHex("0c 01 82 0c 02 01 01"));
  EXPECT_THAT(api->calls.values(), ElementsAre("checkPermission"));
}

INSTANTIATE_TEST_SUITE_P(Messages, CheckPermissionMessageTest,
                         ::testing::Values("", "00", "0c 00", "0c 02 01 02", "ff ff ff", "0c 05"));

// At stake: replies sent from the thread that completes the operation, at any
// time, reach the UI exactly once; a misbehaving api never produces a second
// reply or none at all.
class HostChannelCompletionTest : public HostChannelTest {};

TEST_F(HostChannelCompletionTest, ACompletionOnAnotherThreadStillReachesTheUi) {
  std::thread worker;
  api->getDevicesDoes = [&worker](AudioDeviceType, GetDevicesCompletion completion) {
    worker = std::thread([completion = std::move(completion)] {
      completion(Result<std::vector<AudioDevice>>::success(
          {AudioDevice{"N", AudioDeviceType::output, "I", true}}));
    });
  };
  std::vector<UiReply> replies = call(getDevicesChannel, "0c 01 04 01 00 00 00 00 00 00 00");
  worker.join();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_TRUE(replies[0].onUiThread);
  EXPECT_EQ(replyHex(replies),
            normalizedHex("0c 01 0c 01 80 0c 04 07 01 4e 04 01 00 00 00 00 00 00 00 07 01 49 01"));
}

TEST_F(HostChannelCompletionTest, ACompletionCalledTwiceAnswersOnce) {
  api->checkPermissionDoes = [](CheckPermissionCompletion completion) {
    completion(Result<AudioPermission>::success(AudioPermission{false, false}));
    completion(Result<AudioPermission>::success(AudioPermission{true, true}));
  };
  EXPECT_EQ(replyHex(call(checkPermissionChannel, "")), normalizedHex("0c 01 82 0c 02 02 02"));
}

TEST_F(HostChannelCompletionTest, AnApiThatThrowsAfterCompletingAnswersWithTheCompletion) {
  api->getDevicesDoes = [](AudioDeviceType, GetDevicesCompletion completion) {
    completion(Result<std::vector<AudioDevice>>::success({}));
    throw std::runtime_error("late");
  };
  EXPECT_EQ(replyHex(call(getDevicesChannel, "0c 01 03 01 00 00 00")),
            normalizedHex("0c 01 0c 00"));
}

TEST_F(HostChannelCompletionTest, AFailedCompletionAnswersWithTheError) {
  api->getDevicesDoes = [](AudioDeviceType, GetDevicesCompletion completion) {
    completion(Result<std::vector<AudioDevice>>::failure(PigeonError("C", "M")));
  };
  EXPECT_EQ(replyHex(call(getDevicesChannel, "0c 01 03 01 00 00 00")),
            normalizedHex("0c 03 07 01 43 07 01 4d 00"));
}

TEST_F(HostChannelCompletionTest, ADroppedCompletionAnswersWithNoReplyError) {
  api->checkPermissionDoes = [](CheckPermissionCompletion) {};
  std::vector<UiReply> replies = call(checkPermissionChannel, "");
  ASSERT_EQ(replies.size(), 1u);
  ASSERT_TRUE(replies[0].bytes.has_value());
  CodecValue reply = decodeHostReply(*replies[0].bytes);
  const CodecList& list = std::get<CodecList>(reply);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(std::get<std::string>(list[0]), protocolError::noReply);
  EXPECT_THAT(std::get<std::string>(list[1]), HasSubstr(checkPermissionChannel));
}

TEST_F(HostChannelCompletionTest, ASynchronousFailureAnswersWithWrapError) {
  api->listenDoes = [](const AudioDevice&) { throw PigeonError("C"); };
  EXPECT_EQ(replyHex(call(listenChannel, deviceMessageHex)), normalizedHex("0c 03 07 01 43 00 00"));
}

TEST_F(HostChannelCompletionTest, AnythingThrownBecomesThreeStrings) {
  api->unlistenDoes = [](const AudioDevice&) { throw 42; };
  std::vector<UiReply> replies = call(unlistenChannel, deviceMessageHex);
  ASSERT_EQ(replies.size(), 1u);
  const CodecList list = std::get<CodecList>(decodeHostReply(*replies[0].bytes));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_TRUE(list[0].is<std::string>());
  EXPECT_EQ(list[1], CodecValue("int"));
  EXPECT_THAT(std::get<std::string>(list[2]), StartsWith("Stacktrace: ["));
}

// At stake: the channel names are the contract with the UI, and an absent api
// really closes every channel.
class HostChannelRegistrationTest : public ::testing::Test {
 protected:
  FlutterEngine engine;
};

TEST_F(HostChannelRegistrationTest, ASuffixIsJoinedWithAPoint) {
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), std::make_shared<FakeHostApi>(), "s");
  for (const std::string& channel : allChannels) {
    EXPECT_NE(replyHex(callFromUi(engine, channel + ".s", bytesFromHex(""))), "null reply")
        << channel;
    EXPECT_EQ(replyHex(callFromUi(engine, channel, bytesFromHex(""))), "null reply") << channel;
  }
}

TEST_F(HostChannelRegistrationTest, AnAbsentApiRemovesAllFiveHandlers) {
  auto api = std::make_shared<FakeHostApi>();
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), api);
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), nullptr);
  for (const std::string& channel : allChannels) {
    EXPECT_EQ(replyHex(callFromUi(engine, channel, bytesFromHex(deviceMessageHex))), "null reply")
        << channel;
  }
  EXPECT_EQ(api->calls.size(), 0u);
  EXPECT_EQ(api.use_count(), 1) << "the removed handlers still hold the api";
}

// At stake: a message that breaks the protocol fails only itself: it gets an
// error reply with a stable code and a message naming the channel, the api is
// not called, and the next well-formed call on the same channel is served.
struct Violation {
  const char* name;
  std::string channel;
  const char* messageHex;
  std::string_view code;
};

class HostChannelProtocolViolationTest : public HostChannelTest,
                                         public ::testing::WithParamInterface<Violation> {};

TEST_P(HostChannelProtocolViolationTest, IsAnsweredWithAnErrorAndTheChannelKeepsWorking) {
  const Violation& violation = GetParam();
  std::vector<UiReply> replies = call(violation.channel, violation.messageHex);
  ASSERT_EQ(replies.size(), 1u);
  ASSERT_TRUE(replies[0].bytes.has_value());
  const CodecList list = std::get<CodecList>(decodeHostReply(*replies[0].bytes));
  ASSERT_EQ(list.size(), 3u);
  ASSERT_TRUE(list[0].is<std::string>());
  EXPECT_EQ(std::get<std::string>(list[0]), violation.code) << std::get<std::string>(list[1]);
  EXPECT_THAT(std::get<std::string>(list[1]), HasSubstr("'" + violation.channel + "'"));
  EXPECT_TRUE(list[2].isNull());
  EXPECT_EQ(api->calls.size(), 0u) << "the api was called";

  const bool takesDevice =
      violation.channel == listenChannel || violation.channel == unlistenChannel;
  std::vector<UiReply> next =
      call(violation.channel, takesDevice ? deviceMessageHex : "0c 01 03 00 00 00 00");
  EXPECT_THAT(replyHex(next), StartsWith("0c 01 ")) << "the next call was not served";
  EXPECT_EQ(api->calls.size(), 1u);
}

const Violation violations[] = {
    {"Truncated", getDevicesChannel, "0c 01 04 01 00", protocolError::malformedMessage},
    {"UnknownTypeByte", getDevicesChannel, "0c 01 20", protocolError::malformedMessage},
    {"TrailingBytes", requestPermissionChannel, "0c 01 03 00 00 00 00 00",
     protocolError::malformedMessage},
    {"ZeroLength", getDevicesChannel, "", protocolError::invalidMessage},
    {"NotAList", requestPermissionChannel, "03 01 00 00 00", protocolError::invalidMessage},
    {"EmptyList", getDevicesChannel, "0c 00", protocolError::missingArgument},
    {"NullType", getDevicesChannel, "0c 01 00", protocolError::nullArgument},
    {"StringType", getDevicesChannel, "0c 01 07 01 31", protocolError::invalidArgument},
    {"DoubleType", requestPermissionChannel, "0c 01 06 00 00 00 00 00 | 00 00 00 00 00 00 f0 3f",
     protocolError::invalidArgument},
    {"TypeTwo", getDevicesChannel, "0c 01 03 02 00 00 00", protocolError::invalidEnumValue},
    {"NegativeType", requestPermissionChannel, "0c 01 04 ff ff ff ff ff ff ff ff",
     protocolError::invalidEnumValue},
    {"MissingDevice", listenChannel, "0c 00", protocolError::missingArgument},
    {"NullDevice", unlistenChannel, "0c 01 00", protocolError::nullArgument},
    {"PermissionForDevice", listenChannel, "0c 01 82 0c 02 01 02", protocolError::invalidArgument},
    {"PlainListForDevice", listenChannel, "0c 01 0c 04 07 01 4e 03 01 00 00 00 07 01 49 01",
     protocolError::invalidArgument},
    {"ShortDeviceRecord", listenChannel, "0c 01 80 0c 02 07 01 4e 03 01 00 00 00",
     protocolError::malformedRecord},
    {"DeviceOfTypeSeven", unlistenChannel, "0c 01 80 0c 04 07 01 4e 03 07 00 00 00 07 01 49 01",
     protocolError::malformedRecord},
    {"DeviceWithNullName", listenChannel, "0c 01 80 0c 04 00 03 01 00 00 00 07 01 49 01",
     protocolError::malformedRecord},
    {"RecordCodeBeforeAString", listenChannel, "0c 01 81 07 01 49", protocolError::malformedRecord},
    {"EventCodeOnHostChannel", listenChannel, "0c 01 83 0c 00", protocolError::malformedMessage},
};

INSTANTIATE_TEST_SUITE_P(Messages, HostChannelProtocolViolationTest,
                         ::testing::ValuesIn(violations),
                         [](const ::testing::TestParamInfo<Violation>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace harkwell::test
