#include "bridge/BridgeHostApiSetup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
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

const std::string prefix = "dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.";
const std::string getDevices = prefix + "getDevices";
const std::string listen = prefix + "listen";
const std::string unlisten = prefix + "unlisten";
const std::string checkPermission = prefix + "checkPermission";
const std::string requestPermission = prefix + "requestPermission";

// [AudioDevice{"N", output, "I", true}] as the UI sends it.
const char* const deviceMessage =
    "0c 01 | 80 0c 04 | 07 01 4e | 04 01 00 00 00 00 00 00 00 | 07 01 49 | 01";

std::string replyHex(const std::vector<UiReply>& replies) {
  if (replies.size() != 1) return "expected one reply, got " + std::to_string(replies.size());
  return replies[0].bytes ? hexFromBytes(*replies[0].bytes) : "null reply";
}

class HostChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { BridgeHostApiSetup::setUp(engine.binaryMessenger(), api); }
  std::vector<UiReply> call(const std::string& channel, const std::string& hex) {
    return callFromUi(engine, channel, bytesFromHex(hex));
  }
  // The reply, which must be a three-element error, decoded.
  CodecList errorReply(const std::string& channel, const std::string& hex) {
    std::vector<UiReply> replies = call(channel, hex);
    if (replies.size() != 1 || !replies[0].bytes) return {};
    return std::get<CodecList>(decodeHostReply(*replies[0].bytes));
  }

  FlutterEngine engine;
  std::shared_ptr<FakeHostApi> api = std::make_shared<FakeHostApi>();
};

struct ReplyCase {
  const char* name;
  std::string channel;
  const char* messageHex;
  const char* replyHex;
  const char* apiCall;
};

// At stake: each handler puts on the wire exactly what the generated UI code
// reads: [result] or [null] on success, never an empty list.
class HostChannelReplyTest : public HostChannelTest,
                             public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(HostChannelReplyTest, AnswersWithTheExactBytes) {
  EXPECT_EQ(replyHex(call(GetParam().channel, GetParam().messageHex)),
            normalizedHex(GetParam().replyHex));
  EXPECT_THAT(api->calls.values(), ElementsAre(GetParam().apiCall));
}

const ReplyCase replyCases[] = {
    {"Listen", listen, deviceMessage, "0c 01 00", "listen(I)"},
    {"RequestOutput", requestPermission, "0c 01 04 01 00 00 00 00 00 00 00", "0c 01 00",
     "requestPermission(1)"},
    {"Int32Type", getDevices, "0c 01 03 00 00 00 00", "0c 01 0c 00", "getDevices(0)"},
    // The UI's runtime may send checkPermission's empty arguments in any form.
    {"CheckEmpty", checkPermission, "", "0c 01 82 0c 02 01 01", "checkPermission"},
    {"CheckGarbage", checkPermission, "ff ff ff", "0c 01 82 0c 02 01 01", "checkPermission"},
};

