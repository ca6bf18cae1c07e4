#include "app/BackendChoice.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "tests/support/SimulatedTestBackend.h"

namespace harkwell {
namespace {

// At stake: the user's explicit choice wins (option over environment), an
// automatic choice falls back to the simulated backend only when no server
// answers, an explicit simulated choice probes no server, and an impossible
// or unknown choice is reported, never silently replaced (an unknown one is
// the e2e refusals').
TEST(BackendChoiceTest, PicksTheBackendTheRulesGive) {
  enum Outcome { simulated, pulse, error };
  const struct {
    std::optional<std::string> requested;
    const char* environment;
    bool serverAnswers;
    Outcome expected;
    const char* mentioned;  // in the description, or in the error
  } cases[] = {
      {std::nullopt, nullptr, true, pulse, "answered"},
      {std::nullopt, nullptr, false, simulated, "connection refused"},
      {std::nullopt, "simulated", true, simulated, "HARKWELL_AUDIO_BACKEND=simulated"},
      {std::nullopt, "pulse", true, pulse, "HARKWELL_AUDIO_BACKEND=pulse"},
      {std::nullopt, "pulse", false, error, "connection refused"},
      {"simulated", "pulse", true, simulated, "--backend simulated"},
      {"pulse", "simulated", false, error, "--backend pulse"},
  };
  // Stands in for a sound server: an object we can recognise.
  const std::shared_ptr<CaptureBackend> server = SimulatedTestBackend::makeManual();
  for (const auto& c : cases) {
    int probes = 0;
    const BackendChoice choice =
        chooseBackend(c.requested, c.environment, nullptr, [&](std::string& whyNot) {
          ++probes;
          whyNot = "connection refused";
          return c.serverAnswers ? server : nullptr;
        });
    const std::string said = c.expected == error ? choice.error : choice.description;
    EXPECT_NE(said.find(c.mentioned), std::string::npos) << said;
    EXPECT_EQ(said.rfind(c.expected == pulse ? "PulseAudio" : "simulated", 0) == 0,
              c.expected != error)
        << said;
    EXPECT_EQ(choice.backend == server, c.expected == pulse) << said;
    EXPECT_EQ(choice.backend != nullptr, c.expected != error) << said;
    const bool explicitChoice = c.requested || (c.environment && *c.environment);
    EXPECT_FALSE(c.expected == simulated && explicitChoice && probes > 0) << said;
  }
}

}  // namespace
}  // namespace harkwell
