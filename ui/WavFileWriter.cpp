#include "ui/WavFileWriter.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace harkwell {
namespace {

// The file the target name stands for: a symbolic link's destination, so that
// the rename replaces the file and not the link.
std::string resolvedTarget(const std::string& target) {
  std::error_code error;
  if (!std::filesystem::is_symlink(target, error)) return target;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(target, error);
  return error ? target : resolved.string();
}

// A new file beside `target`, named after it; -1 with errno set on failure.
int createTemporary(const std::string& target, std::string& path) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = target + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".part";
    // 0666 less the umask: the file gets the permissions a plain create would.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

std::unique_ptr<WavFileWriter> WavFileWriter::create(const std::string& target, int channels,
                                                     const Metadata& metadata, std::string& error) {
  const std::string real = resolvedTarget(target);
  struct stat status {};
  if (::stat(real.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    error = "it is not a regular file (a directory, FIFO or device); name a new or regular file";
    return nullptr;
  }
  std::string temporary;
  const int fd = createTemporary(real, temporary);
  if (fd < 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
  if (file == nullptr) {
    error = sf_strerror(nullptr);
    ::close(fd);
    ::unlink(temporary.c_str());
    return nullptr;
  }
  if (!metadata.software.empty()) sf_set_string(file, SF_STR_SOFTWARE, metadata.software.c_str());
  if (!metadata.comment.empty()) sf_set_string(file, SF_STR_COMMENT, metadata.comment.c_str());
  // The header follows every write: a kill leaves a file that says how much
  // it holds.
  sf_command(file, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
  return std::unique_ptr<WavFileWriter>(
      new WavFileWriter(file, real, std::move(temporary), channels));
}

WavFileWriter::WavFileWriter(SNDFILE* file, std::string target, std::string temporaryPath,
                             int channels)
    : file_(file),
      target_(std::move(target)),
      temporaryPath_(std::move(temporaryPath)),
      channels_(static_cast<std::size_t>(channels)) {
  pending_.reserve(blockFrames * channels_);
}

WavFileWriter::~WavFileWriter() {
  keepTemporary();
}

bool WavFileWriter::write(std::span<const float> samples, std::string& error) {
  if (file_ == nullptr || failed_) {
    error = file_ == nullptr ? "the file is closed" : "an earlier write failed";
    return false;
  }
  pending_.insert(pending_.end(), samples.begin(), samples.end());
  if (pending_.size() < blockFrames * channels_) return true;
  return flush(error);
}

bool WavFileWriter::flush(std::string& error) {
  if (pending_.empty() || failed_) return !failed_;
  const auto count = static_cast<sf_count_t>(pending_.size());
  const sf_count_t written = sf_write_float(file_, pending_.data(), count);
  pending_.clear();
  if (written > 0) framesOnDisk_ += static_cast<std::uint64_t>(written) / channels_;
  if (written != count) {
    failed_ = true;
    error = sf_strerror(file_);
    return false;
  }
  return true;
}

bool WavFileWriter::closeFile(std::string& error) {
  if (file_ == nullptr) return true;
  const bool flushed = flush(error);
  const int status = sf_close(std::exchange(file_, nullptr));
  if (!flushed) return false;
  if (status != 0) {
    error = sf_error_number(status);
    return false;
  }
  return true;
}

bool WavFileWriter::commit(std::string& error) {
  if (file_ == nullptr) {
    error = "the file is closed";
    return false;
  }
  if (!closeFile(error)) return false;
  if (::rename(temporaryPath_.c_str(), target_.c_str()) != 0) {
    error = std::string("cannot rename it into place: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool WavFileWriter::keepTemporary() {
  if (file_ == nullptr) return false;
  std::string ignored;
  closeFile(ignored);
  if (framesOnDisk_ > 0) return true;
  ::unlink(temporaryPath_.c_str());
  return false;
}

}  // namespace harkwell
