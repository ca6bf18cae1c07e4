#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "fuzz/checks/AudioConverterCheck.h"
#include "fuzz/checks/CodecRoundTripCheck.h"
#include "fuzz/checks/EventReplyCheck.h"
#include "fuzz/checks/HostChannelCheck.h"

namespace harkwell::test {
namespace {

struct FuzzTarget {
  const char* name;
  fuzz::FuzzVerdict (*check)(std::span<const std::uint8_t>);
};

std::vector<std::filesystem::path> inputsIn(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> files;
  if (!std::filesystem::is_directory(dir)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
      files.push_back(entry.path());
    }
  }
  return files;
}

// At stake: every input a fuzz target ever crashed on stays fixed, and the
// golden seeds keep every invariant the fuzzers check, in every unit run (and
// so under ASan and TSan in CI) without a fuzzing build.
class FuzzInputReplayTest : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzInputReplayTest, EverySeedAndRegressionInputKeepsTheTargetsInvariants) {
  const std::filesystem::path root = HARKWELL_FUZZ_DIR;
  auto inputs = inputsIn(root / "corpus" / GetParam().name);
  ASSERT_FALSE(inputs.empty()) << "no seed corpus for " << GetParam().name;
  for (const auto& file : inputsIn(root / "regressions" / GetParam().name)) inputs.push_back(file);
  for (const auto& file : inputs) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
    const fuzz::FuzzVerdict verdict = GetParam().check(bytes);
    EXPECT_FALSE(verdict.has_value()) << file.string() << ": " << verdict.value_or("");
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllTargets, FuzzInputReplayTest,
    ::testing::Values(FuzzTarget{"standard_codec", fuzz::checkStandardCodecInput},
                      FuzzTarget{"host_codec", fuzz::checkHostCodecInput},
                      FuzzTarget{"event_codec", fuzz::checkEventCodecInput},
                      FuzzTarget{"event_reply", fuzz::checkEventReplyInput},
                      FuzzTarget{"audio_converter", fuzz::checkAudioConverterInput},
                      FuzzTarget{"host_channels", fuzz::checkHostChannelInput}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harkwell::test
