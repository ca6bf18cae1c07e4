#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/audio/service/BridgeApiTestHarness.h"

namespace harkwell::test {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using Access = SimulatedTestBackend::AccessAnswer;

class BridgeApiQueryTest : public BridgeApiTest {};

// At stake: the UI gets every source of a kind in platform order, the first
// marked as default; a display is named and identified by its displayID in
// plain decimal across the unsigned 32-bit range.
TEST_F(BridgeApiQueryTest, SourcesComeInPlatformOrderWithTheFirstAsDefault) {
  backend().addMicrophone({"usb-2", "USB Headset"});
  backend().addMicrophone({"builtin-1", "MacBook Pro Microphone"});
  backend().addDisplay(4294967295u);
  backend().addDisplay(0);

  EXPECT_THAT(ui().getDevices(AudioDeviceType::input).reply().devices(),
              ElementsAre(AudioDevice{"USB Headset", AudioDeviceType::input, "usb-2", true},
                          AudioDevice{"MacBook Pro Microphone", AudioDeviceType::input, "builtin-1",
                                      false}));
  EXPECT_THAT(
      ui().getDevices(AudioDeviceType::output).reply().devices(),
      ElementsAre(AudioDevice{"Display 4294967295", AudioDeviceType::output, "4294967295", true},
                  AudioDevice{"Display 0", AudioDeviceType::output, "0", false}));
}

// At stake: replies go to their own calls: a slow output listing still gets
// its answer after a later input listing was answered. checkPermission
// settles screen capture before it asks for the microphone and replies only
// once the user has answered; a denied or restricted status is no reason to
// skip the request, its answer is the result.
TEST_F(BridgeApiQueryTest, EachCallGetsItsOwnAnswerAndTheMicrophoneIsAskedAfterScreenCapture) {
  backend().addDisplay(1);
  backend().setShareableContentPending(true);
  backend().setAuthorizationStatus(CaptureAuthorizationStatus::notDetermined);
  backend().setAccessAnswer(Access::pending);

  const UiCall output = ui().getDevices(AudioDeviceType::output);
  const UiCall permission = ui().checkPermission();
  ASSERT_TRUE(ui().getDevices(AudioDeviceType::input).wait().has_value());
  ASSERT_TRUE(ui().waitUntil([&] { return backend().shareableContentQueryCount() == 2; }));
  EXPECT_FALSE(output.answered());
  EXPECT_EQ(backend().accessRequestCount(), 0u);

  backend().answerShareableContent();
  EXPECT_EQ(output.reply().devices().size(), 1u);
  ASSERT_TRUE(ui().waitUntil([&] { return backend().accessRequestCount() == 1; }));
  EXPECT_FALSE(permission.answered());
  backend().answerAccessRequest(false);
  EXPECT_EQ(permission.reply().permission(), (AudioPermission{true, false}));
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(output.replyCount() + permission.replyCount(), 2u);

  backend().setShareableContentPending(false);
  backend().setAccessAnswer(Access::granted);
  for (const auto status :
       {CaptureAuthorizationStatus::denied, CaptureAuthorizationStatus::restricted}) {
    backend().setAuthorizationStatus(status);
    EXPECT_EQ(ui().checkPermission().reply().permission(), (AudioPermission{true, true}));
  }
  EXPECT_EQ(backend().accessRequestCount(), 3u);
}

// At stake: requestPermission opens the settings pane at the type's anchor,
// asks the capture frameworks for nothing, and succeeds whatever the opener
// does (its result is never looked at; the opener has its own tests).
TEST_F(BridgeApiQueryTest, RequestPermissionOpensThePaneAtTheTypesAnchor) {
  expectNullSuccess(ui().requestPermission(AudioDeviceType::input));
  expectNullSuccess(ui().requestPermission(AudioDeviceType::output));
  const auto opened = NSWorkspace::sharedWorkspace().openedURLs();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_THAT(opened[0], EndsWith("?Privacy_Microphone"));
  EXPECT_THAT(opened[1], EndsWith("?Privacy_ScreenCapture"));
  EXPECT_EQ(backend().accessRequestCount() + backend().shareableContentQueryCount(), 0u);
}

}  // namespace
}  // namespace harkwell::test
