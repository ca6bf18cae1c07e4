#include "ui/ConsoleUi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeHostApiSetup.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/bridge/BridgeChannelTestSupport.h"

namespace harkwell {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

const AudioDevice kDesk{"Desk Microphone", AudioDeviceType::input, "desk", true};
// Its name tries to clear the screen: names come from outside.
const AudioDevice kHeadset{"Headset\x1b[2J", AudioDeviceType::input, "headset", false};
const AudioDevice kDisplay{"Display 1", AudioDeviceType::output, "1", true};

NativeAudioEvent deviceEvent(const AudioDevice& device, NativeAudioEventType type,
                             std::vector<double> samples = {}) {
  NativeAudioEvent event{device.id, device.type, type, std::nullopt, std::nullopt};
  if (type == NativeAudioEventType::deviceAudioData)
    event.audioData.emplace(samples.begin(), samples.end());
  return event;
}

// Runs a ConsoleUi on an engine's UI side against a FakeHostApi behind the
// real host channels, with a hand-driven clock and no ticker thread; the test
// thread is the main thread and pumps it.
class ConsoleUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "harkwell-ui-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    options_.wavPath = (directory_ / "capture.wav").string();
    output_ = std::fopen((directory_ / "printed.txt").c_str(), "w");
    // The default microphone is listed second, so that taking the first shows.
    api_->getDevicesDoes = [](AudioDeviceType type, GetDevicesCompletion completion) {
      completion(Result<std::vector<AudioDevice>>::success(
          type == AudioDeviceType::input ? std::vector<AudioDevice>{kHeadset, kDesk}
                                         : std::vector<AudioDevice>{kDisplay}));
    };
    // The host's side of a capture: start, then whatever audio the test queued.
    api_->listenDoes = [this](const AudioDevice& device) {
      send(deviceEvent(device, NativeAudioEventType::deviceStart));
      for (const auto& block : audioOnListen_) {
        send(deviceEvent(device, NativeAudioEventType::deviceAudioData, block));
      }
    };
    api_->unlistenDoes = [this](const AudioDevice& device) {
      if (confirmStop_) send(deviceEvent(device, NativeAudioEventType::deviceStop));
    };
    BridgeHostApiSetup::setUp(engine_.binaryMessenger(), api_);
  }

  void TearDown() override {
    if (output_ != nullptr) std::fclose(output_);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  void send(NativeAudioEvent event) { flutterApi_.onEvent(std::move(event), {}); }

  // Starts the UI program on the UI thread, as the engine would; interrupted
  // first if asked.
  void start(bool interruptFirst = false) {
    ConsoleUi::Settings settings;
    settings.output = output_;
    settings.now = [this] { return ConsoleUi::Clock::time_point(nowMs_.load() * 1ms); };
    settings.tickInterval = 0ms;
    ui_ = std::make_unique<ConsoleUi>(
        options_, [this](int status) { statuses_.add(status); }, settings);
    if (interruptFirst) ui_->interrupt();
    engine_.uiSide().post([this] { ui_->run(engine_.uiSide()); });
  }

  // Runs `work` on the UI thread and waits for it.
  void onUi(std::function<void()> work) {
    test::TestSignal done;
    engine_.uiSide().post([&] {
      work();
      done.notify();
    });
    ASSERT_TRUE(done.wait());
  }

  // Time passing as it does for a running process: a tick every 100 ms.
  void advanceAndTick(std::chrono::milliseconds by) {
    for (; by > 0ms; by -= 100ms) {
      nowMs_ += std::min(by, 100ms).count();
      onUi([this] { ui_->tick(); });
    }
  }

  bool pumpUntilCalled(const std::string& call) {
    return test::pumpMainUntil([&] {
      const auto made = api_->calls.values();
      return std::find(made.begin(), made.end(), call) != made.end();
    });
  }

  // The exit status the UI asked for, once it has.
  int awaitStatus() {
    EXPECT_TRUE(test::pumpMainUntil([&] { return statuses_.size() > 0; }));
    test::pumpMainIdle();
    EXPECT_EQ(statuses_.size(), 1u) << "the UI terminates once";
    return statuses_.size() > 0 ? statuses_.values()[0] : -1;
  }

  std::string printed() {
    onUi([this] { std::fflush(output_); });
    std::ifstream in(directory_ / "printed.txt");
    return {std::istreambuf_iterator<char>(in), {}};
  }

  ConsoleOptions options_;
  std::filesystem::path directory_;
  std::FILE* output_ = nullptr;
  std::atomic<std::int64_t> nowMs_{1000};
  std::vector<std::vector<double>> audioOnListen_;
  bool confirmStop_ = true;
  test::TestRecorder<int> statuses_;
  std::shared_ptr<test::FakeHostApi> api_ = std::make_shared<test::FakeHostApi>();
  // The UI outlives the engine that runs it: declared first, destroyed last.
  std::unique_ptr<ConsoleUi> ui_;
  FlutterEngine engine_;
  BridgeFlutterApi flutterApi_{engine_.binaryMessenger()};
};

