#include "bridge/BridgeHostApiSetup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <typeinfo>

#include "bridge/PigeonError.h"
#include "bridge/ProtocolErrors.h"
#include "bridge/WrapError.h"
#include "platform/flutter/FlutterError.h"
#include "tests/bridge/BridgeChannelTestSupport.h"

namespace harkwell::test {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

enum class Mode { succeed, fail, completeTwice, dropCompletion };

// Fails getDevices with C/M and listen with a thrown C, completes
// checkPermission twice (denied, then granted) or never.
void configure(FakeHostApi& api, Mode mode) {
  if (mode == Mode::fail) {
    api.getDevicesDoes = [](AudioDeviceType, GetDevicesCompletion done) {
      done(Result<std::vector<AudioDevice>>::failure(PigeonError("C", "M")));
    };
    api.listenDoes = [](const AudioDevice&) { throw PigeonError("C"); };
  }
  if (mode == Mode::completeTwice) {
    api.checkPermissionDoes = [](CheckPermissionCompletion done) {
      done(Result<AudioPermission>::success({false, true}));
      done(Result<AudioPermission>::success({true, true}));
    };
  }
  if (mode == Mode::dropCompletion) api.checkPermissionDoes = [](CheckPermissionCompletion) {};
}

const std::string prefix = "dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.";
const char* const operations[] = {"getDevices", "listen", "unlisten", "checkPermission",
                                  "requestPermission"};

// [AudioDevice{"N", output, "I", true}] as the UI sends it.
const char* const deviceMessage =
    "0c 01 | 80 0c 04 | 07 01 4e | 04 01 00 00 00 00 00 00 00 | 07 01 49 | 01";

// At stake: each handler answers exactly once with what the generated UI code
// reads: [result] or [null] on success, [code, message, details] on failure,
// however often the api completes. A message that breaks the protocol fails
// only itself, with a stable code and a message naming the channel, before the
// api is called.
TEST(HostChannelTest, AnswersOnceWithWhatTheUiReadsOnTheChannelsTheUiCalls) {
  struct {
    Mode mode;
    std::string operation;
    const char* messageHex;
    std::string reply;    // the exact bytes, or the code of an error naming the channel
    const char* apiCall;  // "": the api is not called
  } const cases[] = {
      {Mode::succeed, "listen", deviceMessage, "0c 01 00", "listen(I)"},
      {Mode::succeed, "unlisten", deviceMessage, "0c 01 00", "unlisten(I)"},
      {Mode::succeed, "requestPermission", "0c 01 04 01 00 00 00 00 00 00 00", "0c 01 00",
       "requestPermission(1)"},
      {Mode::succeed, "getDevices", "0c 01 03 00 00 00 00", "0c 01 0c 00", "getDevices(0)"},
      // The UI's runtime may send checkPermission's empty arguments in any form.
      {Mode::succeed, "checkPermission", "", "0c 01 82 0c 02 01 01", "checkPermission"},
      {Mode::succeed, "checkPermission", "ff ff ff", "0c 01 82 0c 02 01 01", "checkPermission"},
      {Mode::completeTwice, "checkPermission", "", "0c 01 82 0c 02 02 01", "checkPermission"},
      {Mode::fail, "getDevices", "0c 01 03 01 00 00 00", "0c 03 07 01 43 07 01 4d 00",
       "getDevices(1)"},
      {Mode::fail, "listen", deviceMessage, "0c 03 07 01 43 00 00", "listen(I)"},
      {Mode::dropCompletion, "checkPermission", "", "no-reply", "checkPermission"},
      {Mode::succeed, "getDevices", "0c 01 04 01 00", "malformed-message", ""},
      {Mode::succeed, "getDevices", "", "invalid-message", ""},
      {Mode::succeed, "listen", "0c 00", "missing-argument", ""},
      {Mode::succeed, "getDevices", "0c 01 00", "null-argument", ""},
      {Mode::succeed, "listen", "0c 01 82 0c 02 01 02", "invalid-argument", ""},
      {Mode::succeed, "requestPermission", "0c 01 04 ff ff ff ff ff ff ff ff", "invalid-enum-value",
       ""},
      {Mode::succeed, "unlisten", "0c 01 80 0c 04 07 01 4e 03 07 00 00 00 07 01 49 01",
       "malformed-record", ""},
  };
  FlutterEngine engine;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.operation + " " + c.messageHex);
    auto api = std::make_shared<FakeHostApi>();
    configure(*api, c.mode);
    BridgeHostApiSetup::setUp(engine.binaryMessenger(), api);
    const auto replies = callFromUi(engine, prefix + c.operation, c.messageHex);
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_TRUE(replies[0].has_value());
    EXPECT_EQ(api->calls.values(),
              *c.apiCall ? std::vector<std::string>{c.apiCall} : std::vector<std::string>{});
    if (c.reply.starts_with("0c")) {
      EXPECT_EQ(hexFromBytes(*replies[0]), normalizedHex(c.reply));
      continue;
    }
    const CodecDecodeResult decoded = BridgeHostApiCodec::shared().decode(*replies[0]);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    const CodecList& error = std::get<CodecList>(*decoded.value);
    ASSERT_EQ(error.size(), 3u);
    EXPECT_EQ(error[0], CodecValue(c.reply));
    EXPECT_THAT(std::get<std::string>(error[1]), HasSubstr("'" + prefix + c.operation + "'"));
    EXPECT_TRUE(error[2].isNull());
  }
  // The channel names are the contract with the UI: a suffix is joined with a
  // point, and an absent api really closes every channel and lets the api go.
  auto api = std::make_shared<FakeHostApi>();
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), nullptr);
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), api, "s");
  for (const std::string operation : operations) {
    EXPECT_TRUE(callFromUi(engine, prefix + operation + ".s", "")[0].has_value()) << operation;
    EXPECT_FALSE(callFromUi(engine, prefix + operation, "")[0].has_value()) << operation;
  }
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), nullptr, "s");
  for (const std::string operation : operations) {
    EXPECT_FALSE(callFromUi(engine, prefix + operation + ".s", deviceMessage)[0].has_value());
  }
  EXPECT_EQ(api.use_count(), 1) << "the removed handlers still hold the api";
}

