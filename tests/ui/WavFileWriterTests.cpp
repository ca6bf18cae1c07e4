#include "ui/WavFileWriter.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace harkwell {
namespace {

class WavFileWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "harkwell-wav-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    target_ = (directory_ / "out.wav").string();
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  // The samples of the one file in the directory, as libsndfile reads them.
  std::vector<float> readOnlyFile(SF_INFO& info, std::string& comment) {
    std::vector<std::filesystem::path> files{std::filesystem::directory_iterator(directory_), {}};
    EXPECT_EQ(files.size(), 1u) << "no temporary file may be left beside the target";
    info = SF_INFO{};
    SNDFILE* file = files.empty() ? nullptr : sf_open(files[0].c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    const char* text = sf_get_string(file, SF_STR_COMMENT);
    comment = text != nullptr ? text : "";
    std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
  }

  std::filesystem::path directory_;
  std::string target_;
};

// Samples numbered from `first`, so that a lost, repeated or moved run shows.
std::vector<float> numbered(std::size_t first, std::size_t count) {
  std::vector<float> samples(count);
  for (std::size_t i = 0; i < count; ++i) samples[i] = static_cast<float>(first + i) / 65536.0f;
  return samples;
}

// At stake: every sample arrives once and in order however the writes fall
// against the blocks, and the target is replaced only by the finished file.
TEST_F(WavFileWriterTest, CommitReplacesTheTargetWithEverySampleInOrder) {
  std::ofstream(target_) << "an earlier recording";
  const std::size_t block = WavFileWriter::blockFrames * 2;  // two channels
  const std::vector<std::size_t> sizes = {160, 0, block - 160, 2, 3 * block + 8, 50};
  std::string error;
  auto writer = WavFileWriter::create(target_, 2, {"harkwell", "two tones"}, error);
  ASSERT_NE(writer, nullptr) << error;
  std::size_t total = 0;
  for (const std::size_t size : sizes) {
    ASSERT_TRUE(writer->write(numbered(total, size), error)) << error;
    total += size;
  }
  std::ifstream before(target_);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(before), {}), "an earlier recording");
  ASSERT_TRUE(writer->commit(error)) << error;
  EXPECT_EQ(writer->framesOnDisk(), total / 2);

  SF_INFO info;
  std::string comment;
  EXPECT_EQ(readOnlyFile(info, comment), numbered(0, total));
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_EQ(comment, "two tones");
}

// At stake: a process killed while writing leaves a file whose header covers
// every whole block it wrote.
TEST_F(WavFileWriterTest, AKilledWriterLeavesAFileThatSaysWhatItHolds) {
  const std::size_t frames = 3 * WavFileWriter::blockFrames + 100;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string error;
    auto writer = WavFileWriter::create(target_, 1, {}, error);
    for (std::size_t i = 0; writer && i < frames; i += 128) writer->write(numbered(i, 128), error);
    ::_exit(writer ? 0 : 1);  // no destructor, no close: as if killed
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0);
  SF_INFO info;
  std::string comment;
  EXPECT_EQ(readOnlyFile(info, comment), numbered(0, 3 * WavFileWriter::blockFrames));
  EXPECT_FALSE(std::filesystem::exists(target_));
}

}  // namespace
}  // namespace harkwell
