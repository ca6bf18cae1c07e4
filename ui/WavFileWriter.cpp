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
    : file_(file), path_(std::move(path)) {}

WavFileWriter::~WavFileWriter() {
  std::string ignored;
  close(ignored);
}

bool WavFileWriter::write(std::span<const float> samples, std::string& error) {
  if (file_ == nullptr) {
    error = "the file is closed";
    return false;
  }
  if (samples.empty()) return true;
  const sf_count_t written =
      sf_write_float(file_, samples.data(), static_cast<sf_count_t>(samples.size()));
  if (written != static_cast<sf_count_t>(samples.size())) {
    error = sf_strerror(file_);
    return false;
  }
  return true;
}

bool WavFileWriter::close(std::string& error) {
  if (file_ == nullptr) return true;
  SNDFILE* file = std::exchange(file_, nullptr);
  const int status = sf_close(file);
  if (status != 0) {
    error = sf_error_number(status);
    return false;
  }
  return true;
}

}  // namespace harkwell
