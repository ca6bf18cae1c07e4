#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <optional>

#include "backends/pulse/PulseCaptureBackend.h"
#include "backends/pulse/PulseDeviceList.h"
#include "platform/dispatch/BackgroundTasks.h"
#include "platform/dispatch/DispatchQueue.h"
#include "tests/backends/pulse/PulseTestServer.h"

namespace harkwell::pulse_test {

inline constexpr auto completionTimeout = std::chrono::seconds(6);
inline const std::string microphoneType = "AVCaptureDeviceTypeMicrophone";

// A display stream with its collector and what its handlers saw.
struct DisplayCapture {
  std::shared_ptr<BufferCollector> collector = std::make_shared<BufferCollector>();
  std::shared_ptr<std::atomic<int>> stoppedCount = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<std::promise<NSError>> firstStop = std::make_shared<std::promise<NSError>>();
  std::unique_ptr<DisplayStream> stream;
};

// A backend on the private server of this run. Every test leaves the server
// as it found it: resumed, its devices loaded and the defaults reset.
class PulseBackendFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = PulseTestServer::fromEnvironment();
    if (!server_) {
      GTEST_SKIP() << "no private sound server: run scripts/test, or export the lines of "
                      "`scripts/pulse-test-server start pulseaudio`";
    }
    backend_ = PulseCaptureBackend::create();
    ASSERT_NE(backend_, nullptr) << "the private " << server_->kind() << " server does not answer";
    queue_ = DispatchQueue::makeSerial("pulse-test");
  }

  void TearDown() override {
    if (!server_) return;
    server_->signal(SIGCONT);
    // The backend goes first: its streams and context belong to this server.
    backend_.reset();
    BackgroundTasks::waitIdle();
    if (!server_->reset()) server_->restart();
  }

  uint32_t speakersId() const { return displayIdForSinkName("test_speakers"); }

  // Opens a display stream and waits for its start; the error, if any.
  std::optional<NSError> startDisplay(DisplayCapture& capture, uint32_t displayID) {
    capture.stream = backend_->openDisplayStream(
        displayID, DisplayStreamSettings{true, 0},
        [count = capture.stoppedCount, first = capture.firstStop](NSError error) {
          if (count->fetch_add(1) == 0) first->set_value(error);
        });
    capture.stream->addOutput(
        DisplayOutputKind::audio, queue_,
        [collector = capture.collector](CMSampleBufferRef buffer) { collector->add(buffer); });
    return await([&](CaptureCompletion done) { capture.stream->startCapture(std::move(done)); });
  }

  // Runs `call` with a completion and waits for it (bounded).
  template <class Call>
  std::optional<NSError> await(Call call) {
    auto promise = std::make_shared<std::promise<std::optional<NSError>>>();
    auto answer = promise->get_future();
    call([promise](std::optional<NSError> error) { promise->set_value(std::move(error)); });
    if (answer.wait_for(completionTimeout) != std::future_status::ready) {
      ADD_FAILURE() << "no completion within " << completionTimeout.count() << " s";
      return makeCaptureError(CaptureErrorCode::startFailed, "timeout");
    }
    return answer.get();
  }

  std::optional<PulseTestServer> server_;
  std::shared_ptr<PulseCaptureBackend> backend_;
  std::shared_ptr<DispatchQueue> queue_;
};

}  // namespace harkwell::pulse_test
