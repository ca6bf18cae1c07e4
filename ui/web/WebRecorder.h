#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ui/WavFileWriter.h"

namespace harkwell {

// --wav with the web UI: every capture the page starts is also written to a
// WAV file of its own, PATH's stem + "-input-ID" or "-output-ID" + PATH's
// extension, opened (truncated) at deviceStart and closed at deviceStop.
// Thread affinity: the UI thread (where event messages arrive).
class WebRecorder {
 public:
  // `say` prints one line for the user.
  WebRecorder(std::string path, std::function<void(const std::string&)> say);

  // Reads one event-channel message and acts on it; messages that do not
  // decode are left to the page.
  void onEventMessage(std::span<const std::uint8_t> message);

  // The file for the capture of `id` of kind `output` (display) or not.
  std::string pathFor(bool output, const std::string& id) const;

 private:
  const std::string path_;
  const std::function<void(const std::string&)> say_;
  std::map<std::string, std::unique_ptr<WavFileWriter>> files_;  // by file path
  std::vector<float> scratch_;
};

}  // namespace harkwell
