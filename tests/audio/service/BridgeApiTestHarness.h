#pragma once

#include <gtest/gtest.h>

#include "platform/appkit/NSWorkspace.h"
#include "tests/support/HostOnMainLoop.h"

namespace harkwell::test {

using harkwell::testing::RecordingFlutterApi;
using harkwell::testing::UiCall;
using harkwell::testing::UiDriver;
using harkwell::testing::UiReply;

inline AudioDevice microphone(std::string id, std::string name = "Desk Microphone") {
  return AudioDevice{std::move(name), AudioDeviceType::input, std::move(id), false};
}

inline AudioDevice display(std::string id, std::string name = "Display") {
  return AudioDevice{std::move(name), AudioDeviceType::output, std::move(id), false};
}

// The host over a manual simulated backend, the test's thread as the main
// thread (it pumps while it waits); capture queues and background tasks are
// real threads. Opens no links.
class BridgeApiTest : public ::testing::Test, protected harkwell::testing::HostOnMainLoop {
 protected:
  BridgeApiTest()
      : HostOnMainLoop(SimulatedTestBackend::makeManual(),
                       harkwell::testing::MainLoopMode::pumpWhileWaiting) {
    NSWorkspace::sharedWorkspace().setOpensLinks(false);
    NSWorkspace::sharedWorkspace().clearOpenedURLs();
  }
  ~BridgeApiTest() override {
    backend_->releaseAll();
    backend_->setAccessAnswer(SimulatedTestBackend::AccessAnswer::denied);
    backend_->answerAccessRequest(false);
    EXPECT_TRUE(ui_->settle()) << "something was still in flight at the end of the test";
  }

  SimulatedTestBackend& backend() { return *backend_; }
  UiDriver& ui() { return *ui_; }
  std::vector<std::string> logLines() const { return log_.lines(); }

  // [null] is the reply of every listen, unlisten and requestPermission.
  static void expectNullSuccess(const UiCall& call) {
    const UiReply reply = call.reply();
    ASSERT_TRUE(reply.isSuccess()) << reply.describe();
    EXPECT_TRUE(reply.result.isNull());
  }

  // 16 kHz mono reaches the UI sample for sample.
  static CMSampleBufferRef buffer16k(std::vector<float> samples) {
    return CMSampleBufferCreateWithFloat32Channels(16000, {std::move(samples)});
  }
};

}  // namespace harkwell::test
