#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "audio/service/BridgeApi.h"
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeHostApiSetup.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/audio/capture/CaptureControllerTestSupport.h"
#include "tests/support/SimulatedTestBackend.h"
#include "tests/support/UiDriver.h"

namespace harkwell::test {

using harkwell::testing::UiCall;
using harkwell::testing::UiDriver;
using harkwell::testing::UiReply;

inline AudioDevice microphone(std::string id, std::string name = "Desk Microphone") {
  return AudioDevice{std::move(name), AudioDeviceType::input, std::move(id), false};
}

inline AudioDevice display(std::string id, std::string name = "Display") {
  return AudioDevice{std::move(name), AudioDeviceType::output, std::move(id), false};
}

// The host wired as the main window wires it, over a simulated backend in
// manual mode: a UI engine, one BridgeFlutterApi on its messenger, one
// BridgeApi behind the five host channels, and a recording UI side that speaks
// only bytes. The test thread is the main thread: it pumps the main loop while
// it waits. Capture queues and background tasks are real threads.
// Teardown answers whatever the test left pending, lets everything in flight
// finish, and takes the host down before the engine it sends through.
class BridgeApiTest : public ::testing::Test {
 protected:
  BridgeApiTest()
      : backend_(SimulatedTestBackend::makeManual()),
        engine_(std::make_unique<FlutterEngine>()),
        flutterApi_(std::make_shared<BridgeFlutterApi>(engine_->binaryMessenger())),
        ui_(std::make_unique<UiDriver>(engine_->uiSide())) {
    CaptureBackend::setCurrent(backend_);
    NSWorkspace::sharedWorkspace().setOpensLinks(false);
    NSWorkspace::sharedWorkspace().clearOpenedURLs();
    BridgeHostApiSetup::setUp(engine_->binaryMessenger(), BridgeApi::create(flutterApi_));
  }

  ~BridgeApiTest() override {
    backend_->setShareableContentPending(false);
    backend_->answerShareableContent();
    backend_->setAccessAnswer(SimulatedTestBackend::AccessAnswer::denied);
    backend_->answerAccessRequest(false);
    backend_->holdStreamStartCompletions(false);
    backend_->holdStreamStopCompletions(false);
    backend_->releaseStreamStartCompletions();
    backend_->releaseStreamStopCompletions();
    EXPECT_TRUE(ui_->settle()) << "something was still in flight at the end of the test";
    // The handlers hold the host; dropping them drops it and its captures.
    BridgeHostApiSetup::setUp(engine_->binaryMessenger(), nullptr);
    flutterApi_.reset();
    ui_.reset();
    engine_.reset();
    MainRunLoop::shared().drain();
    CaptureBackend::setCurrent(nullptr);
  }

  SimulatedTestBackend& backend() { return *backend_; }
  UiDriver& ui() { return *ui_; }
  std::vector<std::string> logLines() const { return log_.lines(); }

  // Sends `call`'s reply through and expects [null], the reply of every
  // listen, unlisten and requestPermission.
  static void expectNullSuccess(const UiCall& call) {
    const UiReply reply = call.reply();
    ASSERT_TRUE(reply.isSuccess()) << reply.describe();
    EXPECT_TRUE(reply.result.isNull());
  }

  // A 16 kHz mono buffer, which reaches the UI sample for sample.
  static CMSampleBufferRef buffer16k(std::vector<float> samples) {
    return CMSampleBufferCreateWithFloat32Channels(16000, {std::move(samples)});
  }

 private:
  RecordedHostLog log_;  // the fixed log lines, instead of standard output
  std::shared_ptr<SimulatedTestBackend> backend_;
  std::unique_ptr<FlutterEngine> engine_;
  std::shared_ptr<BridgeFlutterApi> flutterApi_;
  std::unique_ptr<UiDriver> ui_;
};

}  // namespace harkwell::test
