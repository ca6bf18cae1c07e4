// The harkwell binary on the PulseAudio backend: a tone played into the private
// server's speakers is what a display capture writes to its WAV file.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "backends/pulse/PulseDeviceList.h"
#include "tests/app/e2e/HarkwellProcess.h"
#include "tests/app/e2e/WavProbe.h"

namespace harkwell::test {
namespace {

// A shell command in the background, killed (with its process group) when
// this goes, so that no player outlives its test and sounds into the next.
class BackgroundCommand {
 public:
  explicit BackgroundCommand(const std::string& command) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    if (posix_spawn(&pid_, "/bin/sh", nullptr, &attributes, const_cast<char**>(argv), environ) !=
        0) {
      pid_ = -1;
    }
    posix_spawnattr_destroy(&attributes);
  }
  ~BackgroundCommand() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  BackgroundCommand(const BackgroundCommand&) = delete;
  BackgroundCommand& operator=(const BackgroundCommand&) = delete;

  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

class HarkwellPulseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("PULSE_SERVER") == nullptr)
      GTEST_SKIP() << "no private server: run through scripts/test";
    std::string pattern =
        (std::filesystem::temp_directory_path() / "harkwell-pulse-e2e-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
  }

  std::filesystem::path directory_;
};

TEST_F(HarkwellPulseTest, RecordsTheTonePlayedIntoTheSpeakers) {
  const std::string tone = (directory_ / "tone.wav").string();
  ASSERT_EQ(
      std::system(("sox -n -r 48000 -c 2 -b 16 '" + tone + "' synth 6 sine 1000 vol 0.5").c_str()),
      0);
  BackgroundCommand player("exec paplay -d test_speakers '" + tone + "'");
  ASSERT_TRUE(player.started());
  // The player needs a moment before the sink renders its first samples.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  const std::string source = "output:" + std::to_string(displayIdForSinkName("test_speakers"));
  HarkwellProcess harkwell(
      directory_,
      {"--backend", "pulse", "--source", source, "--seconds", "2", "--wav", "capture.wav"},
      "HARKWELL_NO_XDG_OPEN=1");
  ASSERT_EQ(harkwell.finish(), 0) << harkwell.err();
  EXPECT_NE(harkwell.err().find("audio backend: PulseAudio"), std::string::npos) << harkwell.err();

  const auto wav = readWav((directory_ / "capture.wav").string());
  ASSERT_TRUE(wav.has_value()) << harkwell.err();
  EXPECT_EQ(wav->info.samplerate, 16000);
  EXPECT_EQ(wav->info.channels, 1);
  EXPECT_NEAR(static_cast<double>(wav->samples.size()) / 16000, 2.0, 0.2);
  EXPECT_NEAR(dominantFrequency(*wav), 1000.0, 10.0);
}

}  // namespace
}  // namespace harkwell::test
