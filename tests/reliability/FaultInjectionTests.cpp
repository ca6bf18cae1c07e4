// Faults injected at the platform seam (the simulated backend), seen end to
// end from the UI side: for each, exactly the replies, events and log lines
// that it must produce and no more, and a host that still answers afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tests/audio/service/BridgeApiTestHarness.h"

namespace harkwell::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

NSError injected(CaptureErrorCode code) {
  return makeCaptureError(code, "injected fault");
}

class FaultInjectionTest : public BridgeApiTest {
 protected:
  FaultInjectionTest() {
    backend().addMicrophone({"mic-1", "Desk Microphone"});
    backend().addDisplay(1);
  }

  // The host still answers a call after the fault, with the lists it should.
  void expectStillAnswering() {
    const UiReply inputs = ui().getDevices(AudioDeviceType::input).reply();
    ASSERT_TRUE(inputs.isSuccess()) << inputs.describe();
    const UiReply permission = ui().checkPermission().reply();
    ASSERT_TRUE(permission.isSuccess()) << permission.describe();
    ASSERT_TRUE(ui().settle());
  }

  // Listens to display 1 and waits for its start to be confirmed.
  void listenToDisplay() {
    expectNullSuccess(ui().listen(display("1", "Display 1")));
    ASSERT_TRUE(ui().waitForDeviceEvents(1));
    ASSERT_TRUE(ui().settle());
  }

  static CMSampleBufferRef goodBuffer() { return buffer16k(std::vector<float>(160, 0.25f)); }
};

// At stake: a capture that cannot be created or started reaches the UI only as
// a missing deviceStart plus one fixed log line, and leaves nothing behind.
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
  EXPECT_EQ(backend().runningStreamCount(), 0u);
  expectStillAnswering();
}

TEST_F(FaultInjectionCaptureCreationTest, AMicrophoneThatFailsToStartOnceIsStartedByTheListen) {
  // The session's first start (in the controller's construction) fails; the
  // registry's start() tries again and succeeds.
  backend().failNextMicrophoneStart(injected(CaptureErrorCode::startFailed));

  expectNullSuccess(ui().listen(microphone("mic-1")));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart input mic-1"));
  EXPECT_THAT(logLines(), IsEmpty());
  EXPECT_EQ(backend().deliverToMicrophone("mic-1", goodBuffer()), 1u);
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(ui().audioTally("mic-1").events, 1u);
  expectStillAnswering();
}

TEST_F(FaultInjectionCaptureCreationTest, AStreamStartFailureIsLoggedAfterDeviceStartAndNoAudio) {
  backend().failNextStreamStart(injected(CaptureErrorCode::startFailed));

  listenToDisplay();

  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1"));
  ASSERT_EQ(logLines().size(), 1u);
  EXPECT_THAT(logLines()[0], StartsWith("stream start failed Optional("));
  EXPECT_EQ(backend().deliverToDisplay(1, DisplayOutputKind::audio, goodBuffer()), 0u);

  // The entry never ran, so unlisten removes it without a stop (no "stream stop").
  expectNullSuccess(ui().unlisten(display("1")));
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1", "deviceStop output 1"));
  EXPECT_EQ(logLines().size(), 1u);
  EXPECT_EQ(ui().audioTally("1").events, 0u);
  expectStillAnswering();
}

// At stake: a stop that fails, a stream that dies and a device that vanishes
// are silent towards the UI, leave the registry able to stop or replace the
// capture, and never deliver audio from a capture that ended.
class FaultInjectionRunningCaptureTest : public FaultInjectionTest {};

TEST_F(FaultInjectionRunningCaptureTest, AFailedStreamStopIsLoggedAndTheCaptureStaysStoppable) {
  listenToDisplay();
  backend().failNextStreamStop(injected(CaptureErrorCode::stopFailed));

  expectNullSuccess(ui().unlisten(display("1")));
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(logLines(), ElementsAre("stream start", "stream stop"));

  // Still running in the registry's eyes: the next unlisten stops it again.
  expectNullSuccess(ui().unlisten(display("1")));
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(),
              ElementsAre("deviceStart output 1", "deviceStop output 1", "deviceStop output 1"));
  EXPECT_THAT(logLines(), ElementsAre("stream start", "stream stop", "stream stop"));
  expectStillAnswering();
}

