#pragma once

// Starts the application on the calling thread, which becomes the main thread:
// routes SIGINT and SIGTERM to the application, loads the main interface
// (NSNib::mainInterface), tells the delegate that launching finished, and runs
// the main run loop until the application terminates. Returns the status given
// to NSApplication::terminate (0 by default), or 1 when the main interface
// cannot be loaded (the reason goes to standard error).
int NSApplicationMain(int argc, const char* argv[]);