INSTANTIATE_TEST_SUITE_P(Calls, HostChannelReplyTest, ::testing::ValuesIn(replyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// At stake: failures reach the UI as three elements, and a completion answers
// once, whatever the api does after it.
TEST_F(HostChannelTest, FailuresAndRepeatedCompletionsAnswerOnceWithTheExactBytes) {
  api->checkPermissionDoes = [](CheckPermissionCompletion completion) {
    completion(Result<AudioPermission>::success(AudioPermission{false, false}));
    completion(Result<AudioPermission>::success(AudioPermission{true, true}));
  };
  EXPECT_EQ(replyHex(call(checkPermission, "")), normalizedHex("0c 01 82 0c 02 02 02"));
  api->getDevicesDoes = [](AudioDeviceType, GetDevicesCompletion completion) {
    completion(Result<std::vector<AudioDevice>>::failure(PigeonError("C", "M")));
  };
  EXPECT_EQ(replyHex(call(getDevices, "0c 01 03 01 00 00 00")),
            normalizedHex("0c 03 07 01 43 07 01 4d 00"));
  api->listenDoes = [](const AudioDevice&) { throw PigeonError("C"); };
  EXPECT_EQ(replyHex(call(listen, deviceMessage)), normalizedHex("0c 03 07 01 43 00 00"));
}

// At stake: a dropped completion still gets the UI an answer.
TEST_F(HostChannelTest, ADroppedCompletionAnswersWithNoReplyError) {
  api->checkPermissionDoes = [](CheckPermissionCompletion) {};
  const CodecList reply = errorReply(checkPermission, "");
  ASSERT_EQ(reply.size(), 3u);
  EXPECT_EQ(std::get<std::string>(reply[0]), protocolError::noReply);
  EXPECT_THAT(std::get<std::string>(reply[1]), HasSubstr(checkPermission));
}

// At stake: the channel names are the contract with the UI, and an absent api
// really closes every channel.
TEST(HostChannelRegistrationTest, ASuffixIsJoinedWithAPointAndAnAbsentApiClosesAllFive) {
  FlutterEngine engine;
  auto api = std::make_shared<FakeHostApi>();
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), api, "s");
  for (const std::string& channel :
       {getDevices, listen, unlisten, checkPermission, requestPermission}) {
    EXPECT_NE(replyHex(callFromUi(engine, channel + ".s", bytesFromHex(""))), "null reply");
    EXPECT_EQ(replyHex(callFromUi(engine, channel, bytesFromHex(""))), "null reply") << channel;
  }
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), nullptr, "s");
  for (const std::string& channel :
       {getDevices, listen, unlisten, checkPermission, requestPermission}) {
    EXPECT_EQ(replyHex(callFromUi(engine, channel + ".s", bytesFromHex(deviceMessage))),
              "null reply")
        << channel;
  }
  EXPECT_EQ(api.use_count(), 1) << "the removed handlers still hold the api";
}

struct Violation {
  const char* name;
  std::string channel;
  const char* messageHex;
  std::string_view code;
};

// At stake: a message that breaks the protocol fails only itself: it gets an
// error reply with a stable code and a message naming the channel, the api is
// not called, and the next well-formed call on the same channel is served.
class HostChannelProtocolViolationTest : public HostChannelTest,
                                         public ::testing::WithParamInterface<Violation> {};

TEST_P(HostChannelProtocolViolationTest, IsAnsweredWithAnErrorAndTheChannelKeepsWorking) {
  const Violation& violation = GetParam();
  const CodecList reply = errorReply(violation.channel, violation.messageHex);
  ASSERT_EQ(reply.size(), 3u);
  ASSERT_TRUE(reply[0].is<std::string>());
  EXPECT_EQ(std::get<std::string>(reply[0]), violation.code) << std::get<std::string>(reply[1]);
  EXPECT_THAT(std::get<std::string>(reply[1]), HasSubstr("'" + violation.channel + "'"));
  EXPECT_TRUE(reply[2].isNull());
  EXPECT_EQ(api->calls.size(), 0u) << "the api was called";

  const bool takesDevice = violation.channel == listen || violation.channel == unlisten;
  EXPECT_THAT(
      replyHex(call(violation.channel, takesDevice ? deviceMessage : "0c 01 03 00 00 00 00")),
      StartsWith("0c 01 "))
      << "the next call was not served";
}

const Violation violations[] = {
    {"Truncated", getDevices, "0c 01 04 01 00", protocolError::malformedMessage},
    {"ZeroLength", getDevices, "", protocolError::invalidMessage},
    {"EmptyList", listen, "0c 00", protocolError::missingArgument},
    {"NullType", getDevices, "0c 01 00", protocolError::nullArgument},
    {"PermissionForDevice", listen, "0c 01 82 0c 02 01 02", protocolError::invalidArgument},
    {"NegativeType", requestPermission, "0c 01 04 ff ff ff ff ff ff ff ff",
     protocolError::invalidEnumValue},
    {"DeviceOfTypeSeven", unlisten, "0c 01 80 0c 04 07 01 4e 03 07 00 00 00 07 01 49 01",
     protocolError::malformedRecord},
};

INSTANTIATE_TEST_SUITE_P(Messages, HostChannelProtocolViolationTest,
                         ::testing::ValuesIn(violations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harkwell::test
