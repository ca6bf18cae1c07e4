#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "tests/audio/service/BridgeApiTestHarness.h"

namespace harkwell::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class BridgeApiRegistryTest : public BridgeApiTest {
 protected:
  BridgeApiRegistryTest() {
    backend().addMicrophone({"mic-1", "Desk Microphone"});
    backend().addDisplay(1);
  }
};

// At stake: a listen while capturing changes nothing, and a capture that ended
// by itself gives way to a fresh one.
TEST_F(BridgeApiRegistryTest, ARunningMicrophoneIsKeptAndAnEndedOneReplaced) {
  expectNullSuccess(ui().listen(microphone("mic-1")));
  expectNullSuccess(ui().listen(microphone("mic-1")));
  EXPECT_EQ(backend().openMicrophoneCount(), 1u);
  ASSERT_EQ(backend().stopMicrophoneCaptures("mic-1"), 1u);

  expectNullSuccess(ui().listen(microphone("mic-1")));

  EXPECT_THAT(ui().deviceEventTexts(),
              ElementsAre("deviceStart input mic-1", "deviceStart input mic-1"));
  EXPECT_EQ(backend().openMicrophoneCount(), 1u);
  EXPECT_EQ(backend().runningMicrophoneCount(), 1u);
}

// At stake: two display listens whose tasks overlap both start; the last one
// stored holds the entry, and the displaced controller takes its stream down.
TEST_F(BridgeApiRegistryTest, TwoQuickDisplayListensLeaveOneCaptureRegistered) {
  backend().setShareableContentPending(true);
  expectNullSuccess(ui().listen(display("1")));
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitUntil([&] { return backend().shareableContentQueryCount() == 2; }));

  backend().answerShareableContent();
  ASSERT_TRUE(ui().waitForDeviceEvents(2));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1", "deviceStart output 1"));
  EXPECT_EQ(backend().openStreamCount(), 1u);
  EXPECT_EQ(backend().runningStreamCount(), 1u);
  EXPECT_THAT(logLines(), ElementsAre("stream start", "stream start", "stream stop"));
  expectNullSuccess(ui().unlisten(display("1")));
  EXPECT_EQ(backend().runningStreamCount(), 0u);
}

// At stake: an output listen finds a display only by its plain decimal id,
// and otherwise replies success and does nothing at all.
class BridgeApiOutputNotFoundTest : public BridgeApiRegistryTest,
                                    public ::testing::WithParamInterface<const char*> {};

TEST_P(BridgeApiOutputNotFoundTest, RepliesSuccessAndDoesNothing) {
  expectNullSuccess(ui().listen(display(GetParam())));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_THAT(logLines(), IsEmpty());
  EXPECT_EQ(backend().openStreamCount() + backend().openMicrophoneCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Ids, BridgeApiOutputNotFoundTest,
                         ::testing::Values("9", "01", "+1", "mic-1"));

// At stake: deviceStop carries the type of the unlisten request, even when it
// differs from the kind of capture registered under the id.
class BridgeApiDeviceStopTypeTest
    : public BridgeApiRegistryTest,
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
  EXPECT_EQ(events[1], (NativeAudioEvent{id, unlistenedAs, NativeAudioEventType::deviceStop,
                                         std::nullopt, std::nullopt}));
  // Whatever the type said, the registered capture is the one stopped.
  EXPECT_EQ(backend().runningMicrophoneCount() + backend().runningStreamCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Types, BridgeApiDeviceStopTypeTest,
    ::testing::Combine(::testing::Values(AudioDeviceType::input, AudioDeviceType::output),
                       ::testing::Values(AudioDeviceType::input, AudioDeviceType::output)));

}  // namespace
}  // namespace harkwell::test
