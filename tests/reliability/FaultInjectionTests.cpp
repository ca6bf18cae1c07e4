// Faults injected at the platform seam (the simulated backend), seen end to
// end from the UI side: for each, exactly the replies, events and log lines
// that it must produce and no more, and a host that still answers afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/audio/service/BridgeApiTestHarness.h"

namespace harkwell::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

NSError injected(CaptureErrorCode code) {
  return makeCaptureError(code, "injected fault");
}

class FaultInjectionTest : public BridgeApiTest {
 protected:
  FaultInjectionTest() {
    backend().addMicrophone({"mic-1", "Desk Microphone"});
    backend().addDisplay(1);
  }

  // The host still answers calls after the fault.
  void expectStillAnswering() {
    EXPECT_TRUE(ui().getDevices(AudioDeviceType::input).reply().isSuccess());
    EXPECT_TRUE(ui().checkPermission().reply().isSuccess());
    ASSERT_TRUE(ui().settle());
  }

  // Listens to display 1 and waits for its start to be answered.
  void listenToDisplay() {
    expectNullSuccess(ui().listen(display("1", "Display 1")));
    ASSERT_TRUE(ui().waitForDeviceEvents(1));
    ASSERT_TRUE(ui().settle());
  }

  static CMSampleBufferRef goodBuffer() { return buffer16k(std::vector<float>(160, 0.25f)); }
};

// At stake: a capture that cannot be created or started reaches the UI only as
// a missing deviceStart or audio plus one fixed log line, and leaves nothing
// behind.
class FaultInjectionCaptureCreationTest : public FaultInjectionTest {};

TEST_F(FaultInjectionCaptureCreationTest, AFailingDeviceInputLogsTheInputLineAndNothingElse) {
  backend().failNextMicrophoneOpen(injected(CaptureErrorCode::deviceUnavailable));

  expectNullSuccess(ui().listen(microphone("mic-1")));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_THAT(logLines(), ElementsAre("failed to listen input device Desk Microphone"));
  EXPECT_EQ(backend().openMicrophoneCount(), 0u);
  expectStillAnswering();
  // No stale entry: unlisten finds nothing to stop.
  expectNullSuccess(ui().unlisten(microphone("mic-1")));
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
}

TEST_F(FaultInjectionCaptureCreationTest, AFailingStreamOutputLogsTheOutputLineAndNothingElse) {
  backend().failNextAddOutput(injected(CaptureErrorCode::outputRejected));

  expectNullSuccess(ui().listen(display("1", "Display 1")));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_THAT(logLines(), ElementsAre("failed to listen output device Display 1"));
  EXPECT_EQ(backend().openStreamCount(), 0u);
  expectStillAnswering();
}

// At stake: a device that vanishes while captured ends the capture with one
// deviceStop that says why, and never delivers audio afterwards. (Refused
// stops and starts and streams that die are covered with the registry.)
class FaultInjectionRunningCaptureTest : public FaultInjectionTest {};

TEST_F(FaultInjectionRunningCaptureTest, AMicrophoneThatDisappearsWhileCapturedEndsWithAReason) {
  expectNullSuccess(ui().listen(microphone("mic-1")));
  backend().removeMicrophone("mic-1");
  ASSERT_TRUE(ui().settle());

  EXPECT_EQ(backend().deliverToMicrophone("mic-1", goodBuffer()), 0u);
  EXPECT_EQ(backend().runningMicrophoneCount(), 0u);
  // A listen drops the ended entry and finds no microphone; unlisten then
  // finds nothing to report.
  expectNullSuccess(ui().listen(microphone("mic-1")));
  expectNullSuccess(ui().unlisten(microphone("mic-1")));
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(),
              ElementsAre("deviceStart input mic-1",
                          "deviceStop input mic-1 error=The microphone stopped"));
  EXPECT_THAT(logLines(), IsEmpty());
  EXPECT_EQ(ui().audioTally("mic-1").events, 0u);
  expectStillAnswering();
}

// At stake: without screen-capture permission the content query fails; the
// UI then sees no displays and no system-audio permission, and a display
// listen quietly does nothing, while microphones work as before.
TEST_F(FaultInjectionTest, AFailingContentQueryListsNoDisplaysAndListensToNothing) {
  backend().setShareableContentError(injected(CaptureErrorCode::notPermitted));

  EXPECT_TRUE(ui().getDevices(AudioDeviceType::output).reply().devices().empty());
  EXPECT_EQ(ui().checkPermission().reply().permission(), (AudioPermission{false, true}));
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_THAT(logLines(), IsEmpty());
  EXPECT_EQ(backend().openStreamCount(), 0u);
  expectNullSuccess(ui().listen(microphone("mic-1")));
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart input mic-1"));
}

// A sample buffer that a broken device or driver might deliver.
struct BadBuffer {
  const char* name;
  std::function<CMSampleBufferRef()> make;
};

// The converter's own tests go through every malformed layout; here a few go
// through the whole host: no buffer at all, no audio, and a lying layout.
std::vector<BadBuffer> badBuffers() {
  return {
      {"Null", [] { return CMSampleBufferRef(); }},
      {"VideoFrame", [] { return CMSampleBufferCreateVideoFrame(); }},
      {"MoreFramesThanBytes",
       [] {
         AudioStreamBasicDescription asbd;
         FillOutASBDForLPCM(asbd, 48000, 2, 32, 32, true, false, true);
         const std::vector<std::uint8_t> channel(1920);
         return CMSampleBufferCreateWithAudioBuffers(asbd, {channel, channel}, 960, kCMTimeZero);
       }},
  };
}

// At stake: whatever a device delivers, the capture queue never crashes or
// stalls, a buffer that cannot be converted is dropped without an event or a
// log line, and the next good buffer still reaches the UI.
class FaultInjectionBufferTest : public FaultInjectionTest,
                                 public ::testing::WithParamInterface<std::tuple<BadBuffer, bool>> {
 protected:
  bool fromDisplay() const { return std::get<1>(GetParam()); }

  std::size_t deliver(CMSampleBufferRef buffer) {
    return fromDisplay() ? backend().deliverToDisplay(1, DisplayOutputKind::audio, buffer)
                         : backend().deliverToMicrophone("mic-1", buffer);
  }
};

TEST_P(FaultInjectionBufferTest, ABadBufferIsDroppedSilentlyAndTheNextGoodOneArrives) {
  const std::string id = fromDisplay() ? "1" : "mic-1";
  if (fromDisplay()) {
    listenToDisplay();
  } else {
    expectNullSuccess(ui().listen(microphone("mic-1")));
  }
  const std::vector<std::string> startLog = logLines();

  EXPECT_EQ(deliver(std::get<0>(GetParam()).make()), 1u);
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(ui().audioTally(id).events, 0u);

  EXPECT_EQ(deliver(goodBuffer()), 1u);
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(ui().audioTally(id).events, 1u);
  EXPECT_EQ(ui().audioTally(id).samples, 160u);
  EXPECT_EQ(ui().undecodableEventCount(), 0u);
  EXPECT_EQ(logLines(), startLog);
  expectStillAnswering();
}

INSTANTIATE_TEST_SUITE_P(BadBuffers, FaultInjectionBufferTest,
                         ::testing::Combine(::testing::ValuesIn(badBuffers()), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "FromADisplay" : "FromAMicrophone");
                         });

}  // namespace
}  // namespace harkwell::test
