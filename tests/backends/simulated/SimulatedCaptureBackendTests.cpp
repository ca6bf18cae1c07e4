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

}  // namespace harkwell::contract
