#include "backends/pulse/PulseCaptureBackend.h"

#include <gmock/gmock.h>

#include <functional>

#include "audio/service/BridgeApi.h"
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeHostApiSetup.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/backends/pulse/PulseBackendFixture.h"
#include "tests/support/UiDriver.h"

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

// The whole host on the pulse backend, seen from the UI side through bytes;
// the test thread is the main thread.
class PulseHostFaultTest : public PulseBackendFixture,
                           public ::testing::WithParamInterface<
                               std::pair<const char*, std::function<void(PulseTestServer&)>>> {
 protected:
  void SetUp() override {
    PulseBackendFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    CaptureBackend::setCurrent(backend_);
    engine_ = std::make_unique<FlutterEngine>();
    ui_ = std::make_unique<testing::UiDriver>(engine_->uiSide());
    ui_->setKeepsAudioData(false);
    BridgeHostApiSetup::setUp(
        engine_->binaryMessenger(),
        BridgeApi::create(std::make_shared<BridgeFlutterApi>(engine_->binaryMessenger())));
  }
  void TearDown() override {
    if (engine_) {
      BridgeHostApiSetup::setUp(engine_->binaryMessenger(), nullptr);
      ui_->settle();
      ui_.reset();
      engine_.reset();
      MainRunLoop::shared().drain();
      CaptureBackend::setCurrent(nullptr);
    }
    PulseBackendFixture::TearDown();
  }

  std::unique_ptr<FlutterEngine> engine_;
  std::unique_ptr<testing::UiDriver> ui_;
};

// At stake: a device that goes away or a sound server that dies ends each
// capture with exactly one deviceStop that says why, within a second.
TEST_P(PulseHostFaultTest, EachCaptureGetsOneDeviceStopWithTheReason) {
  const AudioDevice display{"Speakers", AudioDeviceType::output, std::to_string(speakersId()),
                            false};
  const AudioDevice microphone{"Microphone", AudioDeviceType::input, "test_mic", false};
  ASSERT_TRUE(ui_->listen(display).reply().isSuccess());
  ASSERT_TRUE(ui_->listen(microphone).reply().isSuccess());
  ASSERT_TRUE(ui_->waitForDeviceEvents(2));
  ASSERT_TRUE(ui_->waitForAudio(display.id, 1) && ui_->waitForAudio(microphone.id, 1));

  GetParam().second(*server_);
  EXPECT_TRUE(ui_->waitForDeviceEvents(4, 1000ms));
  std::this_thread::sleep_for(300ms);  // room for a second report, which must not come
  ASSERT_TRUE(ui_->settle());
  const auto events = ui_->deviceEvents();
  ASSERT_EQ(events.size(), 4u);
  for (const NativeAudioEvent& event : {events[2], events[3]}) {
    EXPECT_EQ(event.eventType, NativeAudioEventType::deviceStop);
    EXPECT_TRUE(event.error && !event.error->empty()) << event.id;
  }
  EXPECT_NE(events[2].id, events[3].id);
}

INSTANTIATE_TEST_SUITE_P(Faults, PulseHostFaultTest,
                         ::testing::Values(std::make_pair("DevicesUnloaded",
                                                          [](PulseTestServer& server) {
                                                            server.unload("test_speakers");
                                                            server.unload("test_mic");
                                                          }),
                                           std::make_pair("ServerKilled",
                                                          [](PulseTestServer& server) {
                                                            server.signal(SIGKILL);
                                                          })),
                         [](const auto& info) { return std::string(info.param.first); });

}  // namespace
}  // namespace harkwell::pulse_test
