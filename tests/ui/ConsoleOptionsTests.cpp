#include "ui/ConsoleOptions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace harkwell {
namespace {

// At stake: anything the command line does not allow stops the program with
// the usage status and a message before anything runs.
class ConsoleOptionsRejectionTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ConsoleOptionsRejectionTest, StopsWithTheUsageStatus) {
  std::vector<const char*> argv{"harkwell"};
  for (const auto& argument : GetParam()) argv.push_back(argument.c_str());
  ConsoleOptions options;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(parseConsoleOptions(static_cast<int>(argv.size()), argv.data(), options),
            usageExitStatus);
  EXPECT_FALSE(::testing::internal::GetCapturedStderr().empty());
}

INSTANTIATE_TEST_SUITE_P(BadCommandLines, ConsoleOptionsRejectionTest,
                         ::testing::Values(std::vector<std::string>{"--backend", "alsa"},
                                           std::vector<std::string>{"--source", "input:"},
                                           std::vector<std::string>{"--wav", ""},
                                           std::vector<std::string>{"--verbose"}));

}  // namespace
}  // namespace harkwell
