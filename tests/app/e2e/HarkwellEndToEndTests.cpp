// The harkwell binary as a user runs it, on the paced simulated backend: its
// two microphones play 440 Hz and 660 Hz, its display 1000 Hz.

#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/app/e2e/HarkwellProcess.h"

namespace harkwell::test {
namespace {

const char* const simulated = "HARKWELL_AUDIO_BACKEND=simulated HARKWELL_NO_XDG_OPEN=1";

// A WAV file as libsndfile reads it back: its format and one channel.
struct WavContent {
  SF_INFO info{};
  std::vector<float> samples;
  std::string comment;  // the file's comment string
};

std::optional<WavContent> readWav(const std::string& path, int channel = 0) {
  WavContent content;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &content.info);
  if (file == nullptr) return std::nullopt;
  if (const char* comment = sf_get_string(file, SF_STR_COMMENT)) content.comment = comment;
  std::vector<float> frames(static_cast<std::size_t>(content.info.frames * content.info.channels));
  const sf_count_t read = sf_readf_float(file, frames.data(), content.info.frames);
  sf_close(file);
  for (sf_count_t i = 0; i < read; ++i)
    content.samples.push_back(frames[i * content.info.channels + channel]);
  return content;
}

// The power of one frequency, by Goertzel's recurrence.
double powerAt(const WavContent& wav, double frequency) {
  const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / wav.info.samplerate);
  double previous = 0, beforePrevious = 0;
  for (const float sample : wav.samples) {
    const double current = sample + coefficient * previous - beforePrevious;
    beforePrevious = previous;
    previous = current;
  }
  return previous * previous + beforePrevious * beforePrevious -
         coefficient * previous * beforePrevious;
}

// True when `frequency` is by far the strongest of the test tones (440, 660
// and 1000 Hz) in the file.
bool holdsTone(const WavContent& wav, double frequency) {
  for (const double other : {440.0, 660.0, 1000.0}) {
    if (other != frequency && powerAt(wav, frequency) < 100 * powerAt(wav, other)) return false;
  }
  return true;
}

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

  // A finished capture: exit 0, a summary naming the simulated backend as
  // such, and a WAV file that says it holds generated tones and is as long as
  // the "Wrote" line says (16000 Hz float: holdsTone and the browser run).
  std::optional<WavContent> expectCapture(HarkwellProcess& process, const std::string& wavName,
                                          int channel = 0, int channels = 1) {
    EXPECT_EQ(process.finish(), 0) << process.err();
    const std::string err = process.err();
    EXPECT_NE(err.find("Summary\n  backend:           simulated"), std::string::npos) << err;
    auto wav = readWav((directory_ / wavName).string(), channel);
    EXPECT_TRUE(wav.has_value()) << err;
    if (!wav) return wav;
    EXPECT_EQ(wav->info.channels, channels);
    EXPECT_NE(wav->comment.find("generated test tones, not a recording"), std::string::npos)
        << wav->comment;
    const std::size_t wrote = err.find("/" + wavName + " (");
    EXPECT_NE(wrote, std::string::npos) << err;
    if (wrote != std::string::npos) {
      EXPECT_NEAR(std::stod(err.substr(wrote + wavName.size() + 3)) * 16000,
                  double(wav->info.frames), 8)
          << err;
    }
    return wav;
  }

  std::filesystem::path directory_;
};

// At stake: a call (microphone and system audio) is recorded in one run,
// each named source into its own file, or with --mix into its own channel,
// each exactly as long as asked when it has its own file.
TEST_F(HarkwellBinaryTest, TwoSourcesGoIntoTheirOwnFilesOrTheirOwnChannels) {
  for (const bool mix : {false, true}) {
    std::vector<std::string> arguments{
        "--source", "input:simulated-microphone-2", "--source", "output", "--seconds", "2"};
    if (mix) arguments.push_back("--mix");
    HarkwellProcess process(directory_, arguments, simulated);
    const std::pair<const char*, double> expected[] = {
        {"harkwell-capture-input_simulated-microphone-2.wav", 660},
        {"harkwell-capture-output.wav", 1000}};
    for (int i = 0; i < 2; ++i) {
      const auto wav = expectCapture(process, mix ? "harkwell-capture.wav" : expected[i].first,
                                     mix ? i : 0, mix ? 2 : 1);
      ASSERT_TRUE(wav.has_value());
      EXPECT_NEAR(double(wav->samples.size()), 32000, mix ? 1600 : 0) << "mix " << mix;
      EXPECT_TRUE(holdsTone(*wav, expected[i].second)) << "mix " << mix;
    }
  }
}

