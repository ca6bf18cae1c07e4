#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/avfoundation/AVFoundationTypes.h"
#include "tests/audio/service/BridgeApiTestHarness.h"

namespace harkwell::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// At stake: the UI gets every source of the kind it asked for, in platform
// order, with the ids that listen finds again and the first one marked as
// default; a refused or empty query is an empty list, never an error.
class BridgeApiGetDevicesTest : public BridgeApiTest {};

TEST_F(BridgeApiGetDevicesTest, MicrophonesComeInPlatformOrderWithTheFirstAsDefault) {
  backend().addMicrophone({"usb-2", "USB Headset"});
  backend().addMicrophone({"builtin-1", "MacBook Pro Microphone"});

  const UiReply reply = ui().getDevices(AudioDeviceType::input).reply();

  ASSERT_TRUE(reply.isSuccess()) << reply.describe();
  EXPECT_THAT(reply.devices(),
              ElementsAre(AudioDevice{"USB Headset", AudioDeviceType::input, "usb-2", true},
                          AudioDevice{"MacBook Pro Microphone", AudioDeviceType::input, "builtin-1",
                                      false}));
}

TEST_F(BridgeApiGetDevicesTest, DisplaysAreNamedAfterTheirIdWithTheFirstAsDefault) {
  backend().addDisplay(2);
  backend().addDisplay(1);

  const UiReply reply = ui().getDevices(AudioDeviceType::output).reply();

  ASSERT_TRUE(reply.isSuccess()) << reply.describe();
  EXPECT_THAT(reply.devices(),
              ElementsAre(AudioDevice{"Display 2", AudioDeviceType::output, "2", true},
                          AudioDevice{"Display 1", AudioDeviceType::output, "1", false}));
}

TEST_F(BridgeApiGetDevicesTest, AnOutputRequestStillAnswersAfterALaterInputRequestWasAnswered) {
  backend().addDisplay(1);
  backend().setShareableContentPending(true);

  const UiCall output = ui().getDevices(AudioDeviceType::output);
  const UiCall input = ui().getDevices(AudioDeviceType::input);
  ASSERT_TRUE(input.wait().has_value());
  ASSERT_TRUE(ui().waitUntil([&] { return backend().shareableContentQueryCount() == 1; }));
  EXPECT_FALSE(output.answered());

  backend().answerShareableContent();

  const UiReply reply = output.reply();
  ASSERT_TRUE(reply.isSuccess()) << reply.describe();
  EXPECT_EQ(reply.devices().size(), 1u);
  EXPECT_EQ(output.replyCount(), 1u);
}

// At stake: a display's id is its displayID in plain decimal, across the
// whole unsigned 32-bit range, and listen finds the display by that text.
class BridgeApiDisplayIdTest : public BridgeApiTest,
                               public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(BridgeApiDisplayIdTest, TheIdIsTheDecimalDisplayIdAndListenFindsItAgain) {
  backend().addDisplay(GetParam());
  const std::string expected = std::to_string(GetParam());

  const std::vector<AudioDevice> devices =
      ui().getDevices(AudioDeviceType::output).reply().devices();

  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].id, expected);
  EXPECT_EQ(devices[0].name, "Display " + expected);
  expectNullSuccess(ui().listen(devices[0]));
  ASSERT_TRUE(ui().waitForDeviceEvents(1));
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output " + expected));
}

INSTANTIATE_TEST_SUITE_P(Ids, BridgeApiDisplayIdTest,
                         ::testing::Values(0u, 2u, 10u, 69733248u, 4294967295u));

// One way for a listing to come back empty.
struct EmptyListing {
  const char* name;
  AudioDeviceType type;
  std::function<void(SimulatedCaptureBackend&)> arrange;
};

// At stake: nothing to list, or a refused query, is a success with [].
class BridgeApiEmptyListingTest : public BridgeApiTest,
                                  public ::testing::WithParamInterface<EmptyListing> {};

TEST_P(BridgeApiEmptyListingTest, RepliesSuccessWithAnEmptyList) {
  GetParam().arrange(backend());

  const UiReply reply = ui().getDevices(GetParam().type).reply();

  ASSERT_TRUE(reply.isSuccess()) << reply.describe();
  EXPECT_THAT(reply.devices(), IsEmpty());
  EXPECT_THAT(logLines(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgeApiEmptyListingTest,
    ::testing::Values(
        EmptyListing{"NoMicrophone", AudioDeviceType::input, [](SimulatedCaptureBackend&) {}},
        EmptyListing{"NoDisplay", AudioDeviceType::output, [](SimulatedCaptureBackend&) {}},
        EmptyListing{"ScreenCaptureRefused", AudioDeviceType::output,
                     [](SimulatedCaptureBackend& backend) {
                       backend.addDisplay(1);
                       backend.setShareableContentError(
                           makeCaptureError(CaptureErrorCode::notPermitted, "not allowed"));
                     }}),
    [](const auto& info) { return std::string(info.param.name); });

// The device type asked for on one system version.
struct VersionCase {
  OperatingSystemVersion version;
  const char* expectedType;
};

// At stake: exactly one microphone device type is asked for, chosen by the
// system version: built-in microphones before 14.0, all microphones from then.
class BridgeApiMicrophoneTypeTest : public BridgeApiTest,
                                    public ::testing::WithParamInterface<VersionCase> {};

TEST_P(BridgeApiMicrophoneTypeTest, AsksForOneDeviceTypeChosenByTheSystemVersion) {
  backend().setOperatingSystemVersion(GetParam().version);

  ASSERT_TRUE(ui().getDevices(AudioDeviceType::input).reply().isSuccess());

  EXPECT_THAT(backend().requestedDeviceTypes(), ElementsAre(GetParam().expectedType));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, BridgeApiMicrophoneTypeTest,
    ::testing::Values(VersionCase{{13, 0, 0}, "AVCaptureDeviceTypeBuiltInMicrophone"},
                      VersionCase{{13, 6, 9}, "AVCaptureDeviceTypeBuiltInMicrophone"},
                      VersionCase{{14, 0, 0}, "AVCaptureDeviceTypeMicrophone"},
                      VersionCase{{15, 2, 0}, "AVCaptureDeviceTypeMicrophone"}));

}  // namespace
}  // namespace harkwell::test
