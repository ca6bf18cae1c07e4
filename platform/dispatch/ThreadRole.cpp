#include "platform/dispatch/ThreadRole.h"

#include <cstdlib>

#include "platform/dispatch/LogLine.h"
#include "platform/dispatch/MainRunLoop.h"

void MainThreadRole::assertIsCurrent() const {
  if (MainRunLoop::shared().isMainThread()) return;
  harkwell::writeDiagnostic("main-thread state touched off the main thread");
  std::abort();
}

void QueueRole::assertIsCurrent() const {
  if (queue_.isCurrent()) return;
  harkwell::writeDiagnostic("state of queue " + queue_.label() + " touched off that queue");
  std::abort();
}
