#pragma once

#include <functional>

namespace harkwell {

// Turns SIGINT, SIGTERM and SIGHUP into ordinary calls: the signal handler only writes
// the signal number into a pipe (async-signal-safe), and a thread of its own
// reads the pipe and calls the listener there, where it may lock and allocate.
// Thread affinity: any thread; the listener runs on the "signals" thread.
class TerminationSignals {
 public:
  using Listener = std::function<void(int signalNumber)>;

  // Installs the handlers and starts the thread on first use; later calls
  // only replace the listener. Returns false when the pipe, handlers or
  // thread could not be set up (the signals then keep their default action).
  // Any thread.
  static bool install(Listener listener);
};

}  // namespace harkwell
