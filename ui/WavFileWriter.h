#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct sf_private_tag;

namespace harkwell {

// Writes a 16000 Hz WAV file of 32-bit float samples (one or more channels)
// through libsndfile, so that nothing captured is lost and no file is left
// half-right:
// - the samples go to a temporary file beside the target ("NAME.PID.N.part"),
//   which commit() renames over the target; an existing target is replaced
//   only then, and two writers on one target never share a file;
// - the header is rewritten with every block, so that a killed process leaves
//   a temporary file whose header covers every whole block written;
// - only regular files (or new names) are targets: a FIFO, device or
//   directory is refused, since the header needs seeking.
// Samples are gathered and handed to libsndfile in blocks of `blockFrames`
// frames (one system call per call otherwise); a write error therefore shows
// at the write that completes a block, or at commit().
// Thread affinity: one thread at a time.
class WavFileWriter {
 public:
  static constexpr int sampleRate = 16000;  // Hz
  // 256 ms of audio.
  static constexpr std::size_t blockFrames = 4096;

  // The string chunks of the file.
  struct Metadata {
    std::string software;
    std::string comment;
  };

  // Creates the temporary file for `target`; null with the reason in `error`
  // when the target is not a regular file or the file cannot be created.
  static std::unique_ptr<WavFileWriter> create(const std::string& target, int channels,
                                               const Metadata& metadata, std::string& error);

  // Leaves the temporary file as it is, unless it holds no frames (removed).
  ~WavFileWriter();
  WavFileWriter(const WavFileWriter&) = delete;
  WavFileWriter& operator=(const WavFileWriter&) = delete;

  // Appends interleaved frames (a whole number of them); false with the
  // reason in `error` when the block they complete could not all be written
  // (a full disk, say). Nothing more is written after a failure.
  bool write(std::span<const float> samples, std::string& error);

  // Writes the frames still gathered, finishes the file and renames it over
  // the target; false with the reason when any of it failed (the temporary
  // file then stays, see temporaryPath()).
  bool commit(std::string& error);

  // Finishes the file where it is, without touching the target; removes it
  // when it holds no frames. Returns whether a file is left.
  bool keepTemporary();

  // Frames known to be in the file.
  std::uint64_t framesOnDisk() const { return framesOnDisk_; }
  const std::string& target() const { return target_; }
  const std::string& temporaryPath() const { return temporaryPath_; }

 private:
  WavFileWriter(sf_private_tag* file, std::string target, std::string temporaryPath, int channels);
  bool flush(std::string& error);
  bool closeFile(std::string& error);

  sf_private_tag* file_;
  const std::string target_;
  const std::string temporaryPath_;
  const std::size_t channels_;
  std::vector<float> pending_;  // fewer than blockFrames frames between calls
  std::uint64_t framesOnDisk_ = 0;
  bool failed_ = false;
};

}  // namespace harkwell
