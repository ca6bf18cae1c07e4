#include "audio/capture/CaptureStreamAudioController.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "backends/simulated/SimulatedCaptureBackend.h"
#include "platform/capture/CaptureBackend.h"
#include "tests/audio/capture/CaptureControllerTestSupport.h"
#include "tests/platform/flutter/FlutterMessagingTestSupport.h"
#include "tests/support/ManualDispatchQueue.h"

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

  // A controller whose start the platform has confirmed.
  std::shared_ptr<CaptureStreamAudioController> makeRunningController() {
    auto controller = makeController();
    controller->start();
    EXPECT_TRUE(controller->isRunning());
    return controller;
  }

  std::size_t deliverAudio(const CMSampleBufferRef& buffer = audioBuffer()) {
    return backend_->deliverToDisplay(kDisplayID, DisplayOutputKind::audio, buffer);
  }

  ManualDispatchQueues queues_;
  test::RecordedHostLog log_;
  std::shared_ptr<SimulatedCaptureBackend> backend_ = SimulatedCaptureBackend::makeManual();
  std::shared_ptr<RecordingFlutterApi> flutterApi_ = std::make_shared<RecordingFlutterApi>();
};

using Lines = std::vector<std::string>;

// At stake: the display's audio reaches the UI as deviceAudioData events of
// type output under the display's id, from the audio queue; nothing else does.
class CaptureStreamAudioControllerEventTest : public CaptureStreamAudioControllerTest {};

TEST_F(CaptureStreamAudioControllerEventTest, SendsEachAudioBufferAsOneOutputEvent) {
  auto controller = makeRunningController();
  const auto samples = test::rampSamples(160);
  ASSERT_EQ(deliverAudio(CMSampleBufferCreateWithFloat32Channels(16000, {samples})), 1u);

  auto sent = flutterApi_->sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].event.id, kID);
  EXPECT_EQ(sent[0].event.type, AudioDeviceType::output);
  EXPECT_EQ(sent[0].event.eventType, NativeAudioEventType::deviceAudioData);
  EXPECT_EQ(sent[0].event.audioData, test::widened(samples));
  EXPECT_FALSE(sent[0].event.error.has_value());
  EXPECT_TRUE(sent[0].onExpectedQueue);
}

TEST_F(CaptureStreamAudioControllerEventTest, AveragesA48kStereoStreamAndKeepsEveryThirdFrame) {
  auto controller = makeRunningController();
  const auto left = test::rampSamples(1024);
  const std::vector<float> right(1024, -0.125f);
  deliverAudio(CMSampleBufferCreateWithFloat32Channels(48000, {left, right}));

  auto sent = flutterApi_->sent();
  ASSERT_EQ(sent.size(), 1u);
  const auto& audio = *sent[0].event.audioData;
  ASSERT_EQ(audio.size(), 342u);
  for (std::size_t k = 0; k < audio.size(); ++k) {
    EXPECT_EQ(audio[k], static_cast<double>((left[3 * k] + right[3 * k]) / 2.0f)) << "at " << k;
  }
}

TEST_F(CaptureStreamAudioControllerEventTest, NeverSendsScreenFramesEvenWhenTheyCarryAudio) {
  auto controller = makeRunningController();
  EXPECT_EQ(backend_->deliverToDisplay(kDisplayID, DisplayOutputKind::screen,
                                       CMSampleBufferCreateVideoFrame()),
            1u);
  EXPECT_EQ(backend_->deliverToDisplay(kDisplayID, DisplayOutputKind::screen, audioBuffer()), 1u);
  EXPECT_EQ(flutterApi_->count(), 0u);
}

TEST_F(CaptureStreamAudioControllerEventTest, SendsAudioThatArrivesBeforeTheStartIsConfirmed) {
  backend_->holdStreamStartCompletions(true);
  auto controller = makeController();
  controller->start();
  ASSERT_FALSE(controller->isRunning());
  deliverAudio();
  EXPECT_EQ(flutterApi_->count(), 1u);
}

class CaptureStreamAudioControllerSkipTest
    : public CaptureStreamAudioControllerTest,
      public ::testing::WithParamInterface<test::UnconvertibleBuffer> {};

// At stake: an audio buffer that is invalid or converts to nothing is skipped
// without a word, and the stream goes on.
TEST_P(CaptureStreamAudioControllerSkipTest, SendsNothingForTheBufferAndGoesOn) {
  auto controller = makeRunningController();
  deliverAudio(GetParam().make());
  EXPECT_EQ(flutterApi_->count(), 0u);
  deliverAudio();
  EXPECT_EQ(flutterApi_->count(), 1u);
  EXPECT_EQ(log_.lines(), Lines{"stream start"});
}

