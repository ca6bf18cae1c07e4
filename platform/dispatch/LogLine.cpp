#include "platform/dispatch/LogLine.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace harkwell {

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

bool isC0OrDelete(unsigned char byte) {
  return byte < 0x20 || byte == 0x7f;
}

// A C1 control is U+0080-U+009F, which UTF-8 writes as c2 80 .. c2 9f. Lone
// bytes in that range are parts of other characters and are left alone.
bool startsC1(std::string_view text, std::size_t at) {
  return static_cast<unsigned char>(text[at]) == 0xc2 && at + 1 < text.size() &&
         static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
         static_cast<unsigned char>(text[at + 1]) <= 0x9f;
}

void appendHex(std::string& out, unsigned char byte) {
  out.push_back(hexDigits[byte >> 4]);
  out.push_back(hexDigits[byte & 0x0f]);
}

// Writes all of `line` to `fd`. One write(2) carries it whole in practice (a
// line is far below PIPE_BUF); the loop only finishes a write cut short by a
// signal, so that nothing is lost.
void writeWhole(int fd, const std::string& line) {
  // A reader that went away must not kill the host: SIGPIPE is blocked on this
  // thread for the write, and one that the write raises is taken back.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  sigset_t previousMask;
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previousMask);
  sigset_t pending;
  sigpending(&pending);
  const bool pipeWasPending = sigismember(&pending, SIGPIPE) == 1;

  const char* data = line.data();
  std::size_t left = line.size();
  bool broken = false;
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      broken = errno == EPIPE;
      break;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }

  if (broken && !pipeWasPending) {
    const timespec noWait{};
    while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

}  // namespace

std::string escapeControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (startsC1(text, at)) {
      out += "\\u00";
      appendHex(out, static_cast<unsigned char>(text[++at]));
    } else if (!isC0OrDelete(byte)) {
      out.push_back(text[at]);
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else {
      out += "\\x";
      appendHex(out, byte);
    }
  }
  return out;
}

void writeLogLine(int fd, std::string_view text) noexcept {
  try {
    std::string line = escapeControlCharacters(text);
    line.push_back('\n');
    writeWhole(fd, line);
  } catch (...) {
    // Out of memory: the line is lost, the caller (often a platform completion
    // or a worker thread) carries on.
  }
}

void writeDiagnostic(std::string_view text) noexcept {
  try {
    std::string line = "harkwell: ";
    line.append(text);
    writeLogLine(STDERR_FILENO, line);
  } catch (...) {
  }
}

}  // namespace harkwell
