#include "audio/capture/HostLog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/LogLine.h"

namespace harkwell {
namespace {

// Runs `write` with standard output pointed at a pipe (whose reader is closed
// at once when `reader` is false) and returns what the pipe received.
template <class Write>
std::string standardOutputOf(Write write, bool reader = true) {
  std::fflush(stdout);
  int ends[2];
  EXPECT_EQ(::pipe(ends), 0);
  if (!reader) ::close(ends[0]);
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(ends[1], STDOUT_FILENO);
  ::close(ends[1]);
  write();
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::string text;
  char chunk[4096];
  for (ssize_t n; reader && (n = ::read(ends[0], chunk, sizeof chunk)) > 0;) text.append(chunk, n);
  if (reader) ::close(ends[0]);
  return text;
}

// At stake: lines written by several capture threads at once arrive whole,
// one write each, never mixed; a forged device name cannot start a line.
TEST(HostLogTest, LinesFromManyThreadsArriveWholeAndEscaped) {
  constexpr int threads = 4;
  constexpr int linesPerThread = 200;  // about 25 KiB: fits the pipe unread
  auto line = [](int t) {
    return "stream start failed Optional(writer " + std::to_string(t) + ")";
  };
  const std::string text = standardOutputOf([&] {
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
      writers.emplace_back([&, t] {
        for (int i = 0; i < linesPerThread; ++i) HostLog::writeLine(line(t));
      });
    }
    for (auto& writer : writers) writer.join();
    HostLog::writeLine("failed to listen input device X\nstream start");
  });
  std::multiset<std::string> lines, expected{"failed to listen input device X\\nstream start"};
  for (int t = 0; t < threads * linesPerThread; ++t) expected.insert(line(t % threads));
  std::istringstream in(text);
  for (std::string received; std::getline(in, received);) lines.insert(received);
  EXPECT_TRUE(text.ends_with('\n')) << "the output ends inside a line";
  EXPECT_EQ(lines, expected);
}

// At stake: a reader that went away (SIGPIPE) never takes the host down.
TEST(HostLogTest, AClosedReaderLosesTheLineButNotTheProcess) {
  standardOutputOf(
      [] {
        HostLog::writeLine("stream stop");
        HostLog::writeLine("stream stop");
      },
      false);
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
