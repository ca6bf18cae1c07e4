#pragma once

#include <string_view>

#include "platform/dispatch/Task.h"

namespace harkwell {

// Runs one work item and keeps any exception it throws from crossing into the
// thread that runs it: the exception is reported on standard error, naming
// `where` (a queue label or "background task"). Any thread.
void runWork(Task& work, std::string_view where) noexcept;

}  // namespace harkwell
