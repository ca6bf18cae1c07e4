#include "audio/capture/HostLog.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <utility>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

namespace harkwell {

namespace {

struct SinkSlot {
  Mutex mutex;
  // Shared so that a line being written keeps its sink alive while another
  // thread replaces it; the sink itself runs outside the lock.
  std::shared_ptr<const HostLog::Sink> sink GUARDED_BY(mutex);
};

SinkSlot& sinkSlot() {
  // Never destroyed: capture queues may still log while the process exits.
  static auto* const slot = new SinkSlot;
  return *slot;
}

std::shared_ptr<const HostLog::Sink> currentSink() {
  SinkSlot& slot = sinkSlot();
  MutexLock lock(slot.mutex);
  return slot.sink;
}

// Writes all of `line` to standard output. One write(2) carries it whole in
// practice (a line is far below PIPE_BUF); the loop only finishes a write cut
// short by a signal, so that nothing is lost.
void writeToStandardOutput(const std::string& line) {
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
    const ssize_t written = ::write(STDOUT_FILENO, data, left);
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

void HostLog::writeLine(std::string_view text) noexcept {
  try {
    if (auto sink = currentSink()) {
      (*sink)(text);
      return;
    }
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text);
    line.push_back('\n');
    writeToStandardOutput(line);
  } catch (...) {
    // Out of memory or a throwing test sink: the line is lost, the caller (often
    // a platform completion) carries on.
  }
}

HostLog::Sink HostLog::exchangeSink(Sink sink) {
  auto next = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
  std::shared_ptr<const Sink> previous;
  {
    SinkSlot& slot = sinkSlot();
    MutexLock lock(slot.mutex);
    previous = std::exchange(slot.sink, std::move(next));
  }
  return previous ? *previous : Sink();
}

}  // namespace harkwell
