#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace harkwell {

// What the user asked for on the command line:
//   harkwell [--backend simulated|pulse] [--list] [--source input|output[:ID]]
//            [--seconds S] [--wav PATH] [--trace] [--ui console|web] [--port P] [--no-open]
// Thread affinity: a plain value, any thread.
struct ConsoleOptions {
  std::optional<std::string> backend;  // "simulated" or "pulse"; unset: the app decides
  bool list = false;
  std::string source = "input";
  double seconds = 5;  // 0: until interrupted
  std::string wavPath = "harkwell-capture.wav";
  bool wavGiven = false;  // --wav was on the command line
  bool trace = false;
  std::string ui = "console";  // "web": the page in the browser
  std::uint16_t port = 0;      // the page server's port; 0: any free one
  bool noOpen = false;         // print the page's address without opening it
};

// Exit status for a command line or source that cannot be used.
inline constexpr int usageExitStatus = 2;

// Parses the command line into `options`. Returns nullopt to go on, or the
// status to exit with at once: 0 after --help, usageExitStatus for a bad
// command line (CLI11 has printed why on standard error). Any thread.
std::optional<int> parseConsoleOptions(int argc, const char* const argv[], ConsoleOptions& options);

}  // namespace harkwell
