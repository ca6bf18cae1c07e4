#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "tests/audio/service/BridgeApiTestHarness.h"

namespace harkwell::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class BridgeApiRegistryTest : public BridgeApiTest {
 protected:
  BridgeApiRegistryTest() {
    backend().addMicrophone({"mic-1", "Desk Microphone"});
    backend().addDisplay(1);
  }
};

NSError failure(CaptureErrorCode code, const char* text) {
  return makeCaptureError(code, text);
}

// At stake: every end is told once, as a deviceStop with the reason; the entry
// is stopped, so a fresh listen starts anew and an unlisten stops it as usual.
// A listen while capturing changes nothing.
TEST_F(BridgeApiRegistryTest, AnEndByItselfIsToldOnceAndAFreshListenStartsAnew) {
  using Act = std::function<void(SimulatedTestBackend&)>;
  const struct {
    bool input;
    Act before, after;  // before the listen; once it runs
    const char* reason;
  } ends[] = {
      {true, nullptr, [](auto& b) { b.stopMicrophoneCaptures("mic-1"); }, "The microphone stopped"},
      {false, nullptr,
       [](auto& b) {
         b.stopStreamsWithError(1, failure(CaptureErrorCode::stoppedUnexpectedly, "It broke"));
       },
       "It broke"},
      {false,
       [](auto& b) { b.failNextStreamStart(failure(CaptureErrorCode::startFailed, "Not now")); },
       nullptr, "Not now"},
  };
  for (const auto& end : ends) {
    SCOPED_TRACE(end.reason);
    ui().clearEvents();
    const AudioDevice device = end.input ? microphone("mic-1") : display("1");
    const std::string source = end.input ? " input mic-1" : " output 1";
    const std::string start = "deviceStart" + source, stop = "deviceStop" + source;
    const std::string ended = stop + " error=" + end.reason;
    auto running = [&] {
      return backend().runningMicrophoneCount() + backend().runningStreamCount();
    };
    if (end.before) end.before(backend());
    expectNullSuccess(ui().listen(device));
    ASSERT_TRUE(ui().waitForDeviceEvents(1));
    if (end.after) {
      expectNullSuccess(ui().listen(device));
      end.after(backend());
    }
    ASSERT_TRUE(ui().waitForDeviceEvents(2));
    ASSERT_TRUE(ui().settle());
    EXPECT_THAT(ui().deviceEventTexts(), ElementsAre(start, ended));
    EXPECT_EQ(running(), 0u);

    expectNullSuccess(ui().listen(device));
    ASSERT_TRUE(ui().waitForDeviceEvents(3));
    EXPECT_EQ(running(), 1u);
    expectNullSuccess(ui().unlisten(device));
    ASSERT_TRUE(ui().settle());
    EXPECT_THAT(ui().deviceEventTexts(), ElementsAre(start, ended, start, stop));
    EXPECT_EQ(running(), 0u);
    expectNullSuccess(ui().unlisten(device));  // removes the entry: the next case starts afresh
  }
}

// At stake: with the main thread busy, a display capture's audio never
// reaches the UI ahead of its deviceStart.
TEST_F(BridgeApiRegistryTest, AudioNeverOvertakesDeviceStartWhileTheMainThreadIsBusy) {
  std::atomic<bool> delivering{true};
  std::thread deliverer([&] {
    while (delivering) {
      backend().deliverToDisplay(1, DisplayOutputKind::audio, buffer16k({0.5f}));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  expectNullSuccess(ui().listen(display("1")));
  // Busy: the test thread, which is the main thread, does not pump for a while.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const bool audioArrived = ui().waitUntil([&] { return ui().audioTally("1").events > 0; });
  delivering = false;
  deliverer.join();
  ASSERT_TRUE(audioArrived);
  ASSERT_TRUE(ui().settle());
  const auto events = ui().events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0].eventType, NativeAudioEventType::deviceStart);
}

// At stake: the registry belongs to the main thread, and touching it from
// another thread stops the process in every build type.
TEST(BridgeApiThreadDeathTest, TouchingTheRegistryOffTheMainThreadAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto api = BridgeApi::create(std::make_shared<RecordingFlutterApi>());
  EXPECT_DEATH(std::thread([&] { api->unlisten(display("1")); }).join(), "off the main thread");
}

// At stake: an unlisten while a display listen waits for the display list
// cancels that start, and an output listen finds a display only by its plain
// decimal id: either way the reply is success, the UI hears nothing, nothing
// is opened or logged, and no entry is left that would swallow a later listen.
// A second listen while the first waits does not start a second capture.
TEST_F(BridgeApiRegistryTest, ACancelledOrUnknownDisplayListenDoesNothingAndLeavesNoEntry) {
  backend().setShareableContentPending(true);
  expectNullSuccess(ui().listen(display("1")));
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitUntil([&] { return backend().shareableContentQueryCount() == 1; }));
  expectNullSuccess(ui().unlisten(display("1")));
  backend().answerShareableContent();
  backend().setShareableContentPending(false);
  for (const char* id : {"9", "01", "+1", "mic-1"}) expectNullSuccess(ui().listen(display(id)));
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_THAT(logLines(), IsEmpty());
  EXPECT_EQ(backend().openStreamCount() + backend().openMicrophoneCount(), 0u);
  EXPECT_EQ(backend().deliverToDisplay(1, DisplayOutputKind::audio, buffer16k({0.5f})), 0u);

  backend().addDisplay(9);
  expectNullSuccess(ui().listen(display("1")));
  expectNullSuccess(ui().listen(display("9")));
  ASSERT_TRUE(ui().waitForDeviceEvents(2));
  EXPECT_EQ(backend().deliverToDisplay(1, DisplayOutputKind::audio, buffer16k({0.5f})), 1u);
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(ui().audioTally("1").events, 1u);
  EXPECT_EQ(backend().openStreamCount(), 2u);
}

// At stake: an unlisten stops the capture registered under the id, even when
// the platform refuses the stop: after deviceStop no audio arrives and nothing
// runs. deviceStop carries the type of the unlisten request, even when it
// differs from the kind of capture registered under the id. An end whose news
// reaches the main thread after the unlisten is not told a second time.
TEST_F(BridgeApiRegistryTest, AnUnlistenEndsTheCaptureOnceAndDeviceStopCarriesItsType) {
  expectNullSuccess(ui().listen(microphone("mic-1")));
  ASSERT_TRUE(ui().waitForDeviceEvents(1));
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitForDeviceEvents(2));
  backend().failNextStreamStop(failure(CaptureErrorCode::stopFailed, "busy"));
  backend().stopMicrophoneCaptures("mic-1");
  api_->unlisten(
      display("mic-1"));  // ahead of the end's news: the test's thread is the main thread
  expectNullSuccess(ui().unlisten(microphone("1")));
  EXPECT_EQ(backend().deliverToDisplay(1, DisplayOutputKind::audio, buffer16k({0.5f})), 0u);
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(),
              ElementsAre("deviceStart input mic-1", "deviceStart output 1",
                          "deviceStop output mic-1", "deviceStop input 1"));
  EXPECT_EQ(backend().runningMicrophoneCount() + backend().runningStreamCount(), 0u);
  EXPECT_THAT(logLines(), ElementsAre("stream start", "stream stop"));
}

}  // namespace
}  // namespace harkwell::test
