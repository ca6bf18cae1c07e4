#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace harkwell {

// What the user asked for on the command line:
//   harkwell [--backend simulated|pulse] [--list] [--source input|output[:ID]]...
//            [--mix] [--seconds S] [--wav PATH] [--trace] [--ui console|web] [--port P]
//            [--no-open]
// Thread affinity: a plain value, any thread.
struct ConsoleOptions {
  std::optional<std::string> backend;  // "simulated" or "pulse"; unset: the app decides
  bool list = false;
  std::vector<std::string> sources{"input"};  // one capture each, in this order
  bool mix = false;                           // all sources into one WAV file, one channel each
  double seconds = 5;                         // 0: until interrupted
  std::string wavPath = "harkwell-capture.wav";
  bool wavGiven = false;  // --wav was on the command line
  bool trace = false;
  std::string ui = "console";  // "web": the page in the browser
  std::uint16_t port = 0;      // the page server's port; 0: any free one
  bool noOpen = false;         // print the page's address without opening it
};

// Exit status for a command line or source that cannot be used.
inline constexpr int usageExitStatus = 2;

// The longest --seconds: eight hours keeps even a two-channel float WAV file
// under the format's 4 GiB.
inline constexpr double maximumSeconds = 8 * 3600;
// The shortest length other than 0: one millisecond, 16 samples.
inline constexpr double minimumSeconds = 0.001;

// Reads a --seconds value: a finite decimal number, 0 or between
// minimumSeconds and maximumSeconds. Nullopt with "not a number" or "out of
// range" (and the range) in `whyNot` otherwise. Any thread.
std::optional<double> parseSeconds(const std::string& text, std::string& whyNot);

// Parses the command line into `options`. Returns nullopt to go on, or the
// status to exit with at once: 0 after --help, usageExitStatus for a bad
// command line (the reason has been printed on standard error). Any thread.
std::optional<int> parseConsoleOptions(int argc, const char* const argv[], ConsoleOptions& options);

}  // namespace harkwell
