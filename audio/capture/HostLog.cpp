#include "audio/capture/HostLog.h"

#include <unistd.h>

#include <memory>
#include <utility>

#include "platform/dispatch/LogLine.h"
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

}  // namespace

void HostLog::writeLine(std::string_view text) noexcept {
  try {
    if (auto sink = currentSink()) {
      (*sink)(escapeControlCharacters(text));
      return;
    }
    writeLogLine(STDOUT_FILENO, text);
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