TEST_F(FaultInjectionRunningCaptureTest, AStreamThatStopsWithAnErrorGoesQuietWithoutAWord) {
  listenToDisplay();

  ASSERT_EQ(backend().stopStreamsWithError(1, injected(CaptureErrorCode::stoppedUnexpectedly)), 1u);
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(backend().deliverToDisplay(1, DisplayOutputKind::audio, goodBuffer()), 0u);
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1"));
  EXPECT_THAT(logLines(), ElementsAre("stream start"));

  // Not running any more: a listen starts a fresh capture.
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitForDeviceEvents(2));
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(backend().deliverToDisplay(1, DisplayOutputKind::audio, goodBuffer()), 1u);
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(ui().audioTally("1").events, 1u);
  EXPECT_THAT(logLines(), ElementsAre("stream start", "stream start"));
  expectStillAnswering();
}

TEST_F(FaultInjectionRunningCaptureTest, AMicrophoneThatDisappearsWhileCapturedStopsSilently) {
  expectNullSuccess(ui().listen(microphone("mic-1")));
  backend().removeMicrophone("mic-1");
  ASSERT_TRUE(ui().settle());

  EXPECT_EQ(backend().deliverToMicrophone("mic-1", goodBuffer()), 0u);
  EXPECT_EQ(backend().runningMicrophoneCount(), 0u);
  // A listen drops the dead entry and finds no microphone; unlisten then finds
  // nothing to report.
  expectNullSuccess(ui().listen(microphone("mic-1")));
  expectNullSuccess(ui().unlisten(microphone("mic-1")));
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart input mic-1"));
  EXPECT_THAT(logLines(), IsEmpty());
  EXPECT_EQ(ui().audioTally("mic-1").events, 0u);
  EXPECT_TRUE(ui().getDevices(AudioDeviceType::input).reply().devices().empty());
  expectStillAnswering();
}

TEST_F(FaultInjectionRunningCaptureTest, ADisplayThatDisappearsWhileCapturedStopsSilently) {
  listenToDisplay();
  backend().removeDisplay(1);
  ASSERT_TRUE(ui().settle());

  EXPECT_EQ(backend().runningStreamCount(), 0u);
  // Before any listen the dead entry is still there: unlisten removes it.
  expectNullSuccess(ui().unlisten(display("1")));
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1", "deviceStop output 1"));
  EXPECT_THAT(logLines(), ElementsAre("stream start"));
  EXPECT_TRUE(ui().getDevices(AudioDeviceType::output).reply().devices().empty());
  expectStillAnswering();
}

// At stake: without screen-capture permission the content query fails; the
// UI then sees no displays and no system-audio permission, and a display
// listen quietly does nothing, while microphones work as before.
class FaultInjectionContentQueryTest : public FaultInjectionTest {};

