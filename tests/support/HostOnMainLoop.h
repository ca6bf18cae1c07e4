#pragma once

#include <memory>
#include <thread>

#include "audio/service/BridgeApi.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/support/CaptureTestHelpers.h"
#include "tests/support/SimulatedTestBackend.h"
#include "tests/support/UiDriver.h"

namespace harkwell::testing {

// The whole host as the main window wires it (engine, event sender, BridgeApi
// behind the host channels) on `backend`, with a UI driver. With runsElsewhere
// the main loop runs on a thread of its own, so that UI threads can call in
// concurrently; otherwise the test's thread is the main thread and pumps while
// it waits. Log lines are recorded. Built and destroyed on the test's thread.
class HostOnMainLoop {
 public:
  explicit HostOnMainLoop(std::shared_ptr<SimulatedTestBackend> backend,
                          MainLoopMode mode = MainLoopMode::runsElsewhere)
      : backend_(std::move(backend)),
        engine_(std::make_unique<FlutterEngine>()),
        flutterApi_(std::make_shared<BridgeFlutterApi>(engine_->binaryMessenger())),
        ui_(std::make_unique<UiDriver>(engine_->uiSide(), mode)) {
    CaptureBackend::setCurrent(backend_);
    if (mode == MainLoopMode::runsElsewhere) {
      mainLoop_ = std::thread([] {
        MainRunLoop::ScopedTestMainThread thisIsMain;
        MainRunLoop::shared().run();
      });
    }
    api_ = BridgeApi::create(flutterApi_);
    BridgeHostApiSetup::setUp(engine_->binaryMessenger(), api_);
  }

  // Answers whatever is left pending, lets everything in flight finish and
  // takes the host down (on the main thread, where its captures were made)
  // before the engine it sends through.
  ~HostOnMainLoop() {
    backend_->releaseAll();
    ui_->settle();
    DispatchQueue::main().sync([this] {
      BridgeHostApiSetup::setUp(engine_->binaryMessenger(), nullptr);
      api_.reset();
    });
    ui_->settle();
    if (mainLoop_.joinable()) {
      MainRunLoop::shared().stop();
      mainLoop_.join();
    }
    flutterApi_.reset();
    ui_.reset();
    engine_.reset();
    MainRunLoop::shared().drain();
    CaptureBackend::setCurrent(nullptr);
  }

 protected:
  std::shared_ptr<SimulatedTestBackend> backend_;
  std::unique_ptr<FlutterEngine> engine_;
  std::shared_ptr<BridgeFlutterApi> flutterApi_;
  std::unique_ptr<UiDriver> ui_;
  std::shared_ptr<BridgeApi> api_;
  RecordedHostLog log_;
  std::thread mainLoop_;
};

}  // namespace harkwell::testing
