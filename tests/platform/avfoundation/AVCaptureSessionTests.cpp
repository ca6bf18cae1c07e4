#include "platform/avfoundation/AVCaptureSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <thread>

#include "backends/simulated/SimulatedCaptureBackend.h"
#include "platform/coremedia/AudioStreamBasicDescription.h"
#include "tests/support/CaptureTestHelpers.h"

namespace harkwell {
namespace {

using testing::RecordingMicrophoneDelegate;

constexpr const char* kMicID = "mic-1";

// A consumer wired the way the microphone controller wires itself.
struct MicrophoneConsumer {
  explicit MicrophoneConsumer(const AVCaptureDevice& device)
      : delegate(DispatchQueue::makeSerial("input-audio-test")),
        input(std::make_shared<AVCaptureDeviceInput>(device)) {
    output->setSampleBufferDelegate(&delegate, delegate.queue());
    output->setAudioSettings({{AVFormatIDKey, kAudioFormatLinearPCM},
                              {AVNumberOfChannelsKey, 1},
                              {AVSampleRateKey, 16000}});
    session->beginConfiguration();
    session->addInput(input);
    session->addOutput(output);
    session->commitConfiguration();
  }

  RecordingMicrophoneDelegate delegate;
  std::shared_ptr<AVCaptureDeviceInput> input;
  std::shared_ptr<AVCaptureAudioDataOutput> output = std::make_shared<AVCaptureAudioDataOutput>();
  std::unique_ptr<AVCaptureSession> session = std::make_unique<AVCaptureSession>();
};

class AVCaptureSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CaptureBackend::setCurrent(backend_);
    backend_->addMicrophone({kMicID, "Mic"});
  }
  void TearDown() override { CaptureBackend::setCurrent(nullptr); }

  AVCaptureDevice device() const { return AVCaptureDevice(kMicID, "Mic", backend_); }
  CMSampleBufferRef buffer() const {
    return CMSampleBufferCreateWithFloat32Channels(16000, {std::vector<float>(160, 0.5f)});
  }

  std::shared_ptr<SimulatedCaptureBackend> backend_ = SimulatedCaptureBackend::makeManual();
};

// At stake: a running session hands every buffer to the delegate on the
// delegate's queue, in order, only while running, and passes the requested
// format to the device; a vanished device stops the session by itself.
class AVCaptureSessionDeliveryTest : public AVCaptureSessionTest {};

TEST_F(AVCaptureSessionDeliveryTest, DeliversInOrderOnTheDelegateQueueOnlyWhileRunning) {
  MicrophoneConsumer consumer(device());
  EXPECT_EQ(backend_->deliverToMicrophone(kMicID, buffer()), 0u);
  consumer.session->startRunning();
  ASSERT_TRUE(consumer.session->isRunning());
  auto requested = backend_->requestedSettings(kMicID);
  ASSERT_TRUE(requested);
  EXPECT_EQ(requested->formatID, kAudioFormatLinearPCM);
  EXPECT_EQ(requested->numberOfChannels, 1);
  EXPECT_EQ(requested->sampleRate, 16000);
  auto first = buffer(), second = buffer();
  EXPECT_EQ(backend_->deliverToMicrophone(kMicID, first), 1u);
  EXPECT_EQ(backend_->deliverToMicrophone(kMicID, second), 1u);
  backend_->removeMicrophone(kMicID);
  EXPECT_FALSE(consumer.session->isRunning());
  EXPECT_EQ(backend_->deliverToMicrophone(kMicID, buffer()), 0u);
  auto received = consumer.delegate.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].buffer, first);
  EXPECT_EQ(received[1].buffer, second);
  EXPECT_TRUE(received[0].onExpectedQueue);
  EXPECT_TRUE(received[1].onExpectedQueue);
}

// At stake: a controller that stops its session and is then destroyed must
// never be called again, even with a buffer in flight.
TEST_F(AVCaptureSessionDeliveryTest, StopWaitsForTheBufferBeingHandled) {
  struct SlowDelegate final : AVCaptureAudioDataOutputSampleBufferDelegate {
    std::promise<void> entered, permit;
    std::atomic<bool> finished{false};
    void captureOutput(AVCaptureAudioDataOutput&, CMSampleBufferRef,
                       AVCaptureConnection&) override {
      entered.set_value();
      permit.get_future().wait();
      finished = true;
    }
  } slow;
  MicrophoneConsumer consumer(device());
  consumer.output->setSampleBufferDelegate(&slow, consumer.delegate.queue());
  consumer.session->startRunning();
  std::thread deliverer([&] { backend_->deliverToMicrophone(kMicID, buffer()); });
  slow.entered.get_future().wait();
  std::atomic<bool> finishedWhenStopped{false};
  std::thread stopper([&] {
    consumer.session->stopRunning();
    finishedWhenStopped = slow.finished.load();
  });
  slow.permit.set_value();
  stopper.join();
  deliverer.join();
  EXPECT_TRUE(finishedWhenStopped);
}

// At stake: a permission check waits for the access answer; a backend that
// goes away with the question pending must still answer it, with a refusal.
TEST_F(AVCaptureSessionDeliveryTest, AnUnansweredAccessRequestIsRefusedWhenTheBackendGoesAway) {
  backend_->setAccessAnswer(SimulatedCaptureBackend::AccessAnswer::pending);
  std::optional<bool> granted;
  AVCaptureDevice::requestAccessForMediaType(AVMediaTypeAudio, [&](bool g) { granted = g; });
  EXPECT_FALSE(granted);
  CaptureBackend::setCurrent(nullptr);
  backend_.reset();
  EXPECT_EQ(granted, false);
}

}  // namespace
}  // namespace harkwell
