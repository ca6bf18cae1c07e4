#include "ui/WavFileWriter.h"

#include <sndfile.h>

#include <utility>

namespace harkwell {

std::unique_ptr<WavFileWriter> WavFileWriter::open(const std::string& path, std::string& error) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) {
    // With a null handle libsndfile reports the reason of the failed open.
    error = sf_strerror(nullptr);
    return nullptr;
  }
  return std::unique_ptr<WavFileWriter>(new WavFileWriter(file, path));
}

WavFileWriter::WavFileWriter(SNDFILE* file, std::string path)
    : file_(file), path_(std::move(path)) {
  pending_.reserve(blockSamples);
}

WavFileWriter::~WavFileWriter() {
  std::string ignored;
  close(ignored);
}

bool WavFileWriter::write(std::span<const float> samples, std::string& error) {
  if (file_ == nullptr) {
    error = "the file is closed";
    return false;
  }
  pending_.insert(pending_.end(), samples.begin(), samples.end());
  if (pending_.size() < blockSamples) return true;
  return flush(error);
}

bool WavFileWriter::flush(std::string& error) {
  if (pending_.empty()) return true;
  const auto count = static_cast<sf_count_t>(pending_.size());
  const sf_count_t written = sf_write_float(file_, pending_.data(), count);
  pending_.clear();
  if (written != count) {
    error = sf_strerror(file_);
    return false;
  }
  return true;
}

bool WavFileWriter::close(std::string& error) {
  if (file_ == nullptr) return true;
  std::string flushError;
  const bool flushed = flush(flushError);
  SNDFILE* file = std::exchange(file_, nullptr);
  const int status = sf_close(file);
  if (!flushed) {
    error = flushError;
    return false;
  }
  if (status != 0) {
    error = sf_error_number(status);
    return false;
  }
  return true;
}

}  // namespace harkwell
