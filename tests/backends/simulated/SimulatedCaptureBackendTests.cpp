#include "tests/support/SimulatedTestBackend.h"

#include "tests/backends/contract/CaptureBackendContract.h"

namespace harkwell::contract {
// The paced backend: its devices play in real time; they are taken away
// through its device controls.
std::unique_ptr<Target> makeTarget() {
  struct Simulated final : Target {
    std::shared_ptr<SimulatedTestBackend> simulated = SimulatedTestBackend::makePaced();
    Simulated() {
      backend = simulated;
      microphoneID = SimulatedTestBackend::kMicrophoneID;
      displayID = SimulatedTestBackend::kDisplayID;
      shortestBufferSeconds = 0.01;
    }
    void removeDevices() override {
      simulated->removeDisplay(displayID);
      simulated->removeMicrophone(microphoneID);
    }
  };
  return std::make_unique<Simulated>();
}

namespace {

// At stake: a caller waiting for an access answer or a display query would
// wait forever if a backend that goes away with them pending dropped them.
TEST(SimulatedCaptureBackendTest, PendingQuestionsAreAnsweredWithARefusalWhenTheBackendGoesAway) {
  auto backend = SimulatedTestBackend::makeManual();
  backend->setAccessAnswer(SimulatedTestBackend::AccessAnswer::pending);
  backend->setShareableContentPending(true);
  std::vector<bool> granted;
  std::vector<ShareableContentAnswer> answers;
  backend->requestMicrophoneAccess([&](bool g) { granted.push_back(g); });
  backend->getShareableContent([&](ShareableContentAnswer a) { answers.push_back(a); });
  EXPECT_TRUE(granted.empty() && answers.empty());
  backend.reset();
  EXPECT_EQ(granted, std::vector<bool>{false});
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_TRUE(answers[0].error);
}

}  // namespace
}  // namespace harkwell::contract
