#include "ui/ConsoleOutput.h"

#include "platform/dispatch/LogLine.h"

namespace harkwell {

void ConsoleOutput::line(std::string_view text) {
  endStatus();
  std::string whole = escapeControlCharacters(text);
  whole += '\n';
  write(whole);
}

void ConsoleOutput::status(std::string_view text) {
  if (!inPlace_) {
    line(text);
    return;
  }
  // Carriage return and erase-line: the new reading replaces the old one.
  std::string whole = "\r\033[K";
  whole += escapeControlCharacters(text);
  write(whole);
  statusShown_ = true;
}

void ConsoleOutput::endStatus() {
  if (!statusShown_) return;
  statusShown_ = false;
  write("\n");
}

void ConsoleOutput::write(const std::string& text) {
  // A closed reader (stderr piped into `head`) fails the write with EPIPE,
  // SIGPIPE being ignored: the capture goes on regardless.
  std::fwrite(text.data(), 1, text.size(), stream_);
  std::fflush(stream_);
}

}  // namespace harkwell
