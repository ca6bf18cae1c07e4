#include "ui/WavFileWriter.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

namespace harkwell {
namespace {

// At stake: the file is a 16000 Hz mono float WAV holding exactly the samples
// written, and an unusable path is reported at open, not discovered later.
class WavFileWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "harkwell-wav-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  std::filesystem::path directory_;
  std::string error_;
};

TEST_F(WavFileWriterTest, WritesTheSamplesInOrderAsSixteenKilohertzMonoFloat) {
  const std::string path = (directory_ / "out.wav").string();
  auto writer = WavFileWriter::open(path, error_);
  ASSERT_NE(writer, nullptr) << error_;
  ASSERT_TRUE(writer->write(std::vector<float>{0.5f, -0.25f}, error_)) << error_;
  ASSERT_TRUE(writer->write(std::vector<float>{0.125f}, error_)) << error_;
  ASSERT_TRUE(writer->close(error_)) << error_;

  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  std::vector<float> samples(8);
  const sf_count_t read = sf_readf_float(file, samples.data(), 8);
  sf_close(file);
  EXPECT_EQ(info.samplerate, 16000);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  ASSERT_EQ(read, 3);
  EXPECT_EQ(samples[0], 0.5f);
  EXPECT_EQ(samples[1], -0.25f);
  EXPECT_EQ(samples[2], 0.125f);
}

TEST_F(WavFileWriterTest, DestroyingWithoutCloseStillLeavesAReadableFile) {
  const std::string path = (directory_ / "dropped.wav").string();
  {
    auto writer = WavFileWriter::open(path, error_);
    ASSERT_NE(writer, nullptr) << error_;
    ASSERT_TRUE(writer->write(std::vector<float>(160, 0.1f), error_));
  }
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  sf_close(file);
  EXPECT_EQ(info.frames, 160);
}

TEST_F(WavFileWriterTest, APathInAMissingFolderIsRefusedWithTheReason) {
  auto writer = WavFileWriter::open((directory_ / "missing" / "out.wav").string(), error_);
  EXPECT_EQ(writer, nullptr);
  EXPECT_NE(error_.find("No such file"), std::string::npos) << error_;
}

}  // namespace
}  // namespace harkwell
