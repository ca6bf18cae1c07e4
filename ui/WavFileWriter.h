#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct sf_private_tag;

namespace harkwell {

// Writes a 16000 Hz mono WAV file of 32-bit float samples through libsndfile.
// The file is created (or truncated) by open(); the header is finished by
// close(), which the destructor also does when it was not called.
// Samples are gathered and handed to libsndfile in blocks of `blockSamples`:
// captured audio arrives a few milliseconds at a time, and libsndfile writes
// each call straight to the file, one system call per call. A write error
// therefore shows at the write that completes a block, or at close().
// Thread affinity: one thread at a time.
class WavFileWriter {
 public:
  static constexpr int sampleRate = 16000;  // Hz
  // 256 ms of audio, 16 KiB.
  static constexpr std::size_t blockSamples = 4096;

  // Opens `path` for writing; null with libsndfile's reason in `error` when it
  // cannot be created. One thread at a time.
  static std::unique_ptr<WavFileWriter> open(const std::string& path, std::string& error);

  ~WavFileWriter();
  WavFileWriter(const WavFileWriter&) = delete;
  WavFileWriter& operator=(const WavFileWriter&) = delete;

  // Appends `samples`; false with the reason in `error` when the block they
  // complete could not all be written (a full disk, say). One thread at a time.
  bool write(std::span<const float> samples, std::string& error);

  // Writes the samples still gathered, then finishes and closes the file;
  // false with the (first) reason when either failed. Later calls do nothing
  // and return true. One thread at a time.
  bool close(std::string& error);

  const std::string& path() const { return path_; }

 private:
  WavFileWriter(sf_private_tag* file, std::string path);
  // Hands the gathered samples to libsndfile; false with the reason when not
  // all were written. They are dropped either way.
  bool flush(std::string& error);

  sf_private_tag* file_;
  std::string path_;
  std::vector<float> pending_;  // fewer than blockSamples between calls
};

}  // namespace harkwell
