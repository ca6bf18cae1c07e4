#include "audio/capture/CaptureInputAudioController.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "platform/capture/CaptureBackend.h"
#include "platform/dispatch/DispatchQueueFactory.h"
#include "tests/audio/capture/CaptureControllerTestSupport.h"
#include "tests/support/ManualDispatchQueue.h"
#include "tests/support/SimulatedTestBackend.h"

namespace harkwell {
namespace {

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

  std::shared_ptr<CaptureInputAudioController> makeController() {
    auto controller = CaptureInputAudioController::create(
        kMicID, AVCaptureDevice(kMicID, "Desk Mic", backend_), flutterApi_);
    flutterApi_->expectEventsOn(queues_.find(std::string("input-audio-") + kMicID));
    return controller;
  }

  std::size_t deliver() {
    return backend_->deliverToMicrophone(
        kMicID, CMSampleBufferCreateWithFloat32Channels(16000, {test::rampSamples(16)}));
  }

  ManualDispatchQueues queues_;
  std::shared_ptr<SimulatedTestBackend> backend_ = SimulatedTestBackend::makeManual();
  std::shared_ptr<test::RecordingFlutterApi> flutterApi_ =
      std::make_shared<test::RecordingFlutterApi>();
};

// At stake: the controller asks for mono 16 kHz lpcm, captures as soon as it
// exists, and sends each buffer as exactly one deviceAudioData event for this
// microphone from its capture queue, after one deviceStart.
TEST_F(CaptureInputAudioControllerTest, CapturesMono16kAndSendsEachBufferFromItsQueue) {
  auto controller = makeController();
  EXPECT_TRUE(controller->isRunning());
  const auto requested = backend_->requestedSettings(kMicID);
  ASSERT_TRUE(requested);
  EXPECT_EQ(requested->formatID, kAudioFormatLinearPCM);
  EXPECT_EQ(requested->numberOfChannels, 1);
  EXPECT_EQ(requested->sampleRate, 16000.0);

  const auto samples = test::rampSamples(160);
  ASSERT_EQ(backend_->deliverToMicrophone(
                kMicID, CMSampleBufferCreateWithFloat32Channels(16000, {samples})),
            1u);
  controller->announceStart();
  const auto sent = flutterApi_->sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].event.eventType, NativeAudioEventType::deviceStart);
  EXPECT_EQ(sent[1].event,
            (NativeAudioEvent{kMicID, AudioDeviceType::input, NativeAudioEventType::deviceAudioData,
                              test::widened(samples), std::nullopt}));
  EXPECT_TRUE(sent[0].onExpectedQueue && sent[1].onExpectedQueue);
}

// At stake: destruction stops and closes the capture, and no buffer reaches
// the destroyed controller, also one delivered from another thread meanwhile
// (ASan catches a late callback, TSan a race).
TEST_F(CaptureInputAudioControllerTest, DestructionEndsTheCaptureAndDropsBuffersInFlight) {
  // Real queue, so a buffer can sit on it while the controller goes.
  ScopedDispatchQueueFactory threaded(nullptr);
  auto controller = makeController();
  std::thread deliverer([&] {
    for (int i = 0; i < 50; ++i) deliver();
  });
  controller.reset();
  const std::size_t sentAtDestruction = flutterApi_->count();
  deliverer.join();
  EXPECT_EQ(flutterApi_->count(), sentAtDestruction);
  EXPECT_EQ(backend_->runningMicrophoneCount(), 0u);
  EXPECT_EQ(backend_->openMicrophoneCount(), 0u);
}

}  // namespace
}  // namespace harkwell
