#include "backends/pulse/PulseCaptureBackend.h"

#include "tests/backends/pulse/PulseBackendFixture.h"

namespace harkwell {

std::unique_ptr<contract::Target> contract::makeTarget() {
  for (const char* name :
       {"HARKWELL_PULSE_TEST_SERVER", "HARKWELL_PULSE_TEST_RUNTIME", "HARKWELL_PULSE_TEST_SCRIPT"})
    if (!std::getenv(name)) return nullptr;
  auto target = std::make_unique<pulse_test::PulseTarget>();
  EXPECT_NE(target->pulse, nullptr) << "the private sound server does not answer";
  return target->pulse ? std::move(target) : nullptr;
}

namespace pulse_test {
namespace {

const std::string microphoneType = "AVCaptureDeviceTypeMicrophone";

// Facts of the PulseAudio backend beyond the contract.
class PulseBackendTest : public contract::ContractTest {
 protected:
  PulseTarget& target() { return static_cast<PulseTarget&>(*target_); }
  PulseCaptureBackend& backend() { return *target().pulse; }
  ShareableContentAnswer content() {
    ShareableContentAnswer answer;
    backend().getShareableContent([&](ShareableContentAnswer a) { answer = std::move(a); });
    return answer;
  }
  // Expects `call` to return within its 3 s deadline plus scheduling slack.
  void withinDeadline(const std::function<void()>& call) {
    const auto at = std::chrono::steady_clock::now();
    call();
    EXPECT_LT(std::chrono::steady_clock::now() - at, 4500ms);
  }
  contract::StopReports stops_, ignored_;
};

// At stake: a monitor offered as a microphone records the speakers; an id
// that changes with the server's lifetime breaks a remembered choice; a backend
// that does not notice its server came back stays deaf.
TEST_F(PulseBackendTest, MonitorsAreNoMicrophonesAndIdsSurviveAServerRestart) {
  const auto microphones = backend().microphones(microphoneType);
  ASSERT_FALSE(microphones.empty());
  EXPECT_EQ(microphones[0], (MicrophoneInfo{"test_mic", "Test_Microphone"}));
  for (const auto& microphone : microphones)
    EXPECT_EQ(microphone.uniqueID.find(".monitor"), std::string::npos) << microphone.uniqueID;
  EXPECT_TRUE(backend().microphones("AVCaptureDeviceTypeExternal").empty());
  EXPECT_THROW(backend().openMicrophone("test_speakers.monitor"), NSError);
  const auto before = content().displays;
  ASSERT_GE(before.size(), 2u);
  EXPECT_EQ(before[0].displayID, target_->displayID);
  EXPECT_EQ(
      std::count(before.begin(), before.end(), DisplayInfo{displayIdForSinkName("test_micfeed")}),
      1);

  ASSERT_TRUE(target_->killServer());
  withinDeadline([&] { EXPECT_TRUE(backend().microphones(microphoneType).empty()); });
  EXPECT_EQ(backend().microphoneAuthorizationStatus(), CaptureAuthorizationStatus::restricted);
  ASSERT_TRUE(target().run("restart"));
  EXPECT_EQ(content().displays, before);
  EXPECT_EQ(backend().microphones(microphoneType), microphones);
  Collector collector;
  auto [stream, error] = startDisplay(collector, stops_, target_->displayID);
  EXPECT_TRUE(!error && collector.waitForFrames(960));
}

// At stake: a frozen server must neither hang the host nor leave a capture
// that silently delivers nothing.
TEST_F(PulseBackendTest, AFrozenServerCostsEachCallItsDeadlineAndTripsTheWatchdog) {
  Collector collector, unused;
  auto running = startDisplay(collector, stops_, target_->displayID);
  ASSERT_TRUE(collector.waitForFrames(960));
  ASSERT_TRUE(target().signal(SIGSTOP));
  withinDeadline([&] { EXPECT_TRUE(backend().microphones(microphoneType).empty()); });
  withinDeadline([&] { EXPECT_TRUE(content().error); });
  withinDeadline([&] { backend().microphoneAuthorizationStatus(); });
  withinDeadline([&] { EXPECT_TRUE(startDisplay(unused, ignored_, target_->displayID).second); });
  // The server sent no error; the no-data watchdog reports (2 s after data).
  ASSERT_EQ(stops_.firstReport.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(stops_.count, 1);
}

// At stake: what the server plays is what the host hears: the right device,
// frequency and level, channels in step, in 1024-frame blocks like the
// platform's; a microphone stays pinned when the default source moves.
TEST_F(PulseBackendTest, WhatTheServerPlaysArrivesFromTheDeviceItWasPlayedInto) {
  Collector speakers, microphone;
  auto [stream, error] = startDisplay(speakers, stops_, target_->displayID);
  auto capture = startMicrophone(microphone, stops_);
  ASSERT_TRUE(microphone.waitForFrames(24000));  // half a second of silence first
  const size_t feedStart = microphone.seen().channels[0].size();
  target().playTone("test_micfeed");
  std::this_thread::sleep_for(200ms);
  const size_t feedEnd = microphone.seen().channels[0].size();
  target().shell("pactl set-default-source test_speakers.monitor");
  std::this_thread::sleep_for(100ms);
  const size_t speakersStart = speakers.seen().channels[0].size();
  target().playTone("test_speakers");
  std::this_thread::sleep_for(200ms);
  capture->stopRunning();
  stream.reset();

  double peak = 0;
  const auto heard = microphone.seen().channels[0];
  sineShare({heard.begin(), heard.begin() + feedStart}, 0, &peak);
  EXPECT_LT(peak, 0.001);
  EXPECT_GT(sineShare({heard.begin() + feedStart, heard.begin() + feedEnd}, 1000.0 / 48000, &peak),
            0.9);
  EXPECT_TRUE(peak > 0.45 && peak < 0.75) << peak;  // the server's stereo-to-mono downmix
  sineShare({heard.begin() + feedEnd, heard.end()}, 0, &peak);
  EXPECT_LT(peak, 0.01) << "the microphone capture followed the default";

  const auto seen = speakers.seen();
  ASSERT_TRUE(seen.channels.size() == 2 && seen.asbd->mSampleRate == 48000);
  EXPECT_EQ(seen.shortest, 1024u);
  std::vector<double> mono16k;  // as the host hears it: channels averaged, every third sample
  for (size_t i = speakersStart; i < seen.channels[1].size(); i += 3)
    mono16k.push_back((seen.channels[0][i] + seen.channels[1][i]) / 2);
  for (const auto& [samples, cycles] : {std::pair{seen.channels[0], 1000.0 / 48000},
                                        {seen.channels[1], 1000.0 / 48000},
                                        {mono16k, 1000.0 / 16000}}) {
    EXPECT_GT(sineShare(samples, cycles, &peak), 0.9);
    EXPECT_NEAR(peak, 0.5, 0.03);
  }
  EXPECT_EQ(stops_.count, 0);
}

}  // namespace
}  // namespace pulse_test
}  // namespace harkwell
