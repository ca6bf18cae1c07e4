#include "platform/avfoundation/AVCaptureSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <thread>

#include "audio/service/BridgeApi.h"
#include "platform/avfoundation/AVFoundationTypes.h"
#include "tests/support/SimulatedTestBackend.h"

namespace harkwell {
namespace {

constexpr const char* kMicID = "mic-1";

// Delivery, requested settings, destruction and a vanishing device are proven
// through the microphone controller and the fault-injection tests.
class AVCaptureSessionLifetimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CaptureBackend::setCurrent(backend_);
    backend_->addMicrophone({kMicID, "Mic"});
  }
  void TearDown() override { CaptureBackend::setCurrent(nullptr); }

  std::shared_ptr<SimulatedTestBackend> backend_ = SimulatedTestBackend::makeManual();
};

// At stake: a controller that stops its session and is then destroyed must
// never be called again, even with a buffer in flight.
TEST_F(AVCaptureSessionLifetimeTest, StopWaitsForTheBufferBeingHandled) {
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
  auto queue = DispatchQueue::makeSerial("input-audio-test");
  auto output = std::make_shared<AVCaptureAudioDataOutput>();
  output->setSampleBufferDelegate(&slow, queue);
  AVCaptureSession session;
  session.addInput(
      std::make_shared<AVCaptureDeviceInput>(AVCaptureDevice(kMicID, "Mic", backend_)));
  session.addOutput(output);
  session.startRunning();
  std::thread deliverer([&] {
    backend_->deliverToMicrophone(
        kMicID, CMSampleBufferCreateWithFloat32Channels(16000, {std::vector<float>(160, 0.5f)}));
  });
  slow.entered.get_future().wait();
  std::atomic<bool> finishedWhenStopped{false};
  std::thread stopper([&] {
    session.stopRunning();
    finishedWhenStopped = slow.finished.load();
  });
  slow.permit.set_value();
  stopper.join();
  deliverer.join();
  EXPECT_TRUE(finishedWhenStopped);
}

// At stake: a permission check waits for the access answer; a backend that
// goes away with the question pending must still answer it, with a refusal.
TEST_F(AVCaptureSessionLifetimeTest, AnUnansweredAccessRequestIsRefusedWhenTheBackendGoesAway) {
  backend_->setAccessAnswer(SimulatedTestBackend::AccessAnswer::pending);
  std::optional<bool> granted;
  AVCaptureDevice::requestAccessForMediaType(AVMediaTypeAudio, [&](bool g) { granted = g; });
  EXPECT_FALSE(granted);
  CaptureBackend::setCurrent(nullptr);
  backend_.reset();
  EXPECT_EQ(granted, false);
}

class SilentFlutterApi final : public BridgeFlutterApiProtocol {
 public:
  void onEvent(NativeAudioEvent, EventCompletion) override {}
};

// At stake: before 14.0 only the built-in microphone type exists (asking for
// the newer type lists nothing there); from 14.0 on the newer type covers
// built-in and external devices alike.
using MicrophoneDiscoveryTest = AVCaptureSessionLifetimeTest;

TEST_F(MicrophoneDiscoveryTest, ListsMicrophonesWithTheTypeTheRunningSystemHas) {
  const auto api = BridgeApi::create(std::make_shared<SilentFlutterApi>());
  for (const OperatingSystemVersion version :
       {OperatingSystemVersion{13, 6, 9}, OperatingSystemVersion{14, 0, 0}}) {
    backend_->setOperatingSystemVersion(version);
    EXPECT_EQ(api->getInputDevices().size(), 1u);
  }
  EXPECT_EQ(backend_->requestedDeviceTypes(),
            (std::vector<std::string>{AVCaptureDeviceTypeBuiltInMicrophone,
                                      AVCaptureDeviceTypeMicrophone}));
}

}  // namespace
}  // namespace harkwell
