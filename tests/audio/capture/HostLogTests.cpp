#include "audio/capture/HostLog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/LogLine.h"

namespace harkwell {
namespace {

// Points standard output at a pipe while it lives and hands back what was
// written. Thread affinity: one thread.
class StandardOutputPipe {
 public:
  explicit StandardOutputPipe(bool keepReader = true) {
    std::fflush(stdout);
    std::cout.flush();
    if (::pipe(ends_) != 0) throw std::runtime_error("pipe");
    if (!keepReader) ::close(ends_[0]);
    if (!keepReader) ends_[0] = -1;
    saved_ = ::dup(STDOUT_FILENO);
    ::dup2(ends_[1], STDOUT_FILENO);
    ::close(ends_[1]);
  }
  ~StandardOutputPipe() {
    restore();
    if (ends_[0] >= 0) ::close(ends_[0]);
  }

  // Puts standard output back and returns everything the pipe received.
  std::string take() {
    restore();
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(ends_[0], chunk, sizeof chunk)) > 0) text.append(chunk, n);
    return text;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    saved_ = -1;
  }

  int ends_[2] = {-1, -1};
  int saved_ = -1;
};

// At stake: the fixed log lines reach standard output whole, one line per
// write, so lines written by several capture threads at once never mix; and a
// reader that went away (SIGPIPE) never takes the host down.
class HostLogStandardOutputTest : public ::testing::Test {};

TEST_F(HostLogStandardOutputTest, LinesFromManyThreadsArriveWholeAndComplete) {
  constexpr int threads = 4;
  constexpr int linesPerThread = 200;  // about 25 KiB: fits the pipe unread
  StandardOutputPipe out;
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < linesPerThread; ++i) {
        HostLog::writeLine("stream start failed Optional(writer " + std::to_string(t) + ")");
      }
    });
  }
  for (auto& writer : writers) writer.join();

  const std::string text = out.take();
  std::map<std::string, int> counts;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    ++counts[text.substr(begin, end - begin)];
  }
  EXPECT_EQ(begin, text.size()) << "the output ends inside a line";
  ASSERT_EQ(counts.size(), static_cast<std::size_t>(threads));
  for (int t = 0; t < threads; ++t) {
    EXPECT_EQ(counts["stream start failed Optional(writer " + std::to_string(t) + ")"],
              linesPerThread);
  }
}

TEST_F(HostLogStandardOutputTest, AForgedDeviceNameStaysOnItsOwnLine) {
  StandardOutputPipe out;
  HostLog::writeLine("failed to listen input device X\nstream start");
  EXPECT_EQ(out.take(), "failed to listen input device X\\nstream start\n");
}

TEST_F(HostLogStandardOutputTest, AClosedReaderLosesTheLineButNotTheProcess) {
  StandardOutputPipe out(/*keepReader=*/false);
  HostLog::writeLine("stream stop");
  HostLog::writeLine("stream stop");
}

// At stake: outside text can neither break a log line nor drive a terminal,
// and text without control characters (UTF-8 and backslashes included) is
// written byte for byte as it was.
TEST(EscapeControlCharactersTest, EscapesExactlyTheControlCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"Desk Microphone", "Desk Microphone"},
      {"Caf\xc3\xa9\xc2\xa0\\n", "Caf\xc3\xa9\xc2\xa0\\n"},
      {"a\nb\rc\td", "a\\nb\\rc\\td"},
      {std::string("\x00\x1b[2J\x1f\x7f", 7), "\\x00\\x1b[2J\\x1f\\x7f"},
      {"\xc2\x80\xc2\x9b"
       "1m\xc2\x9f",
       "\\u0080\\u009b1m\\u009f"},
      {"\x9b lone \xc2", "\x9b lone \xc2"},
  };
  for (const auto& [text, escaped] : cases) EXPECT_EQ(escapeControlCharacters(text), escaped);
}

}  // namespace
}  // namespace harkwell
