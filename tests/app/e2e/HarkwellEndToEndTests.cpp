// The harkwell binary as a user runs it, on the paced simulated backend: its
// two microphones play 440 Hz and 660 Hz, its display 1000 Hz.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/e2e/HarkwellProcess.h"
#include "tests/app/e2e/WavProbe.h"

namespace harkwell::test {
namespace {

const char* const simulated = "HARKWELL_AUDIO_BACKEND=simulated HARKWELL_NO_XDG_OPEN=1";

// A fresh working directory per test, removed afterwards.
class HarkwellBinaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "harkwell-e2e-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  std::unique_ptr<HarkwellProcess> start(const std::vector<std::string>& arguments,
                                         const std::string& environment = simulated) {
    return std::make_unique<HarkwellProcess>(directory_, arguments, environment);
  }

  // A finished capture: exit 0, a summary, standard output the host's own fixed
  // log lines only, and a 16000 Hz mono float WAV file.
  std::optional<WavContent> expectCapture(HarkwellProcess& process, const std::string& wavName) {
    EXPECT_EQ(process.finish(), 0) << process.err();
    EXPECT_NE(process.err().find("Summary"), std::string::npos) << process.err();
    std::istringstream lines(process.out());
    for (std::string line; std::getline(lines, line);) {
      EXPECT_TRUE(line == "stream start" || line == "stream stop") << "standard output: " << line;
    }
    auto wav = readWav((directory_ / wavName).string());
    EXPECT_TRUE(wav.has_value()) << process.err();
    if (!wav) return wav;
    EXPECT_EQ(wav->info.samplerate, 16000);
    EXPECT_EQ(wav->info.channels, 1);
    EXPECT_EQ(wav->info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    return wav;
  }

  std::filesystem::path directory_;
};

// At stake: a capture yields a WAV file of the requested length holding the
// chosen source's own tone; Ctrl-C ends an open-ended one cleanly, still
// writing what was received.
TEST_F(HarkwellBinaryTest, TheDefaultMicrophoneGoesIntoTheDefaultFile) {
  auto process = start({"--seconds", "1"});
  const auto wav = expectCapture(*process, "harkwell-capture.wav");
  ASSERT_TRUE(wav.has_value());
  EXPECT_NEAR(double(wav->samples.size()), 16000, 1600);
  EXPECT_NEAR(dominantFrequency(*wav), 440, 10.0);
}

TEST_F(HarkwellBinaryTest, ANamedMicrophoneIsTheOneCaptured) {
  auto process =
      start({"--source", "input:simulated-microphone-2", "--seconds", "1", "--wav", "headset.wav"});
  const auto wav = expectCapture(*process, "headset.wav");
  ASSERT_TRUE(wav.has_value());
  EXPECT_NEAR(dominantFrequency(*wav), 660, 10.0);
}

TEST_F(HarkwellBinaryTest, TheDefaultDisplaysSystemAudioIsCaptured) {
  auto process = start({"--source", "output", "--seconds", "2", "--wav", "display.wav"});
  const auto wav = expectCapture(*process, "display.wav");
  ASSERT_TRUE(wav.has_value());
  EXPECT_NEAR(double(wav->samples.size()), 32000, 3200);
  EXPECT_NEAR(dominantFrequency(*wav), 1000, 10.0);
}

TEST_F(HarkwellBinaryTest, CtrlCEndsAnOpenEndedCaptureAndStillWritesTheFile) {
  auto process = start({"--seconds", "0", "--wav", "open.wav"});
  ASSERT_TRUE(process->waitForError("Capturing"));
  process->signal(SIGINT);
  expectCapture(*process, "open.wav");
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* environment;
  int exitStatus;
  const char* message;
};

// At stake: what cannot be captured or kept is refused with a one-line reason
// and the documented status, before any capture and without a file.
class HarkwellRefusalTest : public HarkwellBinaryTest,
                            public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(HarkwellRefusalTest, ExitsWithTheStatusAndTheReason) {
  auto process = start(GetParam().arguments, GetParam().environment);
  EXPECT_EQ(process->finish(), GetParam().exitStatus);
  EXPECT_NE(process->err().find(GetParam().message), std::string::npos) << process->err();
  EXPECT_EQ(process->err().find("Capturing"), std::string::npos) << process->err();
  EXPECT_FALSE(std::filesystem::exists(directory_ / "harkwell-capture.wav"));
}

INSTANTIATE_TEST_SUITE_P(Cases, HarkwellRefusalTest,
                         ::testing::Values(RefusalCase{"UnknownSource",
                                                       {"--source", "input:nobody"},
                                                       simulated,
                                                       2,
                                                       "unknown source 'input:nobody'"},
                                           RefusalCase{"UnwritableWav",
                                                       {"--wav", "missing-folder/out.wav"},
                                                       simulated,
                                                       1,
                                                       "cannot write the WAV file"},
                                           RefusalCase{"UnknownBackend",
                                                       {"--list"},
                                                       "HARKWELL_AUDIO_BACKEND=alsa",
                                                       1,
                                                       "unknown audio backend 'alsa'"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harkwell::test
