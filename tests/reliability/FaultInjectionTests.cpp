// Faults injected at the platform seam (the simulated backend), seen end to
// end from the UI side: for each, exactly the replies, events and log lines
// that it must produce and no more, and a host that still answers afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/audio/service/BridgeApiTestHarness.h"

namespace harkwell::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class FaultInjectionTest : public BridgeApiTest {
 protected:
  FaultInjectionTest() {
    backend().addMicrophone({"mic-1", "Desk Microphone"});
    backend().addDisplay(1);
  }

  void TearDown() override {  // the host still answers calls after the fault
    EXPECT_TRUE(ui().getDevices(AudioDeviceType::input).reply().isSuccess());
    EXPECT_TRUE(ui().checkPermission().reply().isSuccess());
  }
};

// At stake: a capture that cannot be created reaches the UI only as a missing
// deviceStart plus one fixed log line, and leaves no entry behind.
TEST_F(FaultInjectionTest, AFailingDeviceInputOrStreamOutputLogsItsLineAndNothingElse) {
  backend().failNextMicrophoneOpen(makeCaptureError(CaptureErrorCode::deviceUnavailable, "fault"));
  expectNullSuccess(ui().listen(microphone("mic-1")));
  ASSERT_TRUE(ui().settle());
  backend().failNextAddOutput(makeCaptureError(CaptureErrorCode::outputRejected, "fault"));
  expectNullSuccess(ui().listen(display("1", "Display 1")));
  ASSERT_TRUE(ui().settle());
  expectNullSuccess(ui().unlisten(microphone("mic-1")));  // finds nothing to stop
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_THAT(logLines(), ElementsAre("failed to listen input device Desk Microphone",
                                      "failed to listen output device Display 1"));
  EXPECT_EQ(backend().openMicrophoneCount(), 0u);
  EXPECT_EQ(backend().openStreamCount(), 0u);
}

// At stake: a microphone that vanishes while captured ends the capture with
// one deviceStop that says why and never delivers audio afterwards; without
// screen-capture permission the UI sees no displays, no system-audio
// permission, and a display listen quietly does nothing, while microphones
// work as before.
TEST_F(FaultInjectionTest, AVanishedMicrophoneEndsWithAReasonAndAFailingContentQueryHidesDisplays) {
  backend().setShareableContentError(makeCaptureError(CaptureErrorCode::notPermitted, "fault"));
  expectNullSuccess(ui().listen(microphone("mic-1")));
  backend().removeMicrophone("mic-1");
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(backend().deliverToMicrophone("mic-1", buffer16k(std::vector<float>(160, 0.25f))), 0u);
  EXPECT_EQ(backend().runningMicrophoneCount(), 0u);
  // A listen drops the ended entry and finds no microphone; unlisten then
  // finds nothing to report.
  expectNullSuccess(ui().listen(microphone("mic-1")));
  expectNullSuccess(ui().unlisten(microphone("mic-1")));

  EXPECT_TRUE(ui().getDevices(AudioDeviceType::output).reply().devices().empty());
  EXPECT_EQ(ui().checkPermission().reply().permission(), (AudioPermission{false, true}));
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(),
              ElementsAre("deviceStart input mic-1",
                          "deviceStop input mic-1 error=The microphone stopped"));
  EXPECT_THAT(logLines(), IsEmpty());
  EXPECT_EQ(ui().audioTally("mic-1").events, 0u);
  EXPECT_EQ(backend().openStreamCount(), 0u);
}

// At stake: whatever a device delivers (no buffer, no audio, a lying layout;
// the converter's own tests go through every malformed layout), the capture
// queue never crashes or stalls, a buffer that cannot be converted is dropped
// without an event or a log line, and the next good buffer still reaches the UI.
TEST_F(FaultInjectionTest, ABadBufferIsDroppedSilentlyAndTheNextGoodOneArrives) {
  AudioStreamBasicDescription asbd;
  FillOutASBDForLPCM(asbd, 48000, 2, 32, 32, true, false, true);
  const std::vector<std::uint8_t> channel(1920);
  const CMSampleBufferRef badBuffers[] = {
      nullptr, CMSampleBufferCreateVideoFrame(),
      CMSampleBufferCreateWithAudioBuffers(asbd, {channel, channel}, 960, kCMTimeZero)};
  expectNullSuccess(ui().listen(microphone("mic-1")));
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitForDeviceEvents(2));
  ASSERT_TRUE(ui().settle());
  const std::vector<std::string> startLog = logLines();
  for (const bool fromDisplay : {false, true}) {
    std::size_t delivered = 0;
    const std::string id = fromDisplay ? "1" : "mic-1";
    const auto deliver = [&](CMSampleBufferRef buffer) {
      EXPECT_EQ(fromDisplay ? backend().deliverToDisplay(1, DisplayOutputKind::audio, buffer)
                            : backend().deliverToMicrophone("mic-1", buffer),
                1u);
      ASSERT_TRUE(ui().settle());
    };
    for (const CMSampleBufferRef& bad : badBuffers) {
      deliver(bad);
      EXPECT_EQ(ui().audioTally(id).events, delivered) << id;
      deliver(buffer16k(std::vector<float>(160, 0.25f)));
      EXPECT_EQ(ui().audioTally(id).events, ++delivered) << id;
    }
    EXPECT_EQ(ui().audioTally(id).samples, 160u * 3);
  }
  EXPECT_EQ(ui().undecodableEventCount(), 0u);
  EXPECT_EQ(logLines(), startLog);
}

}  // namespace
}  // namespace harkwell::test
