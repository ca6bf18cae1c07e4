#include "backends/pulse/PulseCaptureBackend.h"

#include "tests/backends/pulse/PulseBackendFixture.h"

namespace harkwell::pulse_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Every call answers within its 3 s deadline plus scheduling slack.
constexpr auto deadlineSlack = 4500ms;

// At stake: a failing device or a dying, frozen or reconfigured server never
// crashes or hangs the host, never records another device in silence, and is
// reported exactly once as "stopped with an error".
class PulseBackendFaultTest : public PulseBackendFixture {};

TEST_F(PulseBackendFaultTest, UnloadingTheCapturedSinkReportsOneErrorAndStops) {
  DisplayCapture capture;
  ASSERT_FALSE(startDisplay(capture, speakersId()));
  ASSERT_TRUE(capture.collector->waitForFrames(960, 3s));
  const int module = server_->moduleOf("test_speakers");
  ASSERT_GE(module, 0);
  server_->shell("pactl unload-module " + std::to_string(module));
  auto stop = capture.firstStop->get_future();
  ASSERT_EQ(stop.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(stop.get().code(), static_cast<int64_t>(CaptureErrorCode::stoppedUnexpectedly));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(capture.stoppedCount->load(), 1);
}

TEST_F(PulseBackendFaultTest, UnloadingTheMicrophoneStopsItsSession) {
  auto capture = backend_->openMicrophone("test_mic");
  auto collector = std::make_shared<BufferCollector>();
  capture->setOutput({}, queue_, [collector](CMSampleBufferRef b) { collector->add(b); });
  ASSERT_FALSE(capture->startRunning());
  ASSERT_TRUE(collector->waitForFrames(960, 3s));
  server_->shell("pactl unload-module " + std::to_string(server_->moduleOf("test_mic")));
  const auto until = Clock::now() + 3s;
  while (capture->isRunning() && Clock::now() < until) std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(capture->isRunning());
}

TEST_F(PulseBackendFaultTest, KillingTheServerStopsTheCaptureAndARestartRecovers) {
  DisplayCapture capture;
  ASSERT_FALSE(startDisplay(capture, speakersId()));
  ASSERT_TRUE(capture.collector->waitForFrames(960, 3s));
  auto stop = capture.firstStop->get_future();
  const auto killedAt = Clock::now();
  ASSERT_TRUE(server_->signal(SIGKILL));
  ASSERT_EQ(stop.wait_for(3s), std::future_status::ready);
  const auto reported =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killedAt);
  RecordProperty("kill_to_stopped_ms", static_cast<int>(reported.count()));
  std::printf("kill -> stopped reported in %lld ms\n", static_cast<long long>(reported.count()));
  EXPECT_EQ(capture.stoppedCount->load(), 1);

  // Listing answers, empty, within the deadline while nothing listens.
  const auto listAt = Clock::now();
  EXPECT_TRUE(backend_->microphones(microphoneType).empty());
  EXPECT_LT(Clock::now() - listAt, deadlineSlack);
  EXPECT_EQ(backend_->microphoneAuthorizationStatus(), CaptureAuthorizationStatus::restricted);

  ASSERT_TRUE(server_->restart());
  DisplayCapture again;
  const auto error = startDisplay(again, speakersId());
  ASSERT_FALSE(error) << error->debugDescription();
  EXPECT_TRUE(again.collector->waitForFrames(960, 3s));
  EXPECT_EQ(capture.stoppedCount->load(), 1);
}

TEST_F(PulseBackendFaultTest, AFrozenServerCostsEachCallItsDeadlineAndTripsTheWatchdog) {
  DisplayCapture running;
  ASSERT_FALSE(startDisplay(running, speakersId()));
  ASSERT_TRUE(running.collector->waitForFrames(960, 3s));
  auto watchdog = running.firstStop->get_future();
  ASSERT_TRUE(server_->signal(SIGSTOP));

  auto at = Clock::now();
  EXPECT_TRUE(backend_->microphones(microphoneType).empty());
  EXPECT_LT(Clock::now() - at, deadlineSlack);

  at = Clock::now();
  ShareableContentAnswer answer;
  backend_->getShareableContent([&](ShareableContentAnswer a) { answer = std::move(a); });
  EXPECT_TRUE(answer.error);
  EXPECT_LT(Clock::now() - at, deadlineSlack);

  at = Clock::now();
  backend_->microphoneAuthorizationStatus();
  EXPECT_LT(Clock::now() - at, deadlineSlack);

  at = Clock::now();
  DisplayCapture starting;
  EXPECT_TRUE(startDisplay(starting, speakersId()));
  EXPECT_LT(Clock::now() - at, deadlineSlack);

  // The capture that ran before the freeze got no error from the server; the
  // no-data watchdog reports it (2 s of silence after data).
  ASSERT_EQ(watchdog.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(running.stoppedCount->load(), 1);
  server_->signal(SIGCONT);
}

TEST_F(PulseBackendFaultTest, ChangingTheDefaultSourceDoesNotMoveAPinnedCapture) {
  const std::string tone =
      server_->fixture("tone-1k.wav", "sox -n -r 48000 -c 2 -b 16 {} synth 1.0 sine 1000 vol 0.5");
  auto capture = backend_->openMicrophone("test_mic");
  auto collector = std::make_shared<BufferCollector>();
  capture->setOutput({}, queue_, [collector](CMSampleBufferRef b) { collector->add(b); });
  ASSERT_FALSE(capture->startRunning());
  ASSERT_TRUE(collector->waitForFrames(960, 3s));
  server_->shell("pactl set-default-source test_speakers.monitor");
  std::this_thread::sleep_for(100ms);
  { PulsePlayer player(*server_, "test_speakers", tone); }
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(capture->isRunning());
  capture->stopRunning();
  EXPECT_LT(peak(collector->channels()[0]), 0.01) << "the microphone capture followed the default";
}

}  // namespace
}  // namespace harkwell::pulse_test
