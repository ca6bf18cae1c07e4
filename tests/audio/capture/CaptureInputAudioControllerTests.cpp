#include "audio/capture/CaptureInputAudioController.h"

#include <gtest/gtest.h>

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

constexpr const char* kMicID = "mic-1";

// Manual backend and manual queues: each delivered buffer runs through the
// controller inside deliverToMicrophone, on the calling thread.
class CaptureInputAudioControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CaptureBackend::setCurrent(backend_);
    backend_->addMicrophone({kMicID, "Desk Mic"});
  }
  void TearDown() override { CaptureBackend::setCurrent(nullptr); }

  AVCaptureDevice device() const { return AVCaptureDevice(kMicID, "Desk Mic", backend_); }

  std::shared_ptr<CaptureInputAudioController> makeController() {
    auto controller = CaptureInputAudioController::create(kMicID, device(), flutterApi_);
    flutterApi_->expectEventsOn(queues_.find(std::string("input-audio-") + kMicID));
    return controller;
  }

  std::size_t deliver(const CMSampleBufferRef& buffer) {
    return backend_->deliverToMicrophone(kMicID, buffer);
  }

  ManualDispatchQueues queues_;
  std::shared_ptr<SimulatedCaptureBackend> backend_ = SimulatedCaptureBackend::makeManual();
  std::shared_ptr<RecordingFlutterApi> flutterApi_ = std::make_shared<RecordingFlutterApi>();
};

// At stake: every buffer that converts to something reaches the UI as exactly
// one deviceAudioData event for this microphone, sent from its capture queue.
class CaptureInputAudioControllerEventTest : public CaptureInputAudioControllerTest {};

TEST_F(CaptureInputAudioControllerEventTest, SendsA16kMonoBufferAsOneEventWithTheSameSamples) {
  auto controller = makeController();
  const auto samples = test::rampSamples(160);
  ASSERT_EQ(deliver(CMSampleBufferCreateWithFloat32Channels(16000, {samples})), 1u);

  auto sent = flutterApi_->sent();
  ASSERT_EQ(sent.size(), 1u);
  const NativeAudioEvent& event = sent[0].event;
  EXPECT_EQ(event.id, kMicID);
  EXPECT_EQ(event.type, AudioDeviceType::input);
  EXPECT_EQ(event.eventType, NativeAudioEventType::deviceAudioData);
  EXPECT_EQ(event.audioData, test::widened(samples));
  EXPECT_FALSE(event.error.has_value());
  EXPECT_TRUE(sent[0].onExpectedQueue);
}

// At stake: a buffer that converts to nothing is skipped silently; the capture
// goes on and later buffers are still sent.
class CaptureInputAudioControllerSkipTest
    : public CaptureInputAudioControllerTest,
      public ::testing::WithParamInterface<test::UnconvertibleBuffer> {};

TEST_P(CaptureInputAudioControllerSkipTest, SendsNothingForTheBufferAndGoesOn) {
  auto controller = makeController();
  deliver(GetParam().make());
  EXPECT_EQ(flutterApi_->count(), 0u);

  deliver(CMSampleBufferCreateWithFloat32Channels(16000, {test::rampSamples(16)}));
  EXPECT_EQ(flutterApi_->count(), 1u);
  EXPECT_TRUE(controller->isRunning());
}

INSTANTIATE_TEST_SUITE_P(Buffers, CaptureInputAudioControllerSkipTest,
                         ::testing::ValuesIn(test::unconvertibleBuffers()),
                         [](const auto& info) { return std::string(info.param.name); });

// At stake: running is the capture session's state; the controller asks for
// mono 16 kHz lpcm and is capturing as soon as it exists.
class CaptureInputAudioControllerLifecycleTest : public CaptureInputAudioControllerTest {};

TEST_F(CaptureInputAudioControllerLifecycleTest, RunsBeforeTheConstructorReturns) {
  auto controller = makeController();
  EXPECT_TRUE(controller->isRunning());
  EXPECT_EQ(backend_->runningMicrophoneCount(), 1u);
  ASSERT_NE(queues_.find("input-audio-mic-1"), nullptr);
}

TEST_F(CaptureInputAudioControllerLifecycleTest, AsksTheDeviceForMonoLinearPcmAt16k) {
  auto controller = makeController();
  auto requested = backend_->requestedSettings(kMicID);
  ASSERT_TRUE(requested);
  EXPECT_EQ(requested->formatID, kAudioFormatLinearPCM);
  EXPECT_EQ(requested->numberOfChannels, 1);
  EXPECT_EQ(requested->sampleRate, 16000.0);
}

TEST_F(CaptureInputAudioControllerLifecycleTest, StopEndsDeliveryAndASecondStopDoesNothing) {
  auto controller = makeController();
  controller->stop();
  EXPECT_FALSE(controller->isRunning());
  EXPECT_EQ(deliver(CMSampleBufferCreateWithFloat32Channels(16000, {test::rampSamples(16)})), 0u);
  controller->stop();
  EXPECT_FALSE(controller->isRunning());
  EXPECT_EQ(flutterApi_->count(), 0u);
}

TEST_F(CaptureInputAudioControllerLifecycleTest, StartAfterStopCapturesAgain) {
  auto controller = makeController();
  controller->stop();
  controller->start();
  EXPECT_TRUE(controller->isRunning());
  deliver(CMSampleBufferCreateWithFloat32Channels(16000, {test::rampSamples(16)}));
  EXPECT_EQ(flutterApi_->count(), 1u);
}

