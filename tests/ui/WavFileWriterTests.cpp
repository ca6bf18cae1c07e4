#include "ui/WavFileWriter.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace harkwell {
namespace {

// At stake: the file holds every sample written, once and in order, however
// the writes fall against the writer's blocks (the samples gathered since the
// last block must reach the file at close, or when the writer is dropped), and
// a failing write is reported, not swallowed.
class WavFileWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::temp_directory_path() /
                 ("harkwell-wav-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(directory_);
    path_ = (directory_ / "out.wav").string();
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::vector<float> readBack(SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* file = sf_open(path_.c_str(), SFM_READ, &info);
    if (file == nullptr) {
      ADD_FAILURE() << "cannot read back " << path_ << ": " << sf_strerror(nullptr);
      return {};
    }
    std::vector<float> samples(static_cast<std::size_t>(info.frames));
    samples.resize(static_cast<std::size_t>(sf_readf_float(file, samples.data(), info.frames)));
    sf_close(file);
    return samples;
  }

  std::filesystem::path directory_;
  std::string path_;
};

// Samples numbered from `first`, so that a lost, repeated or moved run shows.
std::vector<float> numbered(std::size_t first, std::size_t count) {
  std::vector<float> samples(count);
  for (std::size_t i = 0; i < count; ++i) samples[i] = static_cast<float>(first + i) / 65536.0f;
  return samples;
}

TEST_F(WavFileWriterTest, EverySampleArrivesInOrderWhateverTheWriteSizes) {
  const std::size_t block = WavFileWriter::blockSamples;
  // Capture-sized writes, an empty one, one that ends exactly on a block, one
  // larger than a block, and a tail shorter than a block.
  const std::vector<std::size_t> sizes = {80, 0, 80, block - 160, 1, 3 * block + 7, 80, 25};
  std::string error;
  auto writer = WavFileWriter::open(path_, error);
  ASSERT_NE(writer, nullptr) << error;
  std::size_t total = 0;
  for (const std::size_t size : sizes) {
    ASSERT_TRUE(writer->write(numbered(total, size), error)) << error;
    total += size;
  }
  ASSERT_TRUE(writer->close(error)) << error;
  EXPECT_TRUE(writer->close(error)) << "a second close does nothing";

  SF_INFO info;
  const std::vector<float> samples = readBack(info);
  EXPECT_EQ(info.samplerate, 16000);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_EQ(samples, numbered(0, total));
}

TEST_F(WavFileWriterTest, DroppingTheWriterStillWritesTheLastSamples) {
  std::string error;
  {
    auto writer = WavFileWriter::open(path_, error);
    ASSERT_NE(writer, nullptr) << error;
    ASSERT_TRUE(writer->write(numbered(0, 100), error)) << error;
  }
  SF_INFO info;
  EXPECT_EQ(readBack(info), numbered(0, 100));
}

// A file size limit makes the writes past it fail (EFBIG) as a full disk
// would, after a header that fits.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    applied_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool applied() const { return applied_; }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
  bool applied_ = false;
};

TEST_F(WavFileWriterTest, AFailingWriteIsReportedByTheWriteOrAtTheLatestByClose) {
  std::string error;
  auto writer = WavFileWriter::open(path_, error);
  ASSERT_NE(writer, nullptr) << error;
  {
    const FileSizeLimit limit(4096);
    ASSERT_TRUE(limit.applied());
    // Half a block: gathered, so the failure can only show at close.
    std::string writeError;
    EXPECT_TRUE(writer->write(numbered(0, WavFileWriter::blockSamples / 2), writeError))
        << writeError;
    std::string closeError;
    EXPECT_FALSE(writer->close(closeError));
    EXPECT_FALSE(closeError.empty());
  }

  // A whole block is written by the write that completes it.
  writer = WavFileWriter::open(path_, error);
  ASSERT_NE(writer, nullptr) << error;
  {
    const FileSizeLimit limit(4096);
    std::string writeError;
    EXPECT_FALSE(writer->write(numbered(0, WavFileWriter::blockSamples), writeError));
    EXPECT_FALSE(writeError.empty());
  }
  writer.reset();

  error.clear();
  writer = WavFileWriter::open(path_, error);
  ASSERT_NE(writer, nullptr) << error;
  ASSERT_TRUE(writer->close(error)) << error;
  EXPECT_FALSE(writer->write(numbered(0, 1), error)) << "writing after close";
  EXPECT_EQ(error, "the file is closed");
}

}  // namespace
}  // namespace harkwell
