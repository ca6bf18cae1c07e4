#pragma once

#include <memory>
#include <string_view>
#include <thread>

#include "audio/capture/HostLog.h"
#include "audio/service/BridgeApi.h"
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeHostApiSetup.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/support/SimulatedTestBackend.h"
#include "tests/support/UiDriver.h"

namespace harkwell::testing {

// The whole host as the main window wires it (engine, event sender, BridgeApi
// behind the host channels) on `backend`, with the main run loop on a thread of
// its own (the main thread for the harness's lifetime) so that UI threads can
// call it concurrently, and a UI driver that keeps no audio. The host log goes nowhere. Torn down
// on the main thread, where its captures were made. Thread affinity: built and destroyed on the
// test's thread.
class HostOnMainLoop {
 public:
  explicit HostOnMainLoop(std::shared_ptr<SimulatedTestBackend> backend)
      : backend_(std::move(backend)),
        engine_(std::make_unique<FlutterEngine>()),
        flutterApi_(std::make_shared<BridgeFlutterApi>(engine_->binaryMessenger())),
        ui_(std::make_unique<UiDriver>(engine_->uiSide(), MainLoopMode::runsElsewhere)),
        mainLoop_([] {
          MainRunLoop::ScopedTestMainThread thisIsMain;
          MainRunLoop::shared().run();
        }) {
    CaptureBackend::setCurrent(backend_);
    ui_->setKeepsAudioData(false);
    api_ = BridgeApi::create(flutterApi_);
    BridgeHostApiSetup::setUp(engine_->binaryMessenger(), api_);
  }

  ~HostOnMainLoop() {
    DispatchQueue::main().sync([this] {
      BridgeHostApiSetup::setUp(engine_->binaryMessenger(), nullptr);
      api_.reset();
    });
    ui_->settle();
    MainRunLoop::shared().stop();
    mainLoop_.join();
    flutterApi_.reset();
    ui_.reset();
    engine_.reset();
    CaptureBackend::setCurrent(nullptr);
  }

  HostOnMainLoop(const HostOnMainLoop&) = delete;
  HostOnMainLoop& operator=(const HostOnMainLoop&) = delete;

 protected:
  std::shared_ptr<SimulatedTestBackend> backend_;
  std::unique_ptr<FlutterEngine> engine_;
  std::shared_ptr<BridgeFlutterApi> flutterApi_;
  std::unique_ptr<UiDriver> ui_;
  std::shared_ptr<BridgeApi> api_;
  ScopedHostLogSink quietLog_{[](std::string_view) {}};
  std::thread mainLoop_;
};

}  // namespace harkwell::testing
