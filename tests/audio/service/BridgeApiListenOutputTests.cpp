#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/audio/service/BridgeApiTestHarness.h"

namespace harkwell::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// At stake: a display listen replies at once; a background task finds the
// display, creates and starts its capture, and the registry stores it and
// sends deviceStart right after the start was requested, before the platform
// confirms it. Failures are silent towards the UI.
class BridgeApiListenOutputTest : public BridgeApiTest {
 protected:
  BridgeApiListenOutputTest() {
    backend().addDisplay(1);
    backend().addDisplay(7);
  }
};

TEST_F(BridgeApiListenOutputTest, RepliesAtOnceAndStartsTheCaptureFromTheTask) {
  backend().setShareableContentPending(true);

  // Answered while the task still waits for the display list.
  expectNullSuccess(ui().listen(display("7")));
  ASSERT_TRUE(ui().waitUntil([&] { return backend().shareableContentQueryCount() == 1; }));
  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());

  backend().answerShareableContent();
  ASSERT_TRUE(ui().waitForDeviceEvents(1));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 7"));
  EXPECT_EQ(backend().runningStreamCount(), 1u);
  EXPECT_THAT(logLines(), ElementsAre("stream start"));
}

TEST_F(BridgeApiListenOutputTest, DeviceStartGoesOutBeforeThePlatformConfirmsTheStart) {
  backend().holdStreamStartCompletions(true);

  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitForDeviceEvents(1));
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1"));
  EXPECT_THAT(logLines(), IsEmpty());

  EXPECT_EQ(backend().releaseStreamStartCompletions(), 1u);
  EXPECT_THAT(logLines(), ElementsAre("stream start"));
}

TEST_F(BridgeApiListenOutputTest, ACreationFailureLogsTheOutputLineWithTheNameAsPassed) {
  backend().failNextAddOutput(makeCaptureError(CaptureErrorCode::outputRejected, "no audio"));

  expectNullSuccess(ui().listen(display("1", "Built-in Retina Display ")));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(logLines(), ElementsAre("failed to listen output device Built-in Retina Display "));
  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_EQ(backend().openStreamCount(), 0u);
}

TEST_F(BridgeApiListenOutputTest, AFailedStartStaysRegisteredUntilTheNextListenReplacesIt) {
  backend().failNextStreamStart(makeCaptureError(CaptureErrorCode::startFailed, "refused"));

  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitForDeviceEvents(1));
  ASSERT_TRUE(ui().settle());
  // deviceStart was already out; only the controller's line tells.
  ASSERT_EQ(logLines().size(), 1u);
  EXPECT_THAT(logLines()[0], StartsWith("stream start failed "));
  EXPECT_EQ(backend().openStreamCount(), 1u);

  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitForDeviceEvents(2));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1", "deviceStart output 1"));
  EXPECT_EQ(backend().openStreamCount(), 1u);
  EXPECT_EQ(backend().runningStreamCount(), 1u);
}

TEST_F(BridgeApiListenOutputTest, TwoQuickListensBothStartAndTheLastStoredHoldsTheEntry) {
  backend().setShareableContentPending(true);
  expectNullSuccess(ui().listen(display("1")));
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitUntil([&] { return backend().shareableContentQueryCount() == 2; }));

  backend().answerShareableContent();
  ASSERT_TRUE(ui().waitForDeviceEvents(2));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1", "deviceStart output 1"));
  // The displaced controller is gone and took its stream down with it.
  EXPECT_EQ(backend().openStreamCount(), 1u);
  EXPECT_EQ(backend().runningStreamCount(), 1u);
  EXPECT_THAT(logLines(), ElementsAre("stream start", "stream start", "stream stop"));

  // The survivor is the registered one: one unlisten stops the last stream.
  expectNullSuccess(ui().unlisten(display("1")));
  EXPECT_EQ(backend().runningStreamCount(), 0u);
}

TEST_F(BridgeApiListenOutputTest, AListenWhileTheStartIsPendingReplacesThePendingCapture) {
  backend().holdStreamStartCompletions(true);
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitForDeviceEvents(1));

  // Not running yet, so the entry gives way, and its stream is stopped.
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitForDeviceEvents(2));
  ASSERT_TRUE(ui().settle());

  EXPECT_EQ(backend().openStreamCount(), 1u);
  EXPECT_EQ(backend().releaseStreamStartCompletions(), 2u);
  EXPECT_EQ(backend().runningStreamCount(), 1u);
}

// One way for a display listen to find nothing to capture.
struct NothingToCapture {
  const char* name;
  std::function<void(SimulatedCaptureBackend&)> arrange;
  std::string id;
};

// At stake: an output listen that finds no display replies success, logs
// nothing, sends nothing and opens nothing, whatever the reason.
class BridgeApiOutputNotFoundTest : public BridgeApiListenOutputTest,
                                    public ::testing::WithParamInterface<NothingToCapture> {};

TEST_P(BridgeApiOutputNotFoundTest, RepliesSuccessAndDoesNothing) {
  GetParam().arrange(backend());

  expectNullSuccess(ui().listen(display(GetParam().id)));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_THAT(logLines(), IsEmpty());
  EXPECT_EQ(backend().openStreamCount(), 0u);
  EXPECT_EQ(backend().openMicrophoneCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgeApiOutputNotFoundTest,
    ::testing::Values(NothingToCapture{"UnknownDisplay", [](SimulatedCaptureBackend&) {}, "9"},
                      NothingToCapture{"LeadingZero", [](SimulatedCaptureBackend&) {}, "01"},
                      NothingToCapture{"SignedId", [](SimulatedCaptureBackend&) {}, "+1"},
                      NothingToCapture{"MicrophoneId",
                                       [](SimulatedCaptureBackend& backend) {
                                         backend.addMicrophone({"mic-1", "Desk Microphone"});
                                       },
                                       "mic-1"},
                      NothingToCapture{"ScreenCaptureRefused",
                                       [](SimulatedCaptureBackend& backend) {
                                         backend.setShareableContentError(makeCaptureError(
                                             CaptureErrorCode::notPermitted, "not allowed"));
                                       },
                                       "1"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harkwell::test
