#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/audio/service/BridgeApiTestHarness.h"

namespace harkwell::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// At stake: a microphone listen starts one capture per id and tells the UI
// with deviceStart before the reply; every failure is silent towards the UI
// and shows only as the fixed log line.
class BridgeApiListenInputTest : public BridgeApiTest {
 protected:
  BridgeApiListenInputTest() { backend().addMicrophone({"mic-1", "Desk Microphone"}); }
};

TEST_F(BridgeApiListenInputTest, StartsTheMicrophoneAndHandsDeviceStartOverBeforeReplying) {
  const UiCall call = ui().listen(microphone("mic-1"));

  expectNullSuccess(call);
  // The event left the main thread before the reply did, so it is already here.
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart input mic-1"));
  EXPECT_EQ(backend().runningMicrophoneCount(), 1u);
  EXPECT_THAT(logLines(), IsEmpty());
}

TEST_F(BridgeApiListenInputTest, ASecondListenWhileCapturingChangesNothing) {
  expectNullSuccess(ui().listen(microphone("mic-1")));

  expectNullSuccess(ui().listen(microphone("mic-1")));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart input mic-1"));
  EXPECT_EQ(backend().openMicrophoneCount(), 1u);
}

TEST_F(BridgeApiListenInputTest, AnUnknownIdRepliesSuccessAndDoesNothingElse) {
  expectNullSuccess(ui().listen(microphone("mic-unknown")));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_THAT(logLines(), IsEmpty());
  EXPECT_EQ(backend().openMicrophoneCount(), 0u);
}

TEST_F(BridgeApiListenInputTest, TheTypeNotTheIdChoosesTheKindOfCapture) {
  backend().addDisplay(1);

  // Input with a display's id: no microphone has that id.
  expectNullSuccess(ui().listen(microphone("1")));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_EQ(backend().openStreamCount(), 0u);
  EXPECT_EQ(backend().shareableContentQueryCount(), 0u);
}

TEST_F(BridgeApiListenInputTest, ACaptureThatEndedByItselfGivesWayToAFreshOne) {
  expectNullSuccess(ui().listen(microphone("mic-1")));
  ASSERT_EQ(backend().stopMicrophoneCaptures("mic-1"), 1u);

  expectNullSuccess(ui().listen(microphone("mic-1")));

  EXPECT_THAT(ui().deviceEventTexts(),
              ElementsAre("deviceStart input mic-1", "deviceStart input mic-1"));
  EXPECT_EQ(backend().openMicrophoneCount(), 1u);
  EXPECT_EQ(backend().runningMicrophoneCount(), 1u);
}

TEST_F(BridgeApiListenInputTest, AFailedCreationLeavesNoEntryBehind) {
  backend().failNextMicrophoneOpen(makeCaptureError(CaptureErrorCode::deviceUnavailable, "busy"));
  expectNullSuccess(ui().listen(microphone("mic-1")));

  // Nothing stale is in the way: the next listen simply starts the capture.
  expectNullSuccess(ui().listen(microphone("mic-1")));

  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart input mic-1"));
  EXPECT_EQ(logLines().size(), 1u);
}

// At stake: the failure line is the fixed text followed directly by the name
// exactly as the UI passed it, whatever that name holds.
class BridgeApiInputFailureLineTest : public BridgeApiListenInputTest,
                                      public ::testing::WithParamInterface<std::string> {};

TEST_P(BridgeApiInputFailureLineTest, CreationFailureLogsTheFixedLineAndTheNameAsPassed) {
  backend().failNextMicrophoneOpen(
      makeCaptureError(CaptureErrorCode::deviceUnavailable, "held by another program"));

  expectNullSuccess(ui().listen(microphone("mic-1", GetParam())));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(logLines(), ElementsAre("failed to listen input device " + GetParam()));
  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_EQ(backend().openMicrophoneCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Names, BridgeApiInputFailureLineTest,
                         ::testing::Values("Desk Microphone", "", "  padded  ",
                                           "Mikrofon \xE2\x80\x9CStudio\xE2\x80\x9D \xC3\xBC",
                                           "percent %s and {braces}"));

// A microphone that opens but never runs (its device is held elsewhere); the
// rest of the simulated backend as it is.
class NeverRunningMicrophone final : public MicrophoneCapture {
 public:
  void setOutput(AudioOutputSettings, std::shared_ptr<DispatchQueue>,
                 SampleBufferHandler) override {}
  std::optional<NSError> startRunning() override {
    return makeCaptureError(CaptureErrorCode::startFailed, "device held elsewhere");
  }
  void stopRunning() override {}
  bool isRunning() const override { return false; }
};

class NeverRunningMicrophones final : public CaptureBackend {
 public:
  explicit NeverRunningMicrophones(std::shared_ptr<CaptureBackend> rest) : rest_(std::move(rest)) {}

  OperatingSystemVersion operatingSystemVersion() override {
    return rest_->operatingSystemVersion();
  }
  std::vector<MicrophoneInfo> microphones(const std::string& deviceType) override {
    return rest_->microphones(deviceType);
  }
  CaptureAuthorizationStatus microphoneAuthorizationStatus() override {
    return rest_->microphoneAuthorizationStatus();
  }
  void requestMicrophoneAccess(std::function<void(bool)> completion) override {
    rest_->requestMicrophoneAccess(std::move(completion));
  }
  std::unique_ptr<MicrophoneCapture> openMicrophone(const std::string&) override {
    return std::make_unique<NeverRunningMicrophone>();
  }
  void getShareableContent(std::function<void(ShareableContentAnswer)> completion) override {
    rest_->getShareableContent(std::move(completion));
  }
  std::unique_ptr<DisplayStream> openDisplayStream(std::uint32_t displayID,
                                                   DisplayStreamSettings settings,
                                                   StreamStoppedHandler stopped) override {
    return rest_->openDisplayStream(displayID, settings, std::move(stopped));
  }

 private:
  std::shared_ptr<CaptureBackend> rest_;
};

TEST_F(BridgeApiListenInputTest, AMicrophoneThatWillNotRunIsAFailedListenNotAStartedOne) {
  CaptureBackend::setCurrent(std::make_shared<NeverRunningMicrophones>(CaptureBackend::current()));

  expectNullSuccess(ui().listen(microphone("mic-1")));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(logLines(), ElementsAre("failed to listen input device Desk Microphone"));
  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  // No stale entry: an unlisten finds nothing to report.
  expectNullSuccess(ui().unlisten(microphone("mic-1")));
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
}

}  // namespace
}  // namespace harkwell::test