// At stake: --list tells the user both permissions and both lists, defaults
// marked, and captures nothing; --trace shows both directions as tagged JSON;
// the event channel is untrusted input: a malformed event is answered with an
// error reply and ignored.
TEST_F(ConsoleUiTest, ListShowsPermissionsAndBothListsTraceShowsTheMessagesBadEventsAreRefused) {
  options_.list = true;
  options_.trace = true;
  start();
  EXPECT_EQ(awaitStatus(), 0);
  const std::string text = printed();
  EXPECT_THAT(text,
              HasSubstr("Permissions: microphone granted, system audio (screen capture) granted"));
  EXPECT_THAT(text,
              HasSubstr("    headset  Headset\\x1b[2J\n  * desk  Desk Microphone  (default)\n"));
  EXPECT_THAT(text, HasSubstr("  * 1  Display 1  (default)\n"));
  EXPECT_THAT(
      text, HasSubstr("trace host→ui reply " + BridgeHostApiSetup::channelName("checkPermission") +
                      " {\"t\":\"list\",\"v\":[{\"t\":\"AudioPermission\""));
  EXPECT_THAT(text, HasSubstr("trace ui→host " + BridgeHostApiSetup::channelName("getDevices") +
                              " {\"t\":\"list\",\"v\":[{\"t\":\"int32\",\"v\":1}]}"));
  EXPECT_FALSE(std::filesystem::exists(options_.wavPath));
  auto replies = std::make_shared<test::TestRecorder<std::optional<test::Bytes>>>();
  engine_.binaryMessenger().sendOnChannel(
      std::string(BridgeFlutterApi::channelPrefix), test::Bytes{0x0c, 0x01, 0x80, 0x07},
      [replies](std::optional<test::Bytes> reply) { replies->add(std::move(reply)); });
  ASSERT_TRUE(test::pumpMainUntil([&] { return replies->size() == 1; }));
  const auto reply = replies->values()[0];
  const CodecValue decoded = reply ? test::decodeHostReply(*reply) : CodecValue(CodecNull{});
  EXPECT_TRUE(decoded.is<CodecList>() && decoded.getIf<CodecList>()->size() == 3u);
  EXPECT_THAT(printed(), HasSubstr("ignoring an event that cannot be read"));
}

// At stake: a capture keeps every sample up to the requested length, not one
// more, and reports truly (the file's length and content are the e2e runs').
TEST_F(ConsoleUiTest, StopsAtTheRequestedLengthAndReportsWhatItWrote) {
  options_.seconds = 0.1;  // 1600 samples
  audioOnListen_ = {std::vector<double>(1000, 0.5), std::vector<double>(1000, -0.25)};
  start();
  EXPECT_EQ(awaitStatus(), 0);
  EXPECT_THAT(printed(), HasSubstr("samples:           1600\n  seconds of audio:  0.100 s\n"
                                   "  first audio after: 0 ms\n  peak:              -6.0 dBFS\n"
                                   "  RMS:               -7.5 dBFS\n"));
}

