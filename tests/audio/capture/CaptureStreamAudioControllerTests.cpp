#include "audio/capture/CaptureStreamAudioController.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/capture/CaptureBackend.h"
#include "tests/audio/capture/CaptureControllerTestSupport.h"
#include "tests/support/ManualDispatchQueue.h"
#include "tests/support/SimulatedTestBackend.h"

namespace harkwell {
namespace {

using test::RecordingFlutterApi;

constexpr std::uint32_t kDisplayID = 7;
constexpr const char* kID = "7";

CMSampleBufferRef audioBuffer(std::size_t frames = 160) {
  return CMSampleBufferCreateWithFloat32Channels(16000, {test::rampSamples(frames)});
}

// Manual backend and manual queues: buffers run through the controller inside
// deliverToDisplay, completions inside the call that answers them, all on the
// test's thread. Log lines are recorded instead of written.
class CaptureStreamAudioControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CaptureBackend::setCurrent(backend_);
    backend_->addDisplay(kDisplayID);
  }
  void TearDown() override { CaptureBackend::setCurrent(nullptr); }

  SCDisplay display() const { return SCDisplay(kDisplayID, backend_); }

  std::shared_ptr<CaptureStreamAudioController> makeController() {
    auto controller = CaptureStreamAudioController::create(kID, display(), flutterApi_);
    flutterApi_->expectEventsOn(queues_.find(std::string("stream-audio-") + kID));
    return controller;
  }

  std::size_t deliverAudio(const CMSampleBufferRef& buffer = audioBuffer()) {
    return backend_->deliverToDisplay(kDisplayID, DisplayOutputKind::audio, buffer);
  }

  ManualDispatchQueues queues_;
  test::RecordedHostLog log_;
  std::shared_ptr<SimulatedTestBackend> backend_ = SimulatedTestBackend::makeManual();
  std::shared_ptr<RecordingFlutterApi> flutterApi_ = std::make_shared<RecordingFlutterApi>();
};

using Lines = std::vector<std::string>;

// At stake: the stream captures audio at most 30 frames a second; only its
// audio reaches the UI, as deviceAudioData events of type output under the
// display's id, sent from the audio queue after deviceStart, also before the
// start is confirmed.
TEST_F(CaptureStreamAudioControllerTest, SendsOnlyTheAudioAsOutputEventsFromTheAudioQueue) {
  backend_->holdStreamStartCompletions(true);
  auto controller = makeController();
  const auto settings = backend_->streamSettings(kDisplayID);
  ASSERT_TRUE(settings);
  EXPECT_TRUE(settings->capturesAudio);
  EXPECT_DOUBLE_EQ(settings->minimumFrameIntervalSeconds, 1.0 / 30.0);
  controller->start();

  const auto samples = test::rampSamples(160);
  ASSERT_EQ(deliverAudio(CMSampleBufferCreateWithFloat32Channels(16000, {samples})), 1u);
  EXPECT_EQ(backend_->deliverToDisplay(kDisplayID, DisplayOutputKind::screen, audioBuffer()), 1u);
  controller->announceStart();
  const auto sent = flutterApi_->sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].event,
            (NativeAudioEvent{kID, AudioDeviceType::output, NativeAudioEventType::deviceStart,
                              std::nullopt, std::nullopt}));
  EXPECT_EQ(sent[1].event,
            (NativeAudioEvent{kID, AudioDeviceType::output, NativeAudioEventType::deviceAudioData,
                              test::widened(samples), std::nullopt}));
  EXPECT_TRUE(sent[0].onExpectedQueue && sent[1].onExpectedQueue);
}

// At stake: a stop while the platform has yet to confirm the start tears the
// stream down at once, and the late confirmation changes nothing.
TEST_F(CaptureStreamAudioControllerTest, AStopDuringAPendingStartEndsTheCaptureForGood) {
  backend_->holdStreamStartCompletions(true);
  auto controller = makeController();
  controller->start();
  EXPECT_TRUE(controller->isRunning());
  controller->stop();
  EXPECT_EQ(backend_->runningStreamCount(), 0u);
  EXPECT_EQ(deliverAudio(), 0u);
  backend_->releaseStreamStartCompletions();
  EXPECT_FALSE(controller->isRunning());
  EXPECT_EQ(log_.lines(), (Lines{"stream stop", "stream start"}));
}