TEST_F(CaptureInputAudioControllerLifecycleTest, AMicrophoneThatGoesAwayLeavesItNotRunning) {
  auto controller = makeController();
  backend_->removeMicrophone(kMicID);
  EXPECT_FALSE(controller->isRunning());
  controller->stop();
  EXPECT_FALSE(controller->isRunning());
}

TEST_F(CaptureInputAudioControllerLifecycleTest, AFailedSessionStartLeavesItNotRunningUntilStart) {
  backend_->failNextMicrophoneStart(makeCaptureError(CaptureErrorCode::startFailed, "busy"));
  auto controller = makeController();
  EXPECT_FALSE(controller->isRunning());
  controller->start();
  EXPECT_TRUE(controller->isRunning());
}

// At stake: a microphone that cannot be opened fails the construction with the
// platform's error and leaves nothing behind that could capture or call back.
class CaptureInputAudioControllerFailureTest : public CaptureInputAudioControllerTest {};

TEST_F(CaptureInputAudioControllerFailureTest, AMicrophoneThatCannotBeOpenedThrowsItsError) {
  backend_->failNextMicrophoneOpen(makeCaptureError(CaptureErrorCode::deviceUnavailable, "busy"));
  try {
    CaptureInputAudioController::create(kMicID, device(), flutterApi_);
    FAIL() << "construction succeeded";
  } catch (const NSError& error) {
    EXPECT_EQ(error.code(), static_cast<std::int64_t>(CaptureErrorCode::deviceUnavailable));
  }
  EXPECT_EQ(backend_->openMicrophoneCount(), 0u);
  EXPECT_EQ(deliver(CMSampleBufferCreateWithFloat32Channels(16000, {test::rampSamples(16)})), 0u);
  EXPECT_EQ(flutterApi_->count(), 0u);
}

TEST_F(CaptureInputAudioControllerFailureTest, AMissingEventSenderIsRefusedBeforeCapturing) {
  EXPECT_THROW(CaptureInputAudioController::create(kMicID, device(), nullptr),
               std::invalid_argument);
  EXPECT_EQ(backend_->runningMicrophoneCount(), 0u);
}

// At stake: the bytes on the event channel are what the UI's generated code
// decodes into the same event: record 128, id, type 0, deviceAudioData, samples.
class CaptureInputAudioControllerUiTest : public CaptureInputAudioControllerTest {};

TEST_F(CaptureInputAudioControllerUiTest, TheUiDecodesTheMicrophonesSamplesUnderItsId) {
  auto engine = test::makeEngineOnRealQueues();
  test::UiEventRecorder ui(*engine);
  auto api = std::make_shared<BridgeFlutterApi>(engine->binaryMessenger());
  auto controller = CaptureInputAudioController::create(kMicID, device(), api);
  const auto samples = test::rampSamples(160);
  deliver(CMSampleBufferCreateWithFloat32Channels(16000, {samples}));

  ASSERT_TRUE(test::pumpMainUntil([&] { return ui.messages().size() == 1; }));
  const auto message = ui.messages()[0];
  ASSERT_GE(message.size(), 3u);
  EXPECT_EQ(message[0], 0x0c);  // a list…
  EXPECT_EQ(message[1], 0x01);  // …of one element…
  EXPECT_EQ(message[2], 0x80);  // …which is the event record
  const NativeAudioEvent expected{kMicID, AudioDeviceType::input,
                                  NativeAudioEventType::deviceAudioData, test::widened(samples),
                                  std::nullopt};
  EXPECT_EQ(ui.events(), std::vector<NativeAudioEvent>{expected});

  controller.reset();
  test::pumpMainIdle();
}

// At stake: destruction stops the capture, and no buffer reaches the destroyed
// controller (ASan catches a late callback).
class CaptureInputAudioControllerDestructionTest : public CaptureInputAudioControllerTest {};

TEST_F(CaptureInputAudioControllerDestructionTest, StopsTheSessionAndReceivesNothingAfterwards) {
  auto controller = makeController();
  controller.reset();
  EXPECT_EQ(backend_->runningMicrophoneCount(), 0u);
  EXPECT_EQ(backend_->openMicrophoneCount(), 0u);
  EXPECT_EQ(deliver(CMSampleBufferCreateWithFloat32Channels(16000, {test::rampSamples(16)})), 0u);
  EXPECT_EQ(flutterApi_->count(), 0u);
}

TEST_F(CaptureInputAudioControllerDestructionTest, DropsBuffersStillQueuedWhenDestroyed) {
  // Real queue, so a buffer can sit on it while the controller goes.
  ScopedDispatchQueueFactory threaded(nullptr);
  auto controller = makeController();
  // Deliver from another thread while the main thread destroys: whatever the
  // order, nothing may reach the controller after its destructor returned.
  std::thread deliverer([&] {
    for (int i = 0; i < 50; ++i) {
      deliver(CMSampleBufferCreateWithFloat32Channels(16000, {test::rampSamples(16)}));
    }
  });
  controller.reset();
  const std::size_t sentAtDestruction = flutterApi_->count();
  deliverer.join();
  EXPECT_EQ(flutterApi_->count(), sentAtDestruction);
}

}  // namespace
}  // namespace harkwell