// At stake: a source that sends nothing is waited for, visibly, and Ctrl-C
// ends the capture cleanly, even when the host never confirms the stop.
TEST_F(ConsoleUiTest, ASourceThatSendsNothingIsWaitedForAndCtrlCThenLeavesNoFile) {
  confirmStop_ = false;
  start();
  ASSERT_TRUE(pumpUntilCalled("listen(desk)"));
  advanceAndTick(5000ms);
  EXPECT_THAT(printed(), HasSubstr("waiting: no audio for 5 s (source suspended?)"));
  ui_->interrupt();
  ASSERT_TRUE(pumpUntilCalled("unlisten(desk)"));
  advanceAndTick(2900ms);
  EXPECT_EQ(statuses_.size(), 0u) << "a suspended source sends nothing at first, too";
  advanceAndTick(100ms);
  EXPECT_EQ(awaitStatus(), 0);
  const std::string text = printed();
  EXPECT_THAT(text, HasSubstr("did not confirm the stop"));
  EXPECT_THAT(text, HasSubstr("peak:              -inf dBFS"));
  EXPECT_THAT(text, HasSubstr("Nothing was saved;"));
  for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
    EXPECT_EQ(entry.path().filename(), "printed.txt") << "neither the target nor an empty part";
  }
}

// At stake: a source the host reports failed ends with its reason, and what
// was saved stays beside the target instead of replacing it.
TEST_F(ConsoleUiTest, AStopWithAnErrorKeepsWhatCameBesideTheTarget) {
  options_.seconds = 0;
  audioOnListen_ = {std::vector<double>(WavFileWriter::blockFrames + 160, 0.1)};
  start();
  ASSERT_TRUE(pumpUntilCalled("listen(desk)"));
  onUi([] {});  // the audio has been taken
  NativeAudioEvent stop = deviceEvent(kDesk, NativeAudioEventType::deviceStop);
  stop.error = "the device was unplugged";
  send(stop);
  EXPECT_EQ(awaitStatus(), ConsoleUi::failureExitStatus);
  const std::string text = printed();
  EXPECT_THAT(text, HasSubstr("Desk Microphone (input:desk) stopped: the device was unplugged"));
  EXPECT_THAT(text, HasSubstr("Kept the 0.266 s saved in "));
}

TEST_F(ConsoleUiTest, CtrlCBeforeTheUiRunsGivesUpWithoutTalkingToTheHost) {
  start(/*interruptFirst=*/true);
  EXPECT_EQ(awaitStatus(), ConsoleUi::interruptedExitStatus);
  EXPECT_TRUE(api_->calls.values().empty());
}

// At stake: the UI refuses what it cannot do before it starts a capture, and
// does not trust a host that fails a call.
TEST_F(ConsoleUiTest, AMissingMicrophonePermissionFailsWithoutListening) {
  api_->checkPermissionDoes = [](CheckPermissionCompletion completion) {
    completion(Result<AudioPermission>::success(AudioPermission{true, false}));
  };
  start();
  EXPECT_EQ(awaitStatus(), ConsoleUi::failureExitStatus);
  EXPECT_THAT(printed(), HasSubstr("harkwell: the microphone permission is missing"));
  EXPECT_EQ(api_->calls.size(), 3u) << "no listen";
}

TEST_F(ConsoleUiTest, AHostThatFailsACallIsReported) {
  api_->getDevicesDoes = [](AudioDeviceType, GetDevicesCompletion completion) {
    completion(Result<std::vector<AudioDevice>>::failure(PigeonError("busy", "try later", {})));
  };
  start();
  EXPECT_EQ(awaitStatus(), ConsoleUi::failureExitStatus);
  EXPECT_THAT(printed(), HasSubstr("cannot list the microphones: the host answered " +
                                   BridgeHostApiSetup::channelName("getDevices") +
                                   " with the error busy: try later"));
}

}  // namespace
}  // namespace harkwell