struct OddError : std::runtime_error {
  OddError() : std::runtime_error("odd failure") {}
};
struct Outer {
  struct Inner {};
};
template <class T>
struct Box {};

// At stake: whatever goes wrong in the host reaches the UI as three elements
// its generated code can read: our own errors with code, message and details
// intact; anything else as its text, bare type name and stack.
TEST(WrapErrorTest, OurOwnErrorsKeepTheirFieldsAndAnythingElseGivesTextTypeAndStack) {
  const CodecValue details = CodecMap{{"k", std::int32_t{1}}};
  EXPECT_EQ(wrapError(std::make_exception_ptr(PigeonError("C", "M", details))),
            (CodecList{"C", "M", details}));
  EXPECT_EQ(wrapError(std::make_exception_ptr(FlutterError("F", std::nullopt, details))),
            (CodecList{"F", CodecValue(), details}));

  const CodecList odd = wrapError(std::make_exception_ptr(OddError()));
  EXPECT_EQ(odd[0], CodecValue("odd failure"));
  EXPECT_EQ(odd[1], CodecValue("OddError"));
  EXPECT_THAT(std::get<std::string>(odd[2]), MatchesRegex(R"(Stacktrace: \[".*", ".*"\])"));
  EXPECT_EQ(wrapError(std::make_exception_ptr(std::string("plain")))[0], CodecValue("plain"));
  for (const std::exception_ptr& error : {std::make_exception_ptr(42), std::exception_ptr()}) {
    const CodecList reply = wrapError(error);
    ASSERT_EQ(reply.size(), 3u);
    ASSERT_TRUE(reply[0].is<std::string>() && reply[1].is<std::string>());
    EXPECT_THAT(std::get<std::string>(reply[2]), MatchesRegex(R"(Stacktrace: \[(".*")?\])"));
  }
  EXPECT_EQ(wrapError(std::make_exception_ptr(42))[1], CodecValue("int"));

  EXPECT_EQ(unqualifiedTypeName(typeid(std::runtime_error)), "runtime_error");
  EXPECT_EQ(unqualifiedTypeName(typeid(Outer::Inner)), "Inner");
  EXPECT_EQ(unqualifiedTypeName(typeid(Box<std::runtime_error>)), "Box<std::runtime_error>");
}

}  // namespace
}  // namespace harkwell::test
