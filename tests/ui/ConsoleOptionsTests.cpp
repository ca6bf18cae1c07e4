#include "ui/ConsoleOptions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace harkwell {
namespace {

std::optional<int> parse(std::vector<std::string> arguments, ConsoleOptions& options) {
  arguments.insert(arguments.begin(), "harkwell");
  std::vector<const char*> argv;
  for (const auto& argument : arguments) argv.push_back(argument.c_str());
  return parseConsoleOptions(static_cast<int>(argv.size()), argv.data(), options);
}

// At stake: the command line means what the usage says, and anything it does
// not allow stops the program with the usage status before anything runs.
class ConsoleOptionsTest : public ::testing::Test {
 protected:
  ConsoleOptions options_;
};

TEST_F(ConsoleOptionsTest, WithoutArgumentsCapturesFiveSecondsOfTheDefaultMicrophone) {
  EXPECT_EQ(parse({}, options_), std::nullopt);
  EXPECT_EQ(options_.source, "input");
  EXPECT_EQ(options_.seconds, 5);
  EXPECT_EQ(options_.wavPath, "harkwell-capture.wav");
  EXPECT_FALSE(options_.list);
  EXPECT_FALSE(options_.trace);
  EXPECT_FALSE(options_.backend.has_value());
}

TEST_F(ConsoleOptionsTest, ReadsEveryOption) {
  EXPECT_EQ(parse({"--backend", "pulse", "--list", "--source", "output:7", "--seconds", "2.5",
                   "--wav", "x.wav", "--trace"},
                  options_),
            std::nullopt);
  EXPECT_EQ(options_.backend, "pulse");
  EXPECT_TRUE(options_.list);
  EXPECT_EQ(options_.source, "output:7");
  EXPECT_EQ(options_.seconds, 2.5);
  EXPECT_EQ(options_.wavPath, "x.wav");
  EXPECT_TRUE(options_.trace);
}

class ConsoleOptionsRejectionTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ConsoleOptionsRejectionTest, StopsWithTheUsageStatus) {
  ConsoleOptions options;
  ::testing::internal::CaptureStderr();
  const std::optional<int> status = parse(GetParam(), options);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, usageExitStatus);
  EXPECT_FALSE(said.empty());
}

INSTANTIATE_TEST_SUITE_P(BadCommandLines, ConsoleOptionsRejectionTest,
                         ::testing::Values(std::vector<std::string>{"--backend", "alsa"},
                                           std::vector<std::string>{"--source", "speakers"},
                                           std::vector<std::string>{"--source", "input:"},
                                           std::vector<std::string>{"--seconds", "-1"},
                                           std::vector<std::string>{"--seconds", "soon"},
                                           std::vector<std::string>{"--wav", ""},
                                           std::vector<std::string>{"--verbose"}));

TEST_F(ConsoleOptionsTest, HelpEndsWithStatusZero) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(parse({"--help"}, options_), 0);
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("--source"), std::string::npos);
}

}  // namespace
}  // namespace harkwell
