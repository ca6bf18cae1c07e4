#include "platform/avfoundation/AVCaptureSession.h"

#include <gtest/gtest.h>

#include "audio/service/BridgeApi.h"
#include "platform/avfoundation/AVFoundationTypes.h"
#include "tests/support/CaptureTestHelpers.h"
#include "tests/support/SimulatedTestBackend.h"

namespace harkwell {
namespace {

// At stake: before 14.0 only the built-in microphone type exists (asking for
// the newer type lists nothing there); from 14.0 on the newer type covers
// built-in and external devices alike. What a backend owes the stand-in is
// the capture backend contract's (tests/backends/contract).
TEST(MicrophoneDiscoveryTest, ListsMicrophonesWithTheTypeTheRunningSystemHas) {
  auto backend = SimulatedTestBackend::makeManual();
  CaptureBackend::setCurrent(backend);
  backend->addMicrophone({"mic-1", "Mic"});
  const auto api = BridgeApi::create(std::make_shared<testing::RecordingFlutterApi>());
  for (const OperatingSystemVersion version :
       {OperatingSystemVersion{13, 6, 9}, OperatingSystemVersion{14, 0, 0}}) {
    backend->setOperatingSystemVersion(version);
    EXPECT_EQ(api->getInputDevices().size(), 1u);
  }
  EXPECT_EQ(backend->requestedDeviceTypes(),
            (std::vector<std::string>{AVCaptureDeviceTypeBuiltInMicrophone,
                                      AVCaptureDeviceTypeMicrophone}));
  CaptureBackend::setCurrent(nullptr);
}

}  // namespace
}  // namespace harkwell
