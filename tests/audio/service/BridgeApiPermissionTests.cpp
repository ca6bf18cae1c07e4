#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "audio/service/SystemUrls.h"
#include "tests/audio/service/BridgeApiTestHarness.h"

namespace harkwell::test {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;
using Access = SimulatedCaptureBackend::AccessAnswer;

// At stake: checkPermission reports both permissions, asks about screen
// capture before the microphone, asks for microphone access whenever it is not
// yet authorised, and answers only once the user has.
class BridgeApiCheckPermissionTest : public BridgeApiTest {};

TEST_F(BridgeApiCheckPermissionTest, AuthorisedWithContentReportsBothWithoutAskingForAccess) {
  const UiReply reply = ui().checkPermission().reply();

  ASSERT_TRUE(reply.isSuccess()) << reply.describe();
  EXPECT_EQ(reply.permission(), (AudioPermission{true, true}));
  EXPECT_EQ(backend().accessRequestCount(), 0u);
}

TEST_F(BridgeApiCheckPermissionTest, RefusedScreenCaptureIsFalseAndTheMicrophoneIsStillChecked) {
  backend().setShareableContentError(makeCaptureError(CaptureErrorCode::notPermitted, "no"));
  backend().setAuthorizationStatus(CaptureAuthorizationStatus::denied);
  backend().setAccessAnswer(Access::granted);

  const UiReply reply = ui().checkPermission().reply();

  ASSERT_TRUE(reply.isSuccess()) << reply.describe();
  EXPECT_EQ(reply.permission(), (AudioPermission{false, true}));
  EXPECT_EQ(backend().accessRequestCount(), 1u);
  EXPECT_THAT(logLines(), IsEmpty());
}

TEST_F(BridgeApiCheckPermissionTest, ScreenCaptureIsSettledBeforeTheMicrophoneIsAsked) {
  backend().setShareableContentPending(true);
  backend().setAuthorizationStatus(CaptureAuthorizationStatus::notDetermined);
  backend().setAccessAnswer(Access::pending);

  const UiCall call = ui().checkPermission();
  ASSERT_TRUE(ui().waitUntil([&] { return backend().shareableContentQueryCount() == 1; }));
  EXPECT_EQ(backend().accessRequestCount(), 0u);

  backend().answerShareableContent();
  ASSERT_TRUE(ui().waitUntil([&] { return backend().accessRequestCount() == 1; }));
  EXPECT_FALSE(call.answered());

  backend().answerAccessRequest(true);
  EXPECT_EQ(call.reply().permission(), (AudioPermission{true, true}));
}

// At stake: while access is not determined the reply waits for the user's
// answer, whichever it is, and reports it.
class BridgeApiUndeterminedAccessTest : public BridgeApiCheckPermissionTest,
                                        public ::testing::WithParamInterface<bool> {};

TEST_P(BridgeApiUndeterminedAccessTest, RepliesOnlyAfterTheUserAnswersAndReportsTheAnswer) {
  backend().setAuthorizationStatus(CaptureAuthorizationStatus::notDetermined);
  backend().setAccessAnswer(Access::pending);

  const UiCall call = ui().checkPermission();
  ASSERT_TRUE(ui().waitUntil([&] { return backend().accessRequestCount() == 1; }));
  // The task is waiting for the user: whatever else is in flight is through.
  EXPECT_FALSE(call.answered());

  ASSERT_EQ(backend().answerAccessRequest(GetParam()), 1u);

  const UiReply reply = call.reply();
  ASSERT_TRUE(reply.isSuccess()) << reply.describe();
  EXPECT_EQ(reply.permission(), (AudioPermission{true, GetParam()}));
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(call.replyCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Answers, BridgeApiUndeterminedAccessTest, ::testing::Bool());

// At stake: a denied or restricted status is no reason to skip the request;
// its answer is the result, and the reply is a success either way.
class BridgeApiRefusedAccessTest
    : public BridgeApiCheckPermissionTest,
      public ::testing::WithParamInterface<std::tuple<CaptureAuthorizationStatus, bool>> {};

TEST_P(BridgeApiRefusedAccessTest, StillAsksAndReportsTheAnswer) {
  const auto [status, granted] = GetParam();
  backend().setAuthorizationStatus(status);
  backend().setAccessAnswer(granted ? Access::granted : Access::denied);

  const UiReply reply = ui().checkPermission().reply();

  ASSERT_TRUE(reply.isSuccess()) << reply.describe();
  EXPECT_EQ(reply.permission(), (AudioPermission{true, granted}));
  EXPECT_EQ(backend().accessRequestCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, BridgeApiRefusedAccessTest,
    ::testing::Combine(::testing::Values(CaptureAuthorizationStatus::denied,
                                         CaptureAuthorizationStatus::restricted),
                       ::testing::Bool()));

// At stake: requestPermission shows the settings pane for the type's
// permission and always succeeds; it asks the capture frameworks for nothing.
class BridgeApiRequestPermissionTest
    : public BridgeApiTest,
      public ::testing::WithParamInterface<std::tuple<AudioDeviceType, const char*>> {};

TEST_P(BridgeApiRequestPermissionTest, OpensThePaneAtTheTypesAnchor) {
  const auto [type, anchor] = GetParam();

  expectNullSuccess(ui().requestPermission(type));

  const auto opened = NSWorkspace::sharedWorkspace().openedURLs();
  ASSERT_THAT(opened, ElementsAre(std::string(SystemUrls::forDeviceType(type))));
  EXPECT_THAT(opened[0], EndsWith(std::string("?") + anchor));
  EXPECT_EQ(backend().accessRequestCount(), 0u);
  EXPECT_EQ(backend().shareableContentQueryCount(), 0u);
}

TEST_P(BridgeApiRequestPermissionTest, SucceedsEvenWhenThePaneCannotBeOpened) {
  NSWorkspace& workspace = NSWorkspace::sharedWorkspace();
  workspace.setOpenerPath("/nonexistent/harkwell-settings-opener");
  workspace.setOpensLinks(true);

  const UiCall call = ui().requestPermission(std::get<0>(GetParam()));
  const std::optional<UiReply> reply = call.wait();

  workspace.setOpensLinks(false);
  workspace.setOpenerPath("");
  ASSERT_TRUE(reply.has_value());
  EXPECT_TRUE(reply->isSuccess()) << reply->describe();
  EXPECT_TRUE(reply->result.isNull());
  EXPECT_THAT(logLines(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Types, BridgeApiRequestPermissionTest,
    ::testing::Values(std::make_tuple(AudioDeviceType::input, "Privacy_Microphone"),
                      std::make_tuple(AudioDeviceType::output, "Privacy_ScreenCapture")));

}  // namespace
}  // namespace harkwell::test
