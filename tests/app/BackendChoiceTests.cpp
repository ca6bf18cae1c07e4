#include "app/BackendChoice.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "tests/support/SimulatedTestBackend.h"

namespace harkwell {
namespace {

enum class Outcome { simulated, pulse, error };

struct BackendCase {
  const char* name;
  std::optional<std::string> requested;
  const char* environment;
  bool serverAnswers;
  Outcome expected;
  const char* mentioned;  // in the description, or in the error
};

// At stake: the user's explicit choice wins (option over environment), an
// automatic choice falls back to the simulated backend only when no server
// answers, and an impossible or unknown choice is reported, never silently
// replaced.
class BackendChoiceTest : public testing::TestWithParam<BackendCase> {};

TEST_P(BackendChoiceTest, PicksTheBackendTheRulesGive) {
  const BackendCase& c = GetParam();
  // Stands in for a sound server: a manual simulated backend is just an object
  // we can recognise.
  const std::shared_ptr<CaptureBackend> server = SimulatedTestBackend::makeManual();
  int probes = 0;
  const PulseProbe probe = [&](std::string& whyNot) -> std::shared_ptr<CaptureBackend> {
    ++probes;
    if (c.serverAnswers) return server;
    whyNot = "connection refused";
    return nullptr;
  };

  const BackendChoice choice = chooseBackend(c.requested, c.environment, nullptr, probe);

  switch (c.expected) {
    case Outcome::simulated:
      ASSERT_NE(choice.backend, nullptr);
      EXPECT_NE(choice.backend, server);
      EXPECT_NE(dynamic_cast<SimulatedCaptureBackend*>(choice.backend.get()), nullptr);
      EXPECT_EQ(choice.description.rfind("simulated", 0), 0u) << choice.description;
      EXPECT_NE(choice.description.find(c.mentioned), std::string::npos) << choice.description;
      break;
    case Outcome::pulse:
      EXPECT_EQ(choice.backend, server);
      EXPECT_EQ(choice.description.rfind("PulseAudio", 0), 0u) << choice.description;
      EXPECT_NE(choice.description.find(c.mentioned), std::string::npos) << choice.description;
      break;
    case Outcome::error:
      EXPECT_EQ(choice.backend, nullptr);
      EXPECT_NE(choice.error.find(c.mentioned), std::string::npos) << choice.error;
      break;
  }
  if (c.expected == Outcome::simulated && (c.requested || (c.environment && *c.environment))) {
    EXPECT_EQ(probes, 0) << "an explicit choice of the simulated backend probes no server";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, BackendChoiceTest,
    testing::Values(BackendCase{"AutomaticWithAServer", std::nullopt, nullptr, true, Outcome::pulse,
                                "answered"},
                    BackendCase{"AutomaticWithoutAServer", std::nullopt, nullptr, false,
                                Outcome::simulated, "connection refused"},
                    BackendCase{"EmptyEnvironmentIsUnset", std::nullopt, "", false,
                                Outcome::simulated, "connection refused"},
                    BackendCase{"EnvironmentSimulatedEvenWithAServer", std::nullopt, "simulated",
                                true, Outcome::simulated, "HARKWELL_AUDIO_BACKEND=simulated"},
                    BackendCase{"EnvironmentPulseWithAServer", std::nullopt, "pulse", true,
                                Outcome::pulse, "HARKWELL_AUDIO_BACKEND=pulse"},
                    BackendCase{"EnvironmentPulseWithoutAServerIsAnError", std::nullopt, "pulse",
                                false, Outcome::error, "connection refused"},
                    BackendCase{"UnknownEnvironmentValueIsAnError", std::nullopt, "alsa", true,
                                Outcome::error, "unknown audio backend 'alsa'"},
                    BackendCase{"OptionBeatsEnvironment", std::string("simulated"), "pulse", true,
                                Outcome::simulated, "--backend simulated"},
                    BackendCase{"OptionPulseWithoutAServerIsAnError", std::string("pulse"),
                                "simulated", false, Outcome::error, "--backend pulse"}),
    [](const testing::TestParamInfo<BackendCase>& info) { return info.param.name; });

}  // namespace
}  // namespace harkwell
