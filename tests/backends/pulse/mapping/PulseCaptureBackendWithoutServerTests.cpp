#include "backends/pulse/PulseCaptureBackend.h"

#include "tests/backends/contract/CaptureBackendContract.h"

namespace harkwell {
namespace {

// At stake: with no sound server at all, the host neither hangs nor crashes
// (that the app then refuses the backend is the e2e refusals').
TEST(PulseCaptureBackendWithoutServerTest, EveryOperationAnswersWithNothingOrAnError) {
  PulseCaptureBackend::Options nowhere;
  nowhere.connection.server = "unix:/nonexistent/harkwell/pulse/native";
  nowhere.connection.deadline = std::chrono::seconds(1);
  contract::expectRefusesEverything(*std::make_shared<PulseCaptureBackend>(nowhere));
}

}  // namespace
}  // namespace harkwell
