#include "backends/pulse/PulseCaptureBackend.h"

#include "tests/backends/contract/CaptureBackendContract.h"

namespace harkwell {
namespace {

// At stake: with no sound server at all, the host neither hangs nor crashes,
// and the app can tell that it should pick another backend.
TEST(PulseCaptureBackendWithoutServerTest, EveryOperationAnswersWithNothingOrAnError) {
  PulseCaptureBackend::Options nowhere;
  nowhere.connection.server = "unix:/nonexistent/harkwell/pulse/native";
  nowhere.connection.deadline = std::chrono::seconds(1);
  nowhere.probeDeadline = std::chrono::milliseconds(500);
  std::string whyNot;
  EXPECT_EQ(PulseCaptureBackend::create(nowhere, &whyNot), nullptr);
  EXPECT_FALSE(whyNot.empty());
  contract::expectRefusesEverything(*std::make_shared<PulseCaptureBackend>(nowhere));
}

}  // namespace
}  // namespace harkwell
