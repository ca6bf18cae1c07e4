#include "platform/dispatch/ThreadRole.h"

#include <cstdlib>

#include "platform/dispatch/LogLine.h"
#include "platform/dispatch/MainRunLoop.h"

void MainThreadRole::assertIsCurrent() const {
  if (MainRunLoop::shared().isMainThread()) return;
  writeDiagnostic("main-thread state touched off the main thread");
  std::abort();
}

void QueueRole::assertIsCurrent() const {
  if (queue_.isCurrent()) return;
  writeDiagnostic("state of queue " + queue_.label() + " touched off that queue");
  std::abort();
}