// At stake: a controller that goes away never leaves its stream capturing with
// nobody to stop it (also while its start is pending, as when two quick listens
// for one display drop the first controller), and no completion, output or
// delegate callback touches it afterwards (ASan catches one that does).
class CaptureStreamAudioControllerDestructionTest : public CaptureStreamAudioControllerTest {};

TEST_F(CaptureStreamAudioControllerDestructionTest, AReplacedControllersAudioStopsArriving) {
  backend_->holdStreamStartCompletions(true);
  auto first = makeController();
  first->start();
  auto second = makeController();
  second->start();
  ASSERT_EQ(deliverAudio(), 2u);
  first.reset();

  EXPECT_EQ(deliverAudio(), 1u);
  // Each sent its deviceStart ahead of its first block.
  EXPECT_EQ(flutterApi_->count(), 5u);
  backend_->releaseStreamStartCompletions();
  EXPECT_TRUE(second->isRunning());
}

// What happens to a controller before it goes.
enum class Step { start, stop, holdStart, holdStop, failStart, failStop, endWithError };

// The steps that bring a controller into a state, the stops its destruction
// must ask for, and the log once every held completion has run.
struct StateAtRelease {
  const char* name;
  std::vector<Step> steps;
  std::size_t stopsAsked;
  Lines log;
};

class CaptureStreamAudioControllerReleaseTest
    : public CaptureStreamAudioControllerTest,
      public ::testing::WithParamInterface<StateAtRelease> {
 protected:
  void take(Step step, CaptureStreamAudioController& controller) {
    if (step == Step::start) controller.start();
    if (step == Step::stop) controller.stop();
    if (step == Step::holdStart) backend_->holdStreamStartCompletions(true);
    if (step == Step::holdStop) backend_->holdStreamStopCompletions(true);
    if (step == Step::failStart)
      backend_->failNextStreamStart(makeCaptureError(CaptureErrorCode::startFailed, "no"));
    if (step == Step::failStop)
      backend_->failNextStreamStop(makeCaptureError(CaptureErrorCode::stopFailed, "no"));
    if (step == Step::endWithError)
      backend_->stopStreamsWithError(kDisplayID,
                                     makeCaptureError(CaptureErrorCode::stoppedUnexpectedly, "x"));
  }
};

// At stake: destruction stops a stream that captures or may start capturing
// (a start still pending), asks nothing of one that does not (nor again of one
// already stopped, even when that stop failed), and late completions only log.
TEST_P(CaptureStreamAudioControllerReleaseTest, AsksForAStopOnlyWhenTheStreamMayCapture) {
  auto controller = makeController();
  for (const Step step : GetParam().steps) take(step, *controller);
  backend_->holdStreamStopCompletions(true);
  controller.reset();
  EXPECT_EQ(backend_->runningStreamCount(), 0u);
  EXPECT_EQ(backend_->releaseStreamStopCompletions(), GetParam().stopsAsked);
  backend_->releaseStreamStartCompletions();
  EXPECT_EQ(log_.lines(), GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(
    States, CaptureStreamAudioControllerReleaseTest,
    ::testing::Values(
        StateAtRelease{"NeverStarted", {}, 0, {}},
        StateAtRelease{
            "StartPending", {Step::holdStart, Step::start}, 1, {"stream stop", "stream start"}},
        StateAtRelease{"Running", {Step::start}, 1, {"stream start", "stream stop"}},
        StateAtRelease{"StopPending",
                       {Step::start, Step::holdStop, Step::stop},
                       1,
                       {"stream start", "stream stop"}},
        StateAtRelease{"StopFailed",
                       {Step::start, Step::failStop, Step::stop},
                       0,
                       {"stream start", "stream stop"}},
        StateAtRelease{
            "StopConfirmed", {Step::start, Step::stop}, 0, {"stream start", "stream stop"}},
        StateAtRelease{
            "StartFailed",
            {Step::failStart, Step::start},
            0,
            {"stream start failed Optional(Error Domain=com.harkwell.capture Code=5 \"no\")"}},
        StateAtRelease{"EndedByItself", {Step::start, Step::endWithError}, 0, {"stream start"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harkwell
