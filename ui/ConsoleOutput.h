#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace harkwell {

// Where the console UI writes: whole lines, plus on a terminal one status line
// that is redrawn in place (the level meter). Each line is one write, so that
// it never interleaves with the host's diagnostics. Control characters in the
// text are escaped: device names and host errors come from outside.
// Thread affinity: the console UI's thread.
class ConsoleOutput {
 public:
  // `stream` must outlive this object. `inPlace` redraws the status line in
  // place (a terminal); otherwise each status is a line of its own.
  ConsoleOutput(std::FILE* stream, bool inPlace) : stream_(stream), inPlace_(inPlace) {}

  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  bool inPlace() const { return inPlace_; }

  // Writes `text` as a line; a status line on show stays above it. UI thread.
  void line(std::string_view text);
  // Shows `text` as the status line. UI thread.
  void status(std::string_view text);
  // Ends the status line on show, leaving it visible. UI thread.
  void endStatus();

 private:
  void write(const std::string& text);

  std::FILE* stream_;
  const bool inPlace_;
  bool statusShown_ = false;
};

}  // namespace harkwell
