#pragma once

#include <functional>
#include <memory>

#include "platform/flutter/FlutterBinaryMessenger.h"
#include "platform/flutter/FlutterUiSide.h"

class FlutterMessageRouter;

// A UI program: started once on the UI thread when its engine starts. It sets
// up its handlers and first sends and returns; later work arrives as handler
// calls, reply callbacks and work posted to the UI side.
using FlutterUiProgram = std::function<void(FlutterUiSide& ui)>;

// The UI engine: a host-side messenger, and a UI side on a thread of its own
// ("flutter-ui") that runs a UI program. See FlutterBinaryMessenger and
// FlutterUiSide for where messages and replies are delivered.
// Destruction closes both sides: messages and replies still in flight are
// dropped (their callbacks destroyed uncalled), callbacks running on other
// threads are waited for, and nothing of the engine runs after the destructor
// returns. Reply functions handed out earlier stay safe to call; they do nothing.
// Thread affinity: construct and destroy on any thread but the engine's UI
// thread (normally the main thread); the messengers from any thread.
class FlutterEngine {
 public:
  // An engine whose UI side is idle until driven through uiSide(). Any thread.
  FlutterEngine();

  // Starts `program` on the UI thread. The engine keeps the program, and what
  // it captures, until it is destroyed. Any thread.
  explicit FlutterEngine(FlutterUiProgram program);

  ~FlutterEngine();

  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  // The host's messenger; usable at once. Any thread.
  FlutterBinaryMessenger& binaryMessenger() { return *hostMessenger_; }

  // The UI end of the channels. Any thread.
  FlutterUiSide& uiSide() { return *uiSide_; }

  // The UI program that engines made by a FlutterViewController run; empty for
  // an idle UI. Set by the application before it starts. Any thread.
  static void setDefaultUiProgram(FlutterUiProgram program);
  static FlutterUiProgram defaultUiProgram();

 private:
  FlutterUiProgram program_;
  std::shared_ptr<FlutterMessageRouter> router_;
  std::unique_ptr<FlutterBinaryMessenger> hostMessenger_;
  std::unique_ptr<FlutterUiSide> uiSide_;
};
