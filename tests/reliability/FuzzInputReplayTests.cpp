#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/checks/FuzzChecks.h"

namespace harkwell::test {
namespace {

struct FuzzTarget {
  const char* name;
  fuzz::FuzzVerdict (*check)(fuzz::FuzzInput);
};

// At stake: every input a fuzz target ever failed on stays fixed, and the
// seeds keep every invariant the fuzzers check, in every unit run (and so under
// ASan and TSan) without a fuzzing build.
class FuzzInputReplayTest : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzInputReplayTest, EverySeedAndRegressionInputKeepsTheTargetsInvariants) {
  const std::filesystem::path root = HARKWELL_FUZZ_DIR;
  ASSERT_TRUE(std::filesystem::is_directory(root / "corpus" / GetParam().name));
  for (const char* dir : {"corpus", "regressions"}) {
    if (!std::filesystem::is_directory(root / dir / GetParam().name)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(root / dir / GetParam().name)) {
      if (entry.path().filename().string()[0] == '.') continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
      const fuzz::FuzzVerdict verdict = GetParam().check(bytes);
      EXPECT_FALSE(verdict.has_value()) << entry.path().string() << ": " << verdict.value_or("");
    }
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
