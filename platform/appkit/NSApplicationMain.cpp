#include "platform/appkit/NSApplicationMain.h"

#include <cstdio>
#include <exception>
#include <string>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSNib.h"
#include "platform/dispatch/MainRunLoop.h"

int NSApplicationMain(int /*argc*/, const char* /*argv*/[]) {
  MainRunLoop& loop = MainRunLoop::shared();
  loop.makeCurrentThreadMain();
  NSApplication& application = NSApplication::shared();
  application.installTerminationSignalHandlers();
  try {
    NSNib::mainInterface().instantiate(application);
    if (NSApplicationDelegate* delegate = application.delegate()) {
      delegate->applicationDidFinishLaunching(application);
    }
  } catch (const std::exception& error) {
    const std::string line =
        std::string("harkwell: could not load the main interface: ") + error.what() + "\n";
    std::fputs(line.c_str(), stderr);
    return 1;
  }
  // Only termination ends the application; a bare stop of the loop does not.
  while (!application.hasTerminated()) loop.run();
  return application.exitStatus();
}
