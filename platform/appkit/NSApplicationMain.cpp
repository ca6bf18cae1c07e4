#include "platform/appkit/NSApplicationMain.h"

#include <exception>
#include <string>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSNib.h"
#include "platform/dispatch/LogLine.h"
#include "platform/dispatch/MainRunLoop.h"

int NSApplicationMain(int /*argc*/, const char* /*argv*/[]) {
  MainRunLoop& loop = MainRunLoop::shared();
  loop.adoptCurrentThread();
  NSApplication& application = NSApplication::shared();
  application.installTerminationSignalHandlers();
  try {
    NSNib::mainInterface().instantiate(application);
    if (NSApplicationDelegate* delegate = application.delegate()) {
      delegate->applicationDidFinishLaunching(application);
    }
  } catch (const std::exception& error) {
    harkwell::writeDiagnostic(std::string("could not load the main interface: ") + error.what());
    return 1;
  }
  // Only termination ends the application; a bare stop of the loop does not.
  while (!application.hasTerminated()) loop.run();
  return application.exitStatus();
}
