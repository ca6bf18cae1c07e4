#include "platform/appkit/TerminationSignals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/dispatch/LogLine.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

namespace harkwell {
namespace {

// Written once before the handlers are installed, then only read (also from
// signal context, hence a plain int).
int writeEnd = -1;

struct ListenerState {
  Mutex mutex;
  TerminationSignals::Listener listener GUARDED_BY(mutex);
  bool installed GUARDED_BY(mutex) = false;
  bool failed GUARDED_BY(mutex) = false;
};

ListenerState& state() {
  // Never destroyed: the signal thread runs until the process ends.
  static ListenerState* instance = new ListenerState;
  return *instance;
}

extern "C" void onTerminationSignal(int signalNumber) {
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signalNumber);
  // A full pipe means signals are already waiting to be read; dropping this one
  // loses nothing the listener could act on.
  const ssize_t ignored = ::write(writeEnd, &byte, 1);
  (void)ignored;
  errno = savedErrno;
}

void readSignals(int readEnd) {
  pthread_setname_np(pthread_self(), "signals");
  for (;;) {
    unsigned char byte = 0;
    const ssize_t got = ::read(readEnd, &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got != 1) return;
    TerminationSignals::Listener listener;
    {
      MutexLock lock(state().mutex);
      listener = state().listener;
    }
    if (!listener) continue;
    try {
      listener(byte);
    } catch (...) {
      writeDiagnostic("the termination signal listener failed");
    }
  }
}

bool setUp() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  // The handler must never block, whatever the reader is doing.
  ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
  writeEnd = fds[1];
  try {
    std::thread(readSignals, fds[0]).detach();
  } catch (const std::system_error&) {
    return false;
  }
  struct sigaction action = {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  // Other threads' system calls carry on instead of failing with EINTR.
  action.sa_flags = SA_RESTART;
  // SIGHUP (the terminal closed) asks to end as SIGTERM does.
  return ::sigaction(SIGINT, &action, nullptr) == 0 &&
         ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGHUP, &action, nullptr) == 0;
}

}  // namespace

bool TerminationSignals::install(Listener listener) {
  ListenerState& shared = state();
  MutexLock lock(shared.mutex);
  shared.listener = std::move(listener);
  if (!shared.installed && !shared.failed) {
    if (setUp()) {
      shared.installed = true;
    } else {
      shared.failed = true;
      writeDiagnostic("could not watch for termination signals");
    }
  }
  return shared.installed;
}

}  // namespace harkwell
