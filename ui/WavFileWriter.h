#pragma once

#include <memory>
#include <span>
#include <string>

struct sf_private_tag;

namespace harkwell {

// Writes a 16000 Hz mono WAV file of 32-bit float samples through libsndfile.
// The file is created (or truncated) by open(); the header is finished by
// close(), which the destructor also does when it was not called.
// Thread affinity: one thread at a time.
class WavFileWriter {
 public:
  static constexpr int sampleRate = 16000;  // Hz

  // Opens `path` for writing; null with libsndfile's reason in `error` when it
  // cannot be created. One thread at a time.
  static std::unique_ptr<WavFileWriter> open(const std::string& path, std::string& error);

  ~WavFileWriter();
  WavFileWriter(const WavFileWriter&) = delete;
  WavFileWriter& operator=(const WavFileWriter&) = delete;

  // Appends `samples`; false with the reason in `error` when not all were
  // written (a full disk, say). One thread at a time.
  bool write(std::span<const float> samples, std::string& error);

  // Finishes and closes the file; false with the reason when that failed.
  // Later calls do nothing and return true. One thread at a time.
  bool close(std::string& error);

  const std::string& path() const { return path_; }

 private:
  WavFileWriter(sf_private_tag* file, std::string path);

  sf_private_tag* file_;
  std::string path_;
};

}  // namespace harkwell
