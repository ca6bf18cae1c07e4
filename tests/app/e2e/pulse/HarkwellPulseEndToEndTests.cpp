// The harkwell binary on the PulseAudio backend: a tone played into the private
// server's speakers is what a display capture writes to its WAV file.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "backends/pulse/PulseDeviceList.h"
#include "tests/app/e2e/HarkwellProcess.h"
#include "tests/app/e2e/WavProbe.h"

namespace harkwell::test {
namespace {

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

// At stake: a call is recorded in one run: the microphone and the system
// audio, each in its own channel, both the length asked for.
TEST_F(HarkwellPulseTest, RecordsTheMicrophoneAndTheSpeakersIntoTwoChannels) {
  const auto makeTone = [&](const std::string& name, int channels, int frequency) {
    const std::string path = (directory_ / name).string();
    const std::string command = "sox -n -r 48000 -c " + std::to_string(channels) + " -b 16 '" +
                                path + "' synth 6 sine " + std::to_string(frequency) + " vol 0.5";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return path;
  };
  // Each player runs through the same launcher, its shell taking the place of
  // harkwell, and is killed with it so that it cannot sound into the next test.
  const auto play = [&](const std::string& sink, const std::string& file) {
    return std::make_unique<HarkwellProcess>(directory_, std::vector<std::string>{},
                                             "sh -c 'exec paplay -d " + sink + " " + file + "'",
                                             "</dev/null >/dev/null 2>&1");
  };
  const auto speakers = play("test_speakers", makeTone("high.wav", 2, 1000));
  const auto microphone = play("test_micfeed", makeTone("low.wav", 1, 440));
  // The players need a moment before the sinks render their first samples.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  const std::string display = "output:" + std::to_string(displayIdForSinkName("test_speakers"));
  HarkwellProcess harkwell(directory_,
                           {"--backend", "pulse", "--source", "input", "--source", display, "--mix",
                            "--seconds", "2", "--wav", "call.wav"},
                           "HARKWELL_NO_XDG_OPEN=1");
  ASSERT_EQ(harkwell.finish(), 0) << harkwell.err();
  EXPECT_NE(harkwell.err().find("audio backend: PulseAudio"), std::string::npos) << harkwell.err();

  const double frequencies[] = {440, 1000};
  for (int channel = 0; channel < 2; ++channel) {
    const auto wav = readWav((directory_ / "call.wav").string(), channel);
    ASSERT_TRUE(wav.has_value()) << harkwell.err();
    EXPECT_EQ(wav->info.channels, 2);
    EXPECT_NEAR(static_cast<double>(wav->samples.size()) / 16000, 2.0, 0.2);
    EXPECT_TRUE(holdsTone(*wav, frequencies[channel])) << channel;
  }
}

// At stake: a suspended source does not end a capture; the meter says it is
// waiting.
TEST_F(HarkwellPulseTest, ASuspendedSourceIsWaitedFor) {
  HarkwellProcess harkwell(directory_, {"--backend", "pulse", "--seconds", "0"},
                           "HARKWELL_NO_XDG_OPEN=1");
  ASSERT_TRUE(harkwell.waitForError("Capturing"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(std::system("pactl suspend-source test_mic 1"), 0);
  std::this_thread::sleep_for(std::chrono::seconds(4));
  ASSERT_EQ(std::system("pactl suspend-source test_mic 0"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  harkwell.signal(SIGINT);
  EXPECT_EQ(harkwell.finish(), 0) << harkwell.err();
  // PipeWire goes on delivering silence from a suspended source; only
  // PulseAudio leaves the meter waiting.
  if (std::system("pactl info | grep -q PipeWire") != 0) {
    EXPECT_NE(harkwell.err().find("waiting: no audio for"), std::string::npos) << harkwell.err();
  }
}

}  // namespace
}  // namespace harkwell::test
