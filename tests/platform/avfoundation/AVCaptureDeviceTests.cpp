#include "platform/avfoundation/AVCaptureDevice.h"

#include <gtest/gtest.h>

#include <optional>

#include "backends/simulated/SimulatedCaptureBackend.h"
#include "platform/avfoundation/ProcessInfo.h"

namespace harkwell {
namespace {

class SimulatedBackendTest : public ::testing::Test {
 protected:
  void SetUp() override { CaptureBackend::setCurrent(backend_); }
  void TearDown() override { CaptureBackend::setCurrent(nullptr); }

  std::shared_ptr<SimulatedCaptureBackend> backend_ = SimulatedCaptureBackend::makeManual();
};

// At stake: device enumeration lists microphones in platform order with their
// ids and names, asks for exactly the device type given, and the first device
// compares equal to itself so the default flag can be decided by equality.
class AVCaptureDeviceDiscoveryTest : public SimulatedBackendTest {};

TEST_F(AVCaptureDeviceDiscoveryTest, ListsMicrophonesInPlatformOrder) {
  backend_->addMicrophone({"b-id", "B"});
  backend_->addMicrophone({"a-id", "A"});
  auto session = AVCaptureDeviceDiscoverySession::discoverySessionWithDeviceTypes(
      {AVCaptureDeviceTypeMicrophone}, AVMediaTypeAudio, AVCaptureDevicePosition::unspecified);
  ASSERT_EQ(session->devices().size(), 2u);
  EXPECT_EQ(session->devices()[0].uniqueID(), "b-id");
  EXPECT_EQ(session->devices()[0].localizedName(), "B");
  EXPECT_EQ(session->devices()[1].uniqueID(), "a-id");
  EXPECT_TRUE(session->devices()[0].isEqual(session->devices()[0]));
  EXPECT_FALSE(session->devices()[1].isEqual(session->devices()[0]));
  EXPECT_EQ(backend_->requestedDeviceTypes(),
            std::vector<std::string>{AVCaptureDeviceTypeMicrophone});
}

TEST_F(AVCaptureDeviceDiscoveryTest, FindsNoMicrophoneForVideo) {
  backend_->addMicrophone({"a-id", "A"});
  auto session = AVCaptureDeviceDiscoverySession::discoverySessionWithDeviceTypes(
      {AVCaptureDeviceTypeBuiltInMicrophone}, AVMediaTypeVideo,
      AVCaptureDevicePosition::unspecified);
  EXPECT_TRUE(session->devices().empty());
}

TEST_F(AVCaptureDeviceDiscoveryTest, SystemVersionComesFromTheBackend) {
  backend_->setOperatingSystemVersion({13, 6, 0});
  EXPECT_FALSE(ProcessInfo::processInfo().isOperatingSystemAtLeastVersion({14, 0, 0}));
  backend_->setOperatingSystemVersion({14, 0, 0});
  EXPECT_TRUE(ProcessInfo::processInfo().isOperatingSystemAtLeastVersion({14, 0, 0}));
}

// At stake: the permission check reads the raw status and, for every status
// but authorized, waits for the access answer, which may come much later.
class AVCaptureDeviceAuthorizationTest
    : public SimulatedBackendTest,
      public ::testing::WithParamInterface<CaptureAuthorizationStatus> {};

TEST_P(AVCaptureDeviceAuthorizationTest, ReportsTheBackendStatusWithItsRawValue) {
  backend_->setAuthorizationStatus(GetParam());
  EXPECT_EQ(static_cast<int>(AVCaptureDevice::authorizationStatusForMediaType(AVMediaTypeAudio)),
            static_cast<int>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(AllStatuses, AVCaptureDeviceAuthorizationTest,
                         ::testing::Values(CaptureAuthorizationStatus::notDetermined,
                                           CaptureAuthorizationStatus::restricted,
                                           CaptureAuthorizationStatus::denied,
                                           CaptureAuthorizationStatus::authorized));

TEST_F(SimulatedBackendTest, APendingAccessRequestCompletesWhenTheUserAnswers) {
  backend_->setAuthorizationStatus(CaptureAuthorizationStatus::notDetermined);
  backend_->setAccessAnswer(SimulatedCaptureBackend::AccessAnswer::pending);
  std::optional<bool> granted;
  AVCaptureDevice::requestAccessForMediaType(AVMediaTypeAudio, [&](bool g) { granted = g; });
  EXPECT_FALSE(granted);
  EXPECT_EQ(backend_->answerAccessRequest(true), 1u);
  EXPECT_EQ(granted, true);
  EXPECT_EQ(AVCaptureDevice::authorizationStatusForMediaType(AVMediaTypeAudio),
            AVAuthorizationStatus::authorized);
}

TEST_F(SimulatedBackendTest, AnUnansweredAccessRequestIsRefusedWhenTheBackendGoesAway) {
  backend_->setAccessAnswer(SimulatedCaptureBackend::AccessAnswer::pending);
  std::optional<bool> granted;
  AVCaptureDevice::requestAccessForMediaType(AVMediaTypeAudio, [&](bool g) { granted = g; });
  CaptureBackend::setCurrent(nullptr);
  backend_.reset();
  EXPECT_EQ(granted, false);
}

}  // namespace
}  // namespace harkwell
