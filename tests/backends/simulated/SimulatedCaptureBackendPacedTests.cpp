#include "tests/support/SimulatedTestBackend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/dispatch/DispatchQueue.h"

namespace harkwell {
namespace {

using namespace std::chrono_literals;

// The buffers a handler received: added on the delivery queue, read by the test.
class Received {
 public:
  void add(CMSampleBufferRef buffer) {
    std::lock_guard lock(mutex_);
    buffers_.push_back(std::move(buffer));
  }
  std::vector<CMSampleBufferRef> all() const {
    std::lock_guard lock(mutex_);
    return buffers_;
  }
  // Polls until `count` buffers arrived; false after ten seconds.
  bool waitFor(std::size_t count) const {
    for (const auto until = std::chrono::steady_clock::now() + 10s; all().size() < count;) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<CMSampleBufferRef> buffers_;
};

// A capture of a paced device: a microphone, or the display with its audio
// and screen outputs. The handlers hold raw pointers, so that a delivery after
// the capture is gone reads freed memory, which the sanitizers catch.
struct PacedRun {
  PacedRun(SimulatedTestBackend& backend, const char* microphoneID) {
    if (microphoneID) {
      microphone = backend.openMicrophone(microphoneID);
      microphone->setOutput({}, queue, [this](CMSampleBufferRef b) { audio.add(b); });
      EXPECT_FALSE(microphone->startRunning());
      return;
    }
    display = backend.openDisplayStream(SimulatedTestBackend::kDisplayID,
                                        DisplayStreamSettings{true, 1.0 / 30}, [](NSError) {});
    display->addOutput(DisplayOutputKind::audio, queue,
                       [this](CMSampleBufferRef b) { audio.add(b); });
    display->addOutput(DisplayOutputKind::screen, DispatchQueue::makeSerial("stream-video-t"),
                       [this](CMSampleBufferRef b) { screen.add(b); });
    display->startCapture([](std::optional<NSError> error) { EXPECT_FALSE(error); });
  }
  std::shared_ptr<DispatchQueue> queue = DispatchQueue::makeSerial("audio-t");
  Received audio, screen;  // declared before the captures, so they outlive them
  std::unique_ptr<MicrophoneCapture> microphone;
  std::unique_ptr<DisplayStream> display;
};

// At stake: once stop or destruction returns, the pacer's thread must not reach
// the consumer (which may be gone) even with buffers already queued.
TEST(PacedBackendStopTest, NoBufferArrivesAfterStopReturns) {
  auto backend = SimulatedTestBackend::makePaced();
  PacedRun run(*backend, SimulatedTestBackend::kMicrophoneID);
  ASSERT_TRUE(run.audio.waitFor(2));
  run.microphone->stopRunning();
  const auto atStop = run.audio.all().size();
  run.queue->sync([] {});  // lets anything still queued run into the closed gate
  // Several buffer periods: the pacer would have produced more by now.
  std::this_thread::sleep_for(60ms);
  run.queue->sync([] {});
  EXPECT_EQ(run.audio.all().size(), atStop);
  EXPECT_EQ(backend->runningMicrophoneCount(), 0u);
}

TEST(PacedBackendStopTest, CapturesDestroyedWhileBuffersFlowLeaveNothingBehind) {
  auto backend = SimulatedTestBackend::makePaced();
  // Bounded stress for the sanitizers: tear down while the pacer posts.
  for (int i = 0; i < 10; ++i) {
    auto microphone = std::make_unique<PacedRun>(
        *backend, i % 2 ? SimulatedTestBackend::kHeadsetID : SimulatedTestBackend::kMicrophoneID);
    auto display = std::make_unique<PacedRun>(*backend, nullptr);
    ASSERT_TRUE(microphone->audio.waitFor(1) && display->audio.waitFor(1));
    display.reset();
    microphone.reset();
  }
  EXPECT_EQ(backend->openMicrophoneCount(), 0u);
  EXPECT_EQ(backend->openStreamCount(), 0u);
}

}  // namespace
}  // namespace harkwell
