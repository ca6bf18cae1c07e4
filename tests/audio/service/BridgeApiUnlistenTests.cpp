#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "tests/audio/service/BridgeApiTestHarness.h"

namespace harkwell::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// At stake: one unlisten stops a capture and leaves it registered, a second
// removes it; deviceStop always goes out for an entry and carries the type
// the UI asked with; an id without an entry gets nothing.
class BridgeApiUnlistenTest : public BridgeApiTest {
 protected:
  BridgeApiUnlistenTest() {
    backend().addMicrophone({"mic-1", "Desk Microphone"});
    backend().addDisplay(1);
  }

  void listenToDisplayAndWaitForDeviceStart() {
    const std::size_t before = ui().deviceEvents().size();
    expectNullSuccess(ui().listen(display("1")));
    ASSERT_TRUE(ui().waitForDeviceEvents(before + 1));
  }
};

TEST_F(BridgeApiUnlistenTest, AnIdNeverListenedToGetsSuccessAndNoEvent) {
  expectNullSuccess(ui().unlisten(microphone("mic-1")));
  expectNullSuccess(ui().unlisten(display("1")));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_THAT(logLines(), IsEmpty());
}

TEST_F(BridgeApiUnlistenTest, TwiceForACapturingMicrophoneFirstStopsThenRemoves) {
  expectNullSuccess(ui().listen(microphone("mic-1")));

  expectNullSuccess(ui().unlisten(microphone("mic-1")));
  EXPECT_EQ(backend().runningMicrophoneCount(), 0u);
  EXPECT_EQ(backend().openMicrophoneCount(), 1u) << "the stopped entry stays registered";

  expectNullSuccess(ui().unlisten(microphone("mic-1")));
  EXPECT_EQ(backend().openMicrophoneCount(), 0u);

  // Each reply came after its event.
  EXPECT_THAT(
      ui().deviceEventTexts(),
      ElementsAre("deviceStart input mic-1", "deviceStop input mic-1", "deviceStop input mic-1"));
}

TEST_F(BridgeApiUnlistenTest, UnlistenThenListenStartsAFreshMicrophoneCapture) {
  expectNullSuccess(ui().listen(microphone("mic-1")));
  expectNullSuccess(ui().unlisten(microphone("mic-1")));

  expectNullSuccess(ui().listen(microphone("mic-1")));

  EXPECT_THAT(
      ui().deviceEventTexts(),
      ElementsAre("deviceStart input mic-1", "deviceStop input mic-1", "deviceStart input mic-1"));
  EXPECT_EQ(backend().openMicrophoneCount(), 1u);
  EXPECT_EQ(backend().runningMicrophoneCount(), 1u);
}

TEST_F(BridgeApiUnlistenTest, AStartingDisplayIsRemovedAndItsStreamDoesNotCaptureOn) {
  backend().holdStreamStartCompletions(true);
  listenToDisplayAndWaitForDeviceStart();

  expectNullSuccess(ui().unlisten(display("1")));

  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1", "deviceStop output 1"));
  EXPECT_EQ(backend().openStreamCount(), 0u);
  // The platform's late confirmation finds nobody; nothing captures.
  EXPECT_EQ(backend().releaseStreamStartCompletions(), 1u);
  EXPECT_EQ(backend().runningStreamCount(), 0u);
  // Unregistered: a further unlisten reports nothing.
  expectNullSuccess(ui().unlisten(display("1")));
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(ui().deviceEvents().size(), 2u);
}

TEST_F(BridgeApiUnlistenTest, AStoppingDisplayIgnoresListenAndTakesAnotherUnlisten) {
  listenToDisplayAndWaitForDeviceStart();
  ASSERT_EQ(backend().runningStreamCount(), 1u);
  backend().holdStreamStopCompletions(true);

  expectNullSuccess(ui().unlisten(display("1")));
  // Still running until the platform confirms the stop: listen does nothing.
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(backend().shareableContentQueryCount(), 1u) << "no second display task";
  // stop() is asked again, and deviceStop goes out again.
  expectNullSuccess(ui().unlisten(display("1")));
  EXPECT_THAT(ui().deviceEventTexts(),
              ElementsAre("deviceStart output 1", "deviceStop output 1", "deviceStop output 1"));

  EXPECT_EQ(backend().releaseStreamStopCompletions(), 2u);
  EXPECT_THAT(logLines(), ElementsAre("stream start", "stream stop", "stream stop"));
  // Confirmed stopped: now a listen makes a fresh capture.
  listenToDisplayAndWaitForDeviceStart();
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(backend().openStreamCount(), 1u);
  EXPECT_EQ(backend().runningStreamCount(), 1u);
}

// At stake: deviceStop carries the type of the unlisten request, even when it
// differs from the kind of capture registered under the id.
class BridgeApiDeviceStopTypeTest
    : public BridgeApiUnlistenTest,
      public ::testing::WithParamInterface<std::tuple<AudioDeviceType, AudioDeviceType>> {};

TEST_P(BridgeApiDeviceStopTypeTest, DeviceStopCarriesTheRequestedType) {
  const auto [listenedAs, unlistenedAs] = GetParam();
  const std::string id = listenedAs == AudioDeviceType::input ? "mic-1" : "1";
  expectNullSuccess(ui().listen(AudioDevice{"Source", listenedAs, id, false}));
  ASSERT_TRUE(ui().waitForDeviceEvents(1));
  ASSERT_TRUE(ui().settle());

  expectNullSuccess(ui().unlisten(AudioDevice{"Source", unlistenedAs, id, false}));

  const auto events = ui().deviceEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].eventType, NativeAudioEventType::deviceStop);
  EXPECT_EQ(events[1].type, unlistenedAs);
  EXPECT_EQ(events[1].id, id);
  EXPECT_FALSE(events[1].audioData.has_value());
  EXPECT_FALSE(events[1].error.has_value());
  // Whatever the type said, the registered capture is the one stopped.
  EXPECT_EQ(backend().runningMicrophoneCount() + backend().runningStreamCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Types, BridgeApiDeviceStopTypeTest,
    ::testing::Combine(::testing::Values(AudioDeviceType::input, AudioDeviceType::output),
                       ::testing::Values(AudioDeviceType::input, AudioDeviceType::output)));

}  // namespace
}  // namespace harkwell::test