TEST_F(FaultInjectionContentQueryTest, AFailingQueryListsNoDisplaysAndListensToNothing) {
  backend().setShareableContentError(injected(CaptureErrorCode::notPermitted));

  EXPECT_TRUE(ui().getDevices(AudioDeviceType::output).reply().devices().empty());
  const AudioPermission permission = ui().checkPermission().reply().permission();
  EXPECT_FALSE(permission.system);
  EXPECT_TRUE(permission.mic);
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

AudioStreamBasicDescription floatDescription(double rate, std::uint32_t channels) {
  AudioStreamBasicDescription asbd;
  FillOutASBDForLPCM(asbd, rate, channels, 32, 32, true, false, true);
  return asbd;
}

std::vector<std::vector<std::uint8_t>> floatBuffers(std::uint32_t channels, std::size_t frames) {
  return std::vector<std::vector<std::uint8_t>>(channels,
                                                std::vector<std::uint8_t>(frames * sizeof(float)));
}

CMSampleBufferRef atRate(double rate) {
  return CMSampleBufferCreateWithAudioBuffers(floatDescription(rate, 1), floatBuffers(1, 480));
}

std::vector<BadBuffer> badBuffers() {
  return {
      {"Null", [] { return CMSampleBufferRef(); }},
      {"Invalidated",
       [] {
         return CMSampleBufferCreateInvalidated(
             CMSampleBufferCreateWithFloat32Channels(16000, {std::vector<float>(160, 0.5f)}));
       }},
      {"Empty", [] { return CMSampleBufferCreateEmpty(floatDescription(48000, 2)); }},
      {"WithoutFormatDescription",
       [] { return CMSampleBufferCreateWithoutFormatDescription(floatBuffers(1, 160), 1, 160); }},
      {"VideoFrame", [] { return CMSampleBufferCreateVideoFrame(); }},
      {"RateZero", [] { return atRate(0); }},
      {"RateNegative", [] { return atRate(-48000); }},
      {"RateNaN", [] { return atRate(std::numeric_limits<double>::quiet_NaN()); }},
      {"RateInfinite", [] { return atRate(std::numeric_limits<double>::infinity()); }},
      {"Rate1e12", [] { return atRate(1e12); }},
      {"ZeroChannels",
       [] {
         return CMSampleBufferCreateWithAudioBuffers(floatDescription(48000, 0), {}, 480,
                                                     kCMTimeZero);
       }},
      // Beyond any real device: taken as a corrupt description.
      {"ThousandChannels",
       [] {
         return CMSampleBufferCreateWithFloat32Channels(
             48000, std::vector<std::vector<float>>(1000, std::vector<float>(480, 0.5f)));
       }},
      {"MoreFramesThanBytes",
       [] {
         return CMSampleBufferCreateWithAudioBuffers(floatDescription(48000, 2),
                                                     floatBuffers(2, 480), 960, kCMTimeZero);
       }},
      {"FewerFramesThanBytes",
       [] {
         return CMSampleBufferCreateWithAudioBuffers(floatDescription(48000, 2),
                                                     floatBuffers(2, 480), 100, kCMTimeZero);
       }},
      {"NegativeFrameCount",
       [] {
         return CMSampleBufferCreateWithAudioBuffers(floatDescription(48000, 1),
                                                     floatBuffers(1, 480), -1, kCMTimeZero);
       }},
      {"ChannelsWithoutTheirBuffers",
       [] {
         return CMSampleBufferCreateWithAudioBuffers(floatDescription(48000, 1000),
                                                     floatBuffers(2, 480), 480, kCMTimeZero);
       }},
      {"ChannelBuffersOfDifferentSizes",
       [] {
         auto buffers = floatBuffers(2, 480);
         buffers[1].resize(100);
         return CMSampleBufferCreateWithAudioBuffers(floatDescription(48000, 2), buffers, 480,
                                                     kCMTimeZero);
       }},
      {"ByteSizeNotAWholeFrame",
       [] {
         auto buffers = floatBuffers(1, 480);
         buffers[0].push_back(0);
         return CMSampleBufferCreateWithAudioBuffers(floatDescription(48000, 1), buffers, 480,
                                                     kCMTimeZero);
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
  std::string id() const { return fromDisplay() ? "1" : "mic-1"; }

  std::size_t deliver(CMSampleBufferRef buffer) {
    return fromDisplay() ? backend().deliverToDisplay(1, DisplayOutputKind::audio, buffer)
                         : backend().deliverToMicrophone("mic-1", buffer);
  }
};

TEST_P(FaultInjectionBufferTest, ABadBufferIsDroppedSilentlyAndTheNextGoodOneArrives) {
  if (fromDisplay()) {
    listenToDisplay();
  } else {
    expectNullSuccess(ui().listen(microphone("mic-1")));
  }
  const std::vector<std::string> startLog = logLines();

  EXPECT_EQ(deliver(std::get<0>(GetParam()).make()), 1u);
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(ui().audioTally(id()).events, 0u);

  EXPECT_EQ(deliver(goodBuffer()), 1u);
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(ui().audioTally(id()).events, 1u);
  EXPECT_EQ(ui().audioTally(id()).samples, 160u);
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