// At stake: a capture stopped at any moment (here by SIGSTOP; SIGKILL would
// leave the same bytes) has a file whose header covers its audio (libsndfile
// would read past a header that says 0, so the header is read here itself);
// the app's own stop is no silence of the source, and a closed terminal
// (SIGHUP) ends a capture as Ctrl-C does.
TEST_F(HarkwellBinaryTest, AStoppedCaptureLosesNothingAndAClosedTerminalEndsIt) {
  HarkwellProcess process(directory_, {"--seconds", "0"}, simulated);
  ASSERT_TRUE(process.waitForError("Capturing"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  process.signal(SIGSTOP);
  std::this_thread::sleep_for(std::chrono::seconds(4));
  std::uint32_t declared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
    const std::string bytes = readWholeFile(entry.path());
    const std::size_t data = bytes.find("data");
    if (bytes.rfind("RIFF", 0) != 0 || data == std::string::npos || data + 8 > bytes.size()) {
      continue;
    }
    std::uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = size << 8 | static_cast<unsigned char>(bytes[data + 4 + i]);
    EXPECT_LE(data + 8 + size, bytes.size()) << entry.path();
    declared += size;
  }
  EXPECT_GE(declared, 4096u * 4) << "at least one block of 4-byte samples";
  process.signal(SIGCONT);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  process.signal(SIGHUP);
  const auto wav = expectCapture(process, "harkwell-capture.wav");
  ASSERT_TRUE(wav.has_value());
  EXPECT_GT(wav->samples.size(), 8000u);
  EXPECT_TRUE(holdsTone(*wav, 440)) << "the default microphone";
  EXPECT_EQ(process.err().find("no audio"), std::string::npos) << process.err();
}

// At stake: a full disk (here a file size limit) keeps the earlier recording
// at the target, keeps what was saved beside it, and the summary counts only
// what is on disk.
TEST_F(HarkwellBinaryTest, AFullDiskKeepsTheEarlierFileAndTellsWhatWasSaved) {
  std::ofstream(directory_ / "keep.wav") << "an earlier recording";
  HarkwellProcess process(directory_, {"--seconds", "3", "--wav", "keep.wav"},
                          std::string(simulated) + " sh -c 'ulimit -f 100; exec \"$0\" \"$@\"'");
  EXPECT_EQ(process.finish(), 1) << process.err();
  const std::string err = process.err();
  EXPECT_NE(err.find("cannot write the WAV file"), std::string::npos) << err;
  EXPECT_EQ(readWholeFile(directory_ / "keep.wav"), "an earlier recording");
  std::filesystem::path part;
  for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
    if (entry.path().extension() == ".part") part = entry.path();
  }
  const auto kept = readWav(part.string());
  ASSERT_TRUE(kept.has_value()) << err;
  const std::size_t at = err.find("samples:           ");
  ASSERT_NE(at, std::string::npos) << err;
  EXPECT_EQ(std::stoul(err.substr(at + 19)), kept->samples.size()) << err;
  EXPECT_NE(err.find(" received)"), std::string::npos) << err;
}

// At stake: two runs on one path never share a file: it ends up holding one
// whole recording, exactly as long as asked; closed standard descriptors are
// not taken by the app's own pipes.
TEST_F(HarkwellBinaryTest, TwoRunsOnOnePathLeaveOneWholeRecording) {
  std::filesystem::create_directory(directory_ / "other");
  HarkwellProcess first(directory_, {"--seconds", "2", "--wav", "same.wav"}, simulated,
                        "<&- >stdout.txt 2>&-");
  HarkwellProcess second(directory_ / "other",
                         {"--source", "output", "--seconds", "2", "--wav", "../same.wav"},
                         simulated);
  EXPECT_EQ(first.finish(), 0);
  EXPECT_EQ(second.finish(), 0) << second.err();
  const auto wav = readWav((directory_ / "same.wav").string());
  ASSERT_TRUE(wav.has_value());
  EXPECT_EQ(wav->samples.size(), 32000u);
  EXPECT_TRUE(holdsTone(*wav, 440) || holdsTone(*wav, 1000)) << "the tones are mixed";
}

struct RefusalCase {
  std::vector<std::string> arguments;
  int exitStatus;
  const char* message;
  const char* environment = simulated;
};

// At stake: what cannot be captured or kept is refused with a one-line reason
// and the documented status, before any capture and without a file.
class HarkwellRefusalTest : public HarkwellBinaryTest,
                            public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(HarkwellRefusalTest, ExitsWithTheStatusAndTheReason) {
  ASSERT_EQ(::mkfifo((directory_ / "fifo.wav").c_str(), 0600), 0);
  HarkwellProcess process(directory_, GetParam().arguments, GetParam().environment);
  EXPECT_EQ(process.finish(), GetParam().exitStatus);
  EXPECT_NE(process.err().find(GetParam().message), std::string::npos) << process.err();
  EXPECT_EQ(process.err().find("Capturing"), std::string::npos) << process.err();
  EXPECT_FALSE(std::filesystem::exists(directory_ / "harkwell-capture.wav"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HarkwellRefusalTest,
    ::testing::Values(
        RefusalCase{{"--source", "input:nobody"}, 2, "unknown source 'input:nobody'"},
        RefusalCase{{"--source", "input:"}, 2, "expected input or output"},
        RefusalCase{{"--backend", "alsa"}, 2, "alsa"}, RefusalCase{{"--verbose"}, 2, "--verbose"},
        RefusalCase{{"--wav", ""}, 2, "the WAV path is empty"},
        RefusalCase{{"--wav", "-"}, 2, "does not write WAV to standard output"},
        RefusalCase{{"--wav", "missing-folder/out.wav"}, 1, "cannot write the WAV file"},
        RefusalCase{{"--wav", "fifo.wav"}, 1, "not a regular file"},
        RefusalCase{{"--list"}, 1, "unknown audio backend 'alsa'", "HARKWELL_AUDIO_BACKEND=alsa"},
        RefusalCase{{"--list"}, 1, "does not answer", "PULSE_SERVER=unix:/nonexistent/native"},
        RefusalCase{{"--seconds", "nan"}, 2, "not a number"},
        RefusalCase{{"--seconds", "0x10"}, 2, "not a number"},
        RefusalCase{{"--seconds", "1e308"}, 2, "out of range"},
        RefusalCase{{"--seconds", "1e-9"}, 2, "out of range"}));

}  // namespace
}  // namespace harkwell::test
