#include "backends/pulse/PulseCaptureBackend.h"

#include "tests/backends/pulse/PulseBackendFixture.h"

namespace harkwell::pulse_test {
namespace {

using Clock = std::chrono::steady_clock;

// Every call answers within its 3 s deadline plus scheduling slack.
constexpr auto deadlineSlack = 4500ms;

// At stake: a failing device or a dying or frozen server never crashes or
// hangs the host, and is reported exactly once as "stopped with an error".
class PulseBackendFaultTest : public PulseBackendFixture {};

TEST_F(PulseBackendFaultTest, UnloadingTheCapturedDevicesStopsThemWithOneError) {
  DisplayCapture display;
  ASSERT_FALSE(startDisplay(display, speakersId()));
  auto collector = std::make_shared<BufferCollector>();
  auto microphone = startMicrophone(collector);
  ASSERT_TRUE(display.collector->waitForFrames(960));
  ASSERT_TRUE(collector->waitForFrames(960));

  server_->unload("test_speakers");
  auto stop = display.firstStop->get_future();
  ASSERT_EQ(stop.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(stop.get().code(), static_cast<int64_t>(CaptureErrorCode::stoppedUnexpectedly));

  server_->unload("test_mic");
  const auto until = Clock::now() + 3s;
  while (microphone->isRunning() && Clock::now() < until) std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(microphone->isRunning());
  std::this_thread::sleep_for(300ms);  // room for a second report, which must not come
  EXPECT_EQ(display.stoppedCount->load(), 1);
}

TEST_F(PulseBackendFaultTest, KillingTheServerStopsTheCaptureAndARestartRecovers) {
  DisplayCapture capture;
  ASSERT_FALSE(startDisplay(capture, speakersId()));
  ASSERT_TRUE(capture.collector->waitForFrames(960));
  auto stop = capture.firstStop->get_future();
  const auto killedAt = Clock::now();
  ASSERT_TRUE(server_->signal(SIGKILL));
  ASSERT_EQ(stop.wait_for(3s), std::future_status::ready);
  const auto reported =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killedAt);
  RecordProperty("kill_to_stopped_ms", static_cast<int>(reported.count()));
  EXPECT_EQ(capture.stoppedCount->load(), 1);

  // Listing answers, empty, within the deadline while nothing listens.
  const auto listAt = Clock::now();
  EXPECT_TRUE(backend_->microphones(microphoneType).empty());
  EXPECT_LT(Clock::now() - listAt, deadlineSlack);
  EXPECT_EQ(backend_->microphoneAuthorizationStatus(), CaptureAuthorizationStatus::restricted);

  // The same backend object: it has to notice the old connection died.
  ASSERT_TRUE(server_->restart());
  DisplayCapture again;
  const auto error = startDisplay(again, speakersId());
  ASSERT_FALSE(error) << error->debugDescription();
  EXPECT_TRUE(again.collector->waitForFrames(960));
  EXPECT_EQ(capture.stoppedCount->load(), 1);
}

TEST_F(PulseBackendFaultTest, AFrozenServerCostsEachCallItsDeadlineAndTripsTheWatchdog) {
  DisplayCapture running;
  ASSERT_FALSE(startDisplay(running, speakersId()));
  ASSERT_TRUE(running.collector->waitForFrames(960));
  auto watchdog = running.firstStop->get_future();
  ASSERT_TRUE(server_->signal(SIGSTOP));

  const auto withinDeadline = [](auto call) {
    const auto at = Clock::now();
    call();
    EXPECT_LT(Clock::now() - at, deadlineSlack);
  };
  withinDeadline([&] { EXPECT_TRUE(backend_->microphones(microphoneType).empty()); });
  withinDeadline([&] {
    ShareableContentAnswer answer;
    backend_->getShareableContent([&](ShareableContentAnswer a) { answer = std::move(a); });
    EXPECT_TRUE(answer.error);
  });
  withinDeadline([&] { backend_->microphoneAuthorizationStatus(); });
  DisplayCapture starting;
  withinDeadline([&] { EXPECT_TRUE(startDisplay(starting, speakersId())); });

  // The capture that ran before the freeze got no error from the server; the
  // no-data watchdog reports it (2 s of silence after data).
  ASSERT_EQ(watchdog.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(running.stoppedCount->load(), 1);
  server_->signal(SIGCONT);
}

}  // namespace
}  // namespace harkwell::pulse_test
