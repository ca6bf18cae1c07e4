#pragma once

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/capture/CaptureBackend.h"
#include "tests/support/CaptureTestHelpers.h"
#include "tests/support/MessagingTestSupport.h"

namespace harkwell::contract {

using namespace std::chrono_literals;

// A backend under the contract, with the means to take its devices (and its
// server, where it has one) away. Each test binary defines makeTarget(); the
// target's destructor puts back whatever a test took away.
struct Target {
  virtual ~Target() = default;
  std::shared_ptr<CaptureBackend> backend;
  std::string microphoneID;
  std::uint32_t displayID = 0;
  double shortestBufferSeconds = 0;  // the least audio one microphone buffer holds
  virtual void removeDevices() = 0;  // the microphone and the display
  // Kills the sound server; false for a backend without one.
  virtual bool killServer() { return false; }
};
// Null skips the suite (no server to run against).
std::unique_ptr<Target> makeTarget();

// Delivered buffers: per-channel samples, the last stream description and the
// shortest buffer. Written on the delivery queue, read by the test thread.
class Collector {
 public:
  struct Seen {
    size_t buffers = 0, shortest = SIZE_MAX;
    std::vector<std::vector<double>> channels;
    std::optional<AudioStreamBasicDescription> asbd;
  };
  void add(const CMSampleBufferRef& buffer) {
    auto decoded = testing::decodeChannels(buffer);
    const auto asbd = *CMAudioFormatDescriptionGetStreamBasicDescription(
        CMSampleBufferGetFormatDescription(buffer));
    const auto frames = static_cast<size_t>(CMSampleBufferGetNumSamples(buffer));
    seen_.with([&](Seen& seen) {
      ++seen.buffers;
      seen.asbd = asbd;
      seen.shortest = std::min(seen.shortest, frames);
      seen.channels.resize(std::max(seen.channels.size(), decoded.size()));
      for (size_t c = 0; c < decoded.size(); ++c)
        seen.channels[c].insert(seen.channels[c].end(), decoded[c].begin(), decoded[c].end());
    });
  }
  // Waits until `frames` frames arrived in all; false at the timeout.
  bool waitForFrames(size_t frames) {
    return test::pollUntil(
        [&] {
          return seen_.with([&](Seen& seen) {
            return !seen.channels.empty() && seen.channels[0].size() >= frames;
          });
        },
        3s, test::sleepBriefly);
  }
  Seen seen() {
    return seen_.with([](Seen& seen) { return seen; });
  }
  size_t buffers() { return seen().buffers; }

 private:
  test::Guarded<Seen> seen_;
};

// Counts a capture's stopped reports. Outlives the capture.
struct StopReports {
  std::atomic<int> count{0};
  StreamStoppedHandler handler() {
    return [this](NSError) { ++count; };
  }
  // Waits (bounded) for the first report.
  bool awaitFirst() {
    return test::pollUntil([this] { return count > 0; }, 5s, test::sleepBriefly);
  }
};

// Runs a test against makeTarget()'s backend; the helpers start captures
// whose buffers go to a Collector and whose end reports go to StopReports.
class ContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!(target_ = makeTarget())) GTEST_SKIP() << "no private sound server: run scripts/test";
  }
  std::unique_ptr<MicrophoneCapture> startMicrophone(Collector& collector, StopReports& stops) {
    auto capture = target_->backend->openMicrophone(target_->microphoneID);
    capture->setOutput({}, queue_, [&collector](CMSampleBufferRef b) { collector.add(b); });
    capture->setStoppedHandler(stops.handler());
    EXPECT_FALSE(capture->startRunning());
    return capture;
  }
  // The stream and what its start answered.
  std::pair<std::unique_ptr<DisplayStream>, std::optional<NSError>> startDisplay(
      Collector& collector, StopReports& stops, std::uint32_t displayID) {
    auto stream = target_->backend->openDisplayStream(displayID, {true, 0}, stops.handler());
    stream->addOutput(DisplayOutputKind::audio, queue_,
                      [&collector](CMSampleBufferRef b) { collector.add(b); });
    auto error = await([&](CaptureCompletion done) { stream->startCapture(std::move(done)); });
    return {std::move(stream), std::move(error)};
  }
  // Runs `call` with a completion and waits for it (bounded).
  std::optional<NSError> await(const std::function<void(CaptureCompletion)>& call) {
    auto answer = std::make_shared<std::promise<std::optional<NSError>>>();
    auto future = answer->get_future();
    call([answer](std::optional<NSError> error) { answer->set_value(std::move(error)); });
    if (future.wait_for(6s) == std::future_status::ready) return future.get();
    return makeCaptureError(CaptureErrorCode::startFailed, "no completion within 6 s");
  }
  // Runs what the delivery queue holds, then waits a few buffer periods, and again.
  void drain() {
    queue_->sync([] {});
    std::this_thread::sleep_for(100ms);
    queue_->sync([] {});
  }

  std::unique_ptr<Target> target_;
  std::shared_ptr<DispatchQueue> queue_ = DispatchQueue::makeSerial("contract");
};

// What a backend that cannot capture (none chosen yet, or no sound server)
// owes the stand-ins: every operation answers, once, with nothing or an error;
// no caller waits for a completion that never comes.
inline void expectRefusesEverything(CaptureBackend& backend) {
  EXPECT_TRUE(backend.microphones("AVCaptureDeviceTypeMicrophone").empty());
  EXPECT_EQ(backend.microphoneAuthorizationStatus(), CaptureAuthorizationStatus::restricted);
  std::vector<bool> granted;
  backend.requestMicrophoneAccess([&](bool g) { granted.push_back(g); });
  EXPECT_EQ(granted, std::vector<bool>{false});
  EXPECT_THROW(backend.openMicrophone("test_mic"), NSError);
  std::vector<ShareableContentAnswer> answers;
  backend.getShareableContent([&](ShareableContentAnswer a) { answers.push_back(a); });
  EXPECT_TRUE(answers.size() == 1 && answers[0].error);

  // Two starts fail, the second stream destroyed before its start ran.
  auto calls = std::make_shared<std::atomic<int>>(0);
  const auto completion = [calls](std::optional<NSError> error) {
    EXPECT_TRUE(error);
    ++*calls;
  };
  auto kept = backend.openDisplayStream(1, DisplayStreamSettings{true, 0}, [](NSError) {});
  kept->startCapture(completion);
  backend.openDisplayStream(1, DisplayStreamSettings{true, 0}, [](NSError) {})
      ->startCapture(completion);
  for (int i = 0; i < 100 && *calls < 2; ++i) std::this_thread::sleep_for(50ms);
  std::this_thread::sleep_for(100ms);  // room for a second answer, which must not come
  EXPECT_EQ(calls->load(), 2);
}

}  // namespace harkwell::contract