INSTANTIATE_TEST_SUITE_P(Buffers, CaptureStreamAudioControllerSkipTest,
                         ::testing::ValuesIn(test::unconvertibleBuffers()),
                         [](const auto& info) { return std::string(info.param.name); });

// At stake: the stream the controller makes captures audio at most 30 frames
// a second on two labelled queues, and a refused output fails construction
// with the platform's error without leaving a stream behind.
class CaptureStreamAudioControllerConstructionTest : public CaptureStreamAudioControllerTest {};

TEST_F(CaptureStreamAudioControllerConstructionTest, ConfiguresAudioAndAThirtiethOfASecond) {
  auto controller = makeController();
  auto settings = backend_->streamSettings(kDisplayID);
  ASSERT_TRUE(settings);
  EXPECT_TRUE(settings->capturesAudio);
  EXPECT_DOUBLE_EQ(settings->minimumFrameIntervalSeconds, 1.0 / 30.0);
  EXPECT_NE(queues_.find("stream-audio-7"), nullptr);
  EXPECT_NE(queues_.find("stream-video-7"), nullptr);
}

TEST_F(CaptureStreamAudioControllerConstructionTest, IsNotRunningAndLogsNothingUntilStarted) {
  auto controller = makeController();
  EXPECT_FALSE(controller->isRunning());
  EXPECT_EQ(backend_->runningStreamCount(), 0u);
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(CaptureStreamAudioControllerConstructionTest, ARefusedOutputThrowsThePlatformError) {
  backend_->failNextAddOutput(makeCaptureError(CaptureErrorCode::outputRejected, "refused"));
  try {
    CaptureStreamAudioController::create(kID, display(), flutterApi_);
    FAIL() << "construction succeeded";
  } catch (const NSError& error) {
    EXPECT_EQ(error.code(), static_cast<std::int64_t>(CaptureErrorCode::outputRejected));
  }
  EXPECT_EQ(backend_->openStreamCount(), 0u);
  EXPECT_TRUE(log_.lines().empty());
}

// At stake: start and stop report the platform's answer in the fixed log lines
// and move isRunning() only on what the platform confirmed.
class CaptureStreamAudioControllerStartStopTest : public CaptureStreamAudioControllerTest {};

TEST_F(CaptureStreamAudioControllerStartStopTest, AConfirmedStartLogsAndRuns) {
  auto controller = makeController();
  controller->start();
  EXPECT_TRUE(controller->isRunning());
  EXPECT_EQ(backend_->runningStreamCount(), 1u);
  EXPECT_EQ(log_.lines(), Lines{"stream start"});
}

TEST_F(CaptureStreamAudioControllerStartStopTest, AFailedStartLogsTheErrorAsOptionalAndStaysOff) {
  const NSError error = makeCaptureError(CaptureErrorCode::startFailed, "The display is asleep");
  backend_->failNextStreamStart(error);
  auto controller = makeController();
  controller->start();
  EXPECT_FALSE(controller->isRunning());
  EXPECT_EQ(log_.lines(), Lines{"stream start failed Optional(Error Domain=com.harkwell.capture "
                                "Code=5 \"The display is asleep\")"});
}

TEST_F(CaptureStreamAudioControllerStartStopTest, IsNotRunningUntilTheStartIsConfirmed) {
  backend_->holdStreamStartCompletions(true);
  auto controller = makeController();
  controller->start();
  EXPECT_FALSE(controller->isRunning());
  EXPECT_TRUE(log_.lines().empty());
  backend_->releaseStreamStartCompletions();
  EXPECT_TRUE(controller->isRunning());
}

TEST_F(CaptureStreamAudioControllerStartStopTest, StopBeforeTheStartIsConfirmedDoesNothing) {
  backend_->holdStreamStartCompletions(true);
  backend_->holdStreamStopCompletions(true);
  auto controller = makeController();
  controller->start();
  controller->stop();
  EXPECT_EQ(backend_->releaseStreamStopCompletions(), 0u);
  backend_->releaseStreamStartCompletions();
  EXPECT_TRUE(controller->isRunning());
  EXPECT_EQ(log_.lines(), Lines{"stream start"});
}

TEST_F(CaptureStreamAudioControllerStartStopTest, AConfirmedStopLogsAndEndsTheCapture) {
  auto controller = makeRunningController();
  controller->stop();
  EXPECT_FALSE(controller->isRunning());
  EXPECT_EQ(deliverAudio(), 0u);
  EXPECT_EQ(log_.lines(), (Lines{"stream start", "stream stop"}));
}

TEST_F(CaptureStreamAudioControllerStartStopTest, StaysRunningUntilTheStopIsConfirmed) {
  backend_->holdStreamStopCompletions(true);
  auto controller = makeRunningController();
  controller->stop();
  EXPECT_TRUE(controller->isRunning());
  backend_->releaseStreamStopCompletions();
  EXPECT_FALSE(controller->isRunning());
}

TEST_F(CaptureStreamAudioControllerStartStopTest, AFailedStopLogsAndStaysRunning) {
  auto controller = makeRunningController();
  backend_->failNextStreamStop(makeCaptureError(CaptureErrorCode::stopFailed, "stuck"));
  controller->stop();
  EXPECT_TRUE(controller->isRunning());
  EXPECT_EQ(log_.lines(), (Lines{"stream start", "stream stop"}));
  controller->stop();
  EXPECT_FALSE(controller->isRunning());
}

TEST_F(CaptureStreamAudioControllerStartStopTest, AStreamEndingWithAnErrorStopsItSilently) {
  auto controller = makeRunningController();
  EXPECT_EQ(backend_->stopStreamsWithError(
                kDisplayID, makeCaptureError(CaptureErrorCode::stoppedUnexpectedly, "gone")),
            1u);
  EXPECT_FALSE(controller->isRunning());
  backend_->holdStreamStopCompletions(true);
  controller->stop();
  EXPECT_EQ(backend_->releaseStreamStopCompletions(), 0u);
  EXPECT_EQ(log_.lines(), Lines{"stream start"});
  EXPECT_EQ(flutterApi_->count(), 0u);
}

// At stake: a controller that goes away never leaves its stream capturing with
// nobody to stop it (also while its start is pending, as when two quick listens
// for one display drop the first controller), and no completion, output or
// delegate callback touches it afterwards (ASan catches one that does).
class CaptureStreamAudioControllerDestructionTest : public CaptureStreamAudioControllerTest {};

TEST_F(CaptureStreamAudioControllerDestructionTest, StopsAStreamWhoseStartIsStillPending) {
  backend_->holdStreamStartCompletions(true);
  backend_->holdStreamStopCompletions(true);
  auto controller = makeController();
  controller->start();
  controller.reset();

  EXPECT_EQ(backend_->runningStreamCount(), 0u);
  EXPECT_EQ(backend_->releaseStreamStopCompletions(), 1u);
  // The start completion arrives after the controller is gone: it only logs.
  EXPECT_EQ(backend_->releaseStreamStartCompletions(), 1u);
  EXPECT_EQ(log_.lines(), (Lines{"stream stop", "stream start"}));
}

TEST_F(CaptureStreamAudioControllerDestructionTest, AReplacedControllersAudioStopsArriving) {
  backend_->holdStreamStartCompletions(true);
  auto first = makeController();
  first->start();
  auto second = makeController();
  second->start();
  ASSERT_EQ(deliverAudio(), 2u);
  first.reset();

  EXPECT_EQ(deliverAudio(), 1u);
  EXPECT_EQ(flutterApi_->count(), 3u);
  backend_->releaseStreamStartCompletions();
  EXPECT_TRUE(second->isRunning());
}

TEST_F(CaptureStreamAudioControllerDestructionTest, StopsARunningStreamAndTheLateStopOnlyLogs) {
  backend_->holdStreamStopCompletions(true);
  auto controller = makeRunningController();
  controller.reset();
  EXPECT_EQ(backend_->runningStreamCount(), 0u);
  EXPECT_EQ(backend_->releaseStreamStopCompletions(), 1u);
  EXPECT_EQ(log_.lines(), (Lines{"stream start", "stream stop"}));
}

TEST_F(CaptureStreamAudioControllerDestructionTest, AStopPendingAtDestructionIsNotAskedTwice) {
  backend_->holdStreamStopCompletions(true);
  auto controller = makeRunningController();
  controller->stop();
  controller.reset();
  EXPECT_EQ(backend_->releaseStreamStopCompletions(), 1u);
  EXPECT_EQ(log_.lines(), (Lines{"stream start", "stream stop"}));
}

TEST_F(CaptureStreamAudioControllerDestructionTest, AFailedStopIsRetriedAtDestruction) {
  auto controller = makeRunningController();
  backend_->failNextStreamStop(makeCaptureError(CaptureErrorCode::stopFailed, "busy"));
  controller->stop();
  controller.reset();
  EXPECT_EQ(backend_->runningStreamCount(), 0u);
  EXPECT_EQ(log_.lines(), (Lines{"stream start", "stream stop", "stream stop"}));
}

// A controller brought into a state where its stream is not capturing.
struct IdleState {
  const char* name;
  std::function<void(CaptureStreamAudioController&, SimulatedCaptureBackend&)> reach;
};

class CaptureStreamAudioControllerIdleDestructionTest
    : public CaptureStreamAudioControllerTest,
      public ::testing::WithParamInterface<IdleState> {};

// At stake: destroying a controller whose stream is not capturing asks the
// platform for nothing and logs nothing.
TEST_P(CaptureStreamAudioControllerIdleDestructionTest, AsksTheStreamForNothing) {
  auto controller = makeController();
  GetParam().reach(*controller, *backend_);
  const auto linesBefore = log_.lines();
  backend_->holdStreamStopCompletions(true);
  controller.reset();
  EXPECT_EQ(backend_->releaseStreamStopCompletions(), 0u);
  EXPECT_EQ(log_.lines(), linesBefore);
}

INSTANTIATE_TEST_SUITE_P(
    States, CaptureStreamAudioControllerIdleDestructionTest,
    ::testing::Values(
        IdleState{"NeverStarted", [](auto&, auto&) {}},
        IdleState{"StartFailed",
                  [](CaptureStreamAudioController& controller, SimulatedCaptureBackend& backend) {
                    backend.failNextStreamStart(
                        makeCaptureError(CaptureErrorCode::startFailed, "no"));
                    controller.start();
                  }},
        IdleState{"StopConfirmed",
                  [](CaptureStreamAudioController& controller, SimulatedCaptureBackend&) {
                    controller.start();
                    controller.stop();
                  }},
        IdleState{"EndedByItself",
                  [](CaptureStreamAudioController& controller, SimulatedCaptureBackend& backend) {
                    controller.start();
                    backend.stopStreamsWithError(
                        kDisplayID, makeCaptureError(CaptureErrorCode::stoppedUnexpectedly, "x"));
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// At stake: the UI decodes the bytes into the same event, type 1.
class CaptureStreamAudioControllerUiTest : public CaptureStreamAudioControllerTest {};

TEST_F(CaptureStreamAudioControllerUiTest, TheUiDecodesTheDisplaysSamplesUnderItsId) {
  auto engine = test::makeEngineOnRealQueues();
  test::UiEventRecorder ui(*engine);
  auto api = std::make_shared<BridgeFlutterApi>(engine->binaryMessenger());
  auto controller = CaptureStreamAudioController::create(kID, display(), api);
  controller->start();
  const auto samples = test::rampSamples(320);
  deliverAudio(CMSampleBufferCreateWithFloat32Channels(16000, {samples}));

  ASSERT_TRUE(test::pumpMainUntil([&] { return ui.messages().size() == 1; }));
  const NativeAudioEvent expected{kID, AudioDeviceType::output,
                                  NativeAudioEventType::deviceAudioData, test::widened(samples),
                                  std::nullopt};
  EXPECT_EQ(ui.events(), std::vector<NativeAudioEvent>{expected});

  controller.reset();
  test::pumpMainIdle();
}

// At stake: with real queues and threads, audio delivery, the platform's
// completions and stop callbacks race with start, stop, isRunning and
// destruction without a data race (TSan) or a late callback (ASan). Bounded in
// time; asserts only what holds in every interleaving.
class CaptureStreamAudioControllerThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CaptureBackend::setCurrent(backend_);
    backend_->addDisplay(kDisplayID);
  }
  void TearDown() override { CaptureBackend::setCurrent(nullptr); }

  test::RecordedHostLog log_;
  std::shared_ptr<SimulatedCaptureBackend> backend_ = SimulatedCaptureBackend::makeManual();
  std::shared_ptr<RecordingFlutterApi> flutterApi_ = std::make_shared<RecordingFlutterApi>();
};

TEST_F(CaptureStreamAudioControllerThreadTest, SurvivesDeliveryAndStopsRacingWithItsLifecycle) {
  std::atomic<bool> done{false};
  std::thread deliverer([&] {
    while (!done.load()) {
      backend_->deliverToDisplay(kDisplayID, DisplayOutputKind::audio, audioBuffer(32));
      backend_->deliverToDisplay(kDisplayID, DisplayOutputKind::screen,
                                 CMSampleBufferCreateVideoFrame());
    }
  });
  std::thread stopper([&] {
    while (!done.load()) {
      backend_->stopStreamsWithError(kDisplayID,
                                     makeCaptureError(CaptureErrorCode::stoppedUnexpectedly, "x"));
      std::this_thread::yield();
    }
  });

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  while (std::chrono::steady_clock::now() < deadline) {
    auto controller =
        CaptureStreamAudioController::create(kID, SCDisplay(kDisplayID, backend_), flutterApi_);
    controller->start();
    (void)controller->isRunning();
    controller->stop();
    (void)controller->isRunning();
  }
  done.store(true);
  deliverer.join();
  stopper.join();

  EXPECT_EQ(backend_->runningStreamCount(), 0u);
  for (const auto& sent : flutterApi_->sent()) EXPECT_EQ(sent.event.id, kID);
}

}  // namespace
}  // namespace harkwell
