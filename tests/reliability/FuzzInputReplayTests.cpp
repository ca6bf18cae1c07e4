#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/checks/FuzzChecks.h"

namespace harkwell::test {
namespace {

// At stake: every input a fuzz target ever failed on stays fixed, and the
// seeds keep every invariant the fuzzers check, in every unit run (and so under
// ASan and TSan) without a fuzzing build.
TEST(FuzzInputReplayTest, EverySeedAndRegressionInputKeepsItsTargetsInvariants) {
  const std::pair<const char*, fuzz::FuzzVerdict (*)(fuzz::FuzzInput)> targets[] = {
      {"standard_codec", fuzz::checkStandardCodecInput},
      {"host_codec", fuzz::checkHostCodecInput},
      {"event_codec", fuzz::checkEventCodecInput},
      {"event_reply", fuzz::checkEventReplyInput},
      {"audio_converter", fuzz::checkAudioConverterInput},
      {"host_channels", fuzz::checkHostChannelInput},
  };
  const std::filesystem::path root = HARKWELL_FUZZ_DIR;
  for (const auto& [target, check] : targets) {
    ASSERT_TRUE(std::filesystem::is_directory(root / "corpus" / target)) << target;
    for (const char* dir : {"corpus", "regressions"}) {
      if (!std::filesystem::is_directory(root / dir / target)) continue;
      for (const auto& entry : std::filesystem::directory_iterator(root / dir / target)) {
        if (entry.path().filename().string()[0] == '.') continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
        EXPECT_EQ(check(bytes), std::nullopt) << entry.path().string();
      }
    }
  }
}

}  // namespace
}  // namespace harkwell::test
