// The harkwell binary as a user runs it, on the paced simulated backend: its
// two microphones play 440 Hz and 660 Hz, its display 1000 Hz.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/e2e/HarkwellProcess.h"
#include "tests/app/e2e/WavProbe.h"

namespace harkwell::test {
namespace {

// A fresh working directory per test, removed afterwards.
class HarkwellBinaryFixture : public ::testing::Test {
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

  std::unique_ptr<HarkwellProcess> start(const std::vector<std::string>& arguments) {
    return std::make_unique<HarkwellProcess>(
        HARKWELL_BINARY, arguments, directory_,
        std::vector<std::string>{"HARKWELL_AUDIO_BACKEND=simulated", "HARKWELL_NO_XDG_OPEN=1"});
  }
  ProcessResult run(const std::vector<std::string>& arguments) {
    return start(arguments)->finish();
  }

  std::filesystem::path file(const std::string& name) const { return directory_ / name; }

  // Standard output is the host's alone: only its fixed log lines may appear.
  static void expectOnlyHostLogLines(const std::string& out) {
    static const std::set<std::string> hostLines = {"stream start", "stream stop"};
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_TRUE(hostLines.count(line) == 1) << "unexpected standard output: " << line;
    }
  }

  std::filesystem::path directory_;
};

// At stake: a capture yields a WAV file of the requested length, 16000 Hz
// mono float, holding the source's own tone.
struct CaptureCase {
  const char* name;
  std::vector<std::string> arguments;
  double seconds;
  double frequency;  // Hz
  const char* wavName;
};

class HarkwellCaptureTest : public HarkwellBinaryFixture,
                            public ::testing::WithParamInterface<CaptureCase> {};

TEST_P(HarkwellCaptureTest, WritesTheRequestedSecondsOfTheSourcesTone) {
  const CaptureCase& c = GetParam();
  const ProcessResult result = run(c.arguments);
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  expectOnlyHostLogLines(result.out);
  EXPECT_NE(result.err.find("audio backend: simulated"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("Summary"), std::string::npos) << result.err;

  const auto wav = readWav(file(c.wavName).string());
  ASSERT_TRUE(wav.has_value()) << result.err;
  EXPECT_EQ(wav->sampleRate, 16000);
  EXPECT_EQ(wav->channels, 1);
  EXPECT_EQ(wav->format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_NEAR(wav->seconds(), c.seconds, c.seconds * 0.1);
  EXPECT_NEAR(dominantFrequency(*wav), c.frequency, 10.0);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, HarkwellCaptureTest,
    ::testing::Values(CaptureCase{"DisplayForTwoSeconds",
                                  {"--source", "output", "--seconds", "2", "--wav", "display.wav"},
                                  2.0,
                                  1000,
                                  "display.wav"},
                      CaptureCase{"HeadsetMicrophone",
                                  {"--source", "input:simulated-microphone-2", "--seconds", "1",
                                   "--wav", "headset.wav"},
                                  1.0,
                                  660,
                                  "headset.wav"},
                      CaptureCase{"DefaultMicrophoneIntoTheDefaultFile",
                                  {"--seconds", "1"},
                                  1.0,
                                  440,
                                  "harkwell-capture.wav"}),
    [](const ::testing::TestParamInfo<CaptureCase>& info) { return info.param.name; });

// At stake: what the user is told, and the exit status, when there is nothing
// to capture or it cannot be kept.
class HarkwellReportTest : public HarkwellBinaryFixture {};

TEST_F(HarkwellReportTest, ListShowsTheThreeSimulatedDevicesWithTheDefaultsMarkedAndStops) {
  const ProcessResult result = run({"--list"});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("* simulated-microphone-1  Simulated Microphone  (default)"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("    simulated-microphone-2  Simulated Headset Microphone\n"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("* 1  Display 1  (default)"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("microphone granted"), std::string::npos) << result.err;
  EXPECT_FALSE(std::filesystem::exists(file("harkwell-capture.wav")));
}

TEST_F(HarkwellReportTest, AnUnknownSourceExitsNonZeroWithAOneLineMessage) {
  const ProcessResult result = run({"--source", "input:no-such-microphone"});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_NE(result.err.find("unknown source 'input:no-such-microphone'"), std::string::npos)
      << result.err;
  EXPECT_FALSE(std::filesystem::exists(file("harkwell-capture.wav")));
}

TEST_F(HarkwellReportTest, AMalformedSourceIsAUsageError) {
  const ProcessResult result = run({"--source", "speakers"});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_NE(result.err.find("--source"), std::string::npos) << result.err;
}

TEST_F(HarkwellReportTest, AnUnwritableWavPathFailsBeforeAnyCapture) {
  const ProcessResult result =
      run({"--seconds", "1", "--wav", file("missing-folder/out.wav").string()});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.err.find("cannot write the WAV file"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("Capturing"), std::string::npos) << result.err;
}

TEST_F(HarkwellReportTest, AnUnknownBackendIsRefused) {
  auto process = std::make_unique<HarkwellProcess>(
      HARKWELL_BINARY, std::vector<std::string>{"--list"}, directory_,
      std::vector<std::string>{"HARKWELL_AUDIO_BACKEND=alsa"});
  const ProcessResult result = process->finish();
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.err.find("unknown audio backend 'alsa'"), std::string::npos) << result.err;
}

// At stake: Ctrl-C ends an open-ended capture cleanly: the host is told to
// stop, and the audio received so far is still written.
class HarkwellInterruptTest : public HarkwellBinaryFixture {};

TEST_F(HarkwellInterruptTest, CtrlCEndsAnOpenEndedCaptureAndStillWritesTheFile) {
  auto process = start({"--seconds", "0", "--wav", "open.wav"});
  ASSERT_TRUE(process->waitForError("Capturing"));
  process->signal(SIGINT);
  const ProcessResult result = process->finish();

  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_NE(result.err.find("Summary"), std::string::npos) << result.err;
  const auto wav = readWav(file("open.wav").string());
  ASSERT_TRUE(wav.has_value()) << result.err;
  EXPECT_EQ(wav->sampleRate, 16000);
}

}  // namespace
}  // namespace harkwell::test
