#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace harkwell {

// The host's fixed log lines ("stream start", "failed to listen input device
// …") on standard output, written by writeLogLine: one write(2) per line, so
// lines from different threads never interleave, and control characters in a
// device name or an error text escaped, so that one event is always one line.
// A closed or broken standard output loses the line; it never raises SIGPIPE
// or throws.
// Thread affinity: any thread.
class HostLog {
 public:
  // Receives each line (without its newline) instead of standard output.
  using Sink = std::function<void(std::string_view line)>;

  // Writes `text` followed by a newline. Never throws. Any thread.
  static void writeLine(std::string_view text) noexcept;

  // Installs `sink` (empty: standard output again) and returns the one it
  // replaces. Lines written while a sink is installed go only to it, escaped. The sink
  // runs on the writing thread and must not write log lines itself. For tests.
  // Any thread.
  static Sink exchangeSink(Sink sink);
};

// Sends log lines to `sink` for the lifetime of the object, then puts the
// previous destination back. Thread affinity: create and destroy on one thread.
class ScopedHostLogSink {
 public:
  explicit ScopedHostLogSink(HostLog::Sink sink)
      : previous_(HostLog::exchangeSink(std::move(sink))) {}
  ~ScopedHostLogSink() { HostLog::exchangeSink(std::move(previous_)); }

  ScopedHostLogSink(const ScopedHostLogSink&) = delete;
  ScopedHostLogSink& operator=(const ScopedHostLogSink&) = delete;

 private:
  HostLog::Sink previous_;
};

}  // namespace harkwell
