#include "platform/dispatch/ThreadRole.h"

#include <cstdio>
#include <cstdlib>

#include "platform/dispatch/MainRunLoop.h"

void MainThreadRole::assertIsCurrent() const {
  if (MainRunLoop::shared().isMainThread()) return;
  std::fputs("harkwell: main-thread state touched off the main thread\n", stderr);
  std::abort();
}

void QueueRole::assertIsCurrent() const {
  if (queue_.isCurrent()) return;
  std::fprintf(stderr, "harkwell: state of queue %s touched off that queue\n",
               queue_.label().c_str());
  std::abort();
}
