#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

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

// How a capture ends without an unlisten, and the reason its deviceStop carries.
struct EndByItself {
  const char* name;
  AudioDeviceType type;
  std::function<void(SimulatedTestBackend&)> before;  // before the listen
  std::function<void(SimulatedTestBackend&)> after;   // once it runs
  const char* reason;
};

class BridgeApiEndByItselfTest : public BridgeApiRegistryTest,
                                 public ::testing::WithParamInterface<EndByItself> {};

// At stake: every end is told once, as a deviceStop with the reason; the entry
// is stopped, so a fresh listen starts anew and an unlisten stops it as usual.
// A listen while capturing changes nothing.
TEST_P(BridgeApiEndByItselfTest, TellsTheEndOnceAndAFreshListenStartsAnew) {
  const EndByItself& end = GetParam();
  const AudioDevice device =
      end.type == AudioDeviceType::input ? microphone("mic-1") : display("1");
  const std::string start = UiDriver::describe(NativeAudioEvent{
      device.id, end.type, NativeAudioEventType::deviceStart, std::nullopt, std::nullopt});
  const std::string stop = UiDriver::describe(NativeAudioEvent{
      device.id, end.type, NativeAudioEventType::deviceStop, std::nullopt, std::nullopt});
  const std::string ended = UiDriver::describe(NativeAudioEvent{
      device.id, end.type, NativeAudioEventType::deviceStop, std::nullopt, end.reason});
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
  EXPECT_EQ(backend().runningMicrophoneCount() + backend().runningStreamCount(), 0u);

  expectNullSuccess(ui().listen(device));
  ASSERT_TRUE(ui().waitForDeviceEvents(3));
  EXPECT_EQ(backend().runningMicrophoneCount() + backend().runningStreamCount(), 1u);
  expectNullSuccess(ui().unlisten(device));
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre(start, ended, start, stop));
  EXPECT_EQ(backend().runningMicrophoneCount() + backend().runningStreamCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, BridgeApiEndByItselfTest,
    ::testing::Values(EndByItself{"MicrophoneInterrupted", AudioDeviceType::input, nullptr,
                                  [](SimulatedTestBackend& b) {
                                    b.stopMicrophoneCaptures("mic-1");
                                  },
                                  "The microphone stopped"},
                      EndByItself{"StreamError", AudioDeviceType::output, nullptr,
                                  [](SimulatedTestBackend& b) {
                                    b.stopStreamsWithError(
                                        1, makeCaptureError(CaptureErrorCode::stoppedUnexpectedly,
                                                            "The stream broke"));
                                  },
                                  "The stream broke"},
                      EndByItself{"StartRefusedAfterDeviceStart", AudioDeviceType::output,
                                  [](SimulatedTestBackend& b) {
                                    b.failNextStreamStart(
                                        makeCaptureError(CaptureErrorCode::startFailed, "Not now"));
                                  },
                                  nullptr, "Not now"}),
    [](const auto& info) { return std::string(info.param.name); });

// At stake: an unlisten while a display listen waits for the display list
// cancels that start: the UI hears nothing of it, nothing is opened, and a later
// listen starts a fresh capture. A second listen while the first waits does
// not start a second capture.
TEST_F(BridgeApiRegistryTest, AnUnlistenCancelsAPendingDisplayStart) {
  backend().setShareableContentPending(true);
  expectNullSuccess(ui().listen(display("1")));
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitUntil([&] { return backend().shareableContentQueryCount() == 1; }));
  expectNullSuccess(ui().unlisten(display("1")));
  backend().answerShareableContent();
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_EQ(backend().openStreamCount(), 0u);
  EXPECT_EQ(backend().deliverToDisplay(1, DisplayOutputKind::audio, buffer16k({0.5f})), 0u);

  backend().setShareableContentPending(false);
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitForDeviceEvents(1));
  EXPECT_EQ(backend().deliverToDisplay(1, DisplayOutputKind::audio, buffer16k({0.5f})), 1u);
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1"));
  EXPECT_EQ(ui().audioTally("1").events, 1u);
  EXPECT_EQ(backend().openStreamCount(), 1u);
}

// At stake: a stop the platform refuses still ends the capture: after
// deviceStop no audio arrives and no stream runs.
TEST_F(BridgeApiRegistryTest, ARefusedStreamStopStillEndsTheCapture) {
  expectNullSuccess(ui().listen(display("1")));
  ASSERT_TRUE(ui().waitForDeviceEvents(1));
  backend().failNextStreamStop(makeCaptureError(CaptureErrorCode::stopFailed, "busy"));
  expectNullSuccess(ui().unlisten(display("1")));
  EXPECT_EQ(backend().deliverToDisplay(1, DisplayOutputKind::audio, buffer16k({0.5f})), 0u);
  ASSERT_TRUE(ui().settle());
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1", "deviceStop output 1"));
  EXPECT_EQ(backend().runningStreamCount(), 0u);
  EXPECT_THAT(logLines(), ElementsAre("stream start", "stream stop"));
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

// At stake: an output listen finds a display only by its plain decimal id,
// and otherwise replies success and does nothing at all.
class BridgeApiOutputNotFoundTest : public BridgeApiRegistryTest,
                                    public ::testing::WithParamInterface<const char*> {};

TEST_P(BridgeApiOutputNotFoundTest, RepliesSuccessAndDoesNothing) {
  expectNullSuccess(ui().listen(display(GetParam())));
  ASSERT_TRUE(ui().settle());

  EXPECT_THAT(ui().deviceEventTexts(), IsEmpty());
  EXPECT_THAT(logLines(), IsEmpty());
  EXPECT_EQ(backend().openStreamCount() + backend().openMicrophoneCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Ids, BridgeApiOutputNotFoundTest,
                         ::testing::Values("9", "01", "+1", "mic-1"));

// At stake: deviceStop carries the type of the unlisten request, even when it
// differs from the kind of capture registered under the id.
class BridgeApiDeviceStopTypeTest
    : public BridgeApiRegistryTest,
      public ::testing::WithParamInterface<std::tuple<AudioDeviceType, AudioDeviceType>> {};

TEST_P(BridgeApiDeviceStopTypeTest, DeviceStopCarriesTheRequestedType) {
  const auto [listenedAs, unlistenedAs] = GetParam();
  const std::string id = listenedAs == AudioDeviceType::input ? "mic-1" : "1";
  expectNullSuccess(ui().listen(AudioDevice{"Source", listenedAs, id, false}));
  ASSERT_TRUE(ui().waitForDeviceEvents(1));
  ASSERT_TRUE(ui().settle());

  expectNullSuccess(ui().unlisten(AudioDevice{"Source", unlistenedAs, id, false}));

  const auto events = ui().deviceEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1], (NativeAudioEvent{id, unlistenedAs, NativeAudioEventType::deviceStop,
                                         std::nullopt, std::nullopt}));
  // Whatever the type said, the registered capture is the one stopped.
  EXPECT_EQ(backend().runningMicrophoneCount() + backend().runningStreamCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Types, BridgeApiDeviceStopTypeTest,
    ::testing::Combine(::testing::Values(AudioDeviceType::input, AudioDeviceType::output),
                       ::testing::Values(AudioDeviceType::input, AudioDeviceType::output)));

}  // namespace
}  // namespace harkwell::test
