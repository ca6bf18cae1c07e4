#pragma once

#include <functional>
#include <string_view>

#include "platform/dispatch/Task.h"

namespace harkwell {

// Runs one work item and keeps any exception it throws from crossing into the
// thread that runs it: the exception is reported on standard error, naming
// `where` (a queue label or "background task"). Any thread.
void runWork(Task& work, std::string_view where) noexcept;

// The body of a queue's sync() from another thread: hands `work`, wrapped so
// that it signals when done, to `enqueue`, and waits for it; an exception
// `work` throws is rethrown here. `enqueue` queues the item on the queue's
// thread and returns true, or returns false when the queue refuses it, in
// which case this returns at once. Never from the queue's own thread, which
// would wait on itself. Any other thread.
void enqueueAndWait(const std::function<bool(Task)>& enqueue, Task& work);

}  // namespace harkwell
