#include "backends/pulse/PulseCaptureBackend.h"

#include <cmath>

#include "backends/pulse/PulseDeviceList.h"
#include "platform/dispatch/BackgroundTasks.h"
#include "tests/backends/contract/CaptureBackendContract.h"

namespace harkwell::pulse_test {
namespace {

using namespace std::chrono_literals;
using contract::Collector;

// Runs a shell command against the private server that scripts/pulse-test-server
// started for this run: its KEY=VALUE lines are in the environment.
bool shell(const std::string& command) {
  return std::system(("unset DBUS_SESSION_BUS_ADDRESS; (" + command + ") >/dev/null").c_str()) == 0;
}
// Signals the pulse server process (pulseaudio, or pipewire-pulse).
bool signalServer(const std::string& sig) {
  return shell("kill -" + sig + " \"$(cat \"$HARKWELL_PULSE_TEST_PID_FILE\")\"");
}
// Restarts the server process with its devices (restart), or reloads missing
// devices and resets the defaults (reset).
bool serverScript(const std::string& command) {
  return shell("\"$HARKWELL_PULSE_TEST_SCRIPT\" " + command);
}
// Plays a one-second 1 kHz tone at half scale into `sink`; returns when it
// has been played (paplay is clocked in real time).
void playTone(const std::string& sink) {
  shell(
      "f=\"$HARKWELL_PULSE_TEST_RUNTIME/tone-1k.wav\"; test -f \"$f\" || sox -n -r 48000 -c 2 "
      "-b 16 \"$f\" synth 1.0 sine 1000 vol 0.5; paplay --latency-msec=100 -d " +
      sink + " \"$f\"");
}

// A backend on the private server. It leaves the server as it found it:
// resumed, its devices loaded and the defaults reset.
struct PulseTarget final : contract::Target {
  std::shared_ptr<PulseCaptureBackend> pulse = PulseCaptureBackend::create();
  bool killed = false;
  PulseTarget() {
    backend = pulse;
    microphoneID = "test_mic";
    displayID = displayIdForSinkName("test_speakers");
    shortestBufferSeconds = 0.02;  // a fragment, although the monitor hands over less
  }
  ~PulseTarget() override {
    signalServer("CONT");
    // The backend goes first: its streams and context belong to this server.
    backend.reset();
    pulse.reset();
    BackgroundTasks::waitIdle();
    if (killed || !serverScript("reset")) serverScript("restart");
  }
  // Unloads the modules that created the speakers and the microphone.
  void removeDevices() override {
    for (const std::string name : {"test_speakers", "test_mic"})
      shell("pactl unload-module $(pactl list short modules | grep -m1 -E '(sink|source)_name=" +
            name + "( |$)' | cut -f1)");
  }
  bool killServer() override { return killed = signalServer("KILL"); }
};

// The peak absolute value of samples[begin, end).
double peak(const std::vector<double>& samples, size_t begin = 0, size_t end = SIZE_MAX) {
  double result = 0;
  for (size_t i = begin; i < std::min(end, samples.size()); ++i)
    result = std::max(result, std::fabs(samples[i]));
  return result;
}

const std::string microphoneType = "AVCaptureDeviceTypeMicrophone";

// Facts of the PulseAudio backend beyond the contract.
class PulseBackendTest : public contract::ContractTest {
 protected:
  CaptureBackend& backend() { return *target_->backend; }
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
  contract::StopReports stops_;
};

// At stake: a monitor offered as a microphone records the speakers; an id
// that changes with the server's lifetime breaks a remembered choice; a
// suspended source is no fault, but a frozen
// or dead server must neither hang the host nor leave a capture that silently
// delivers nothing; a backend that does not notice its server came back stays deaf.
TEST_F(PulseBackendTest, MonitorsAreNoMicrophonesAndServerFaultsCostOnlyTheirDeadline) {
  const auto microphones = backend().microphones(microphoneType);
  ASSERT_FALSE(microphones.empty());
  EXPECT_EQ(microphones[0], (MicrophoneInfo{"test_mic", "Test_Microphone"}));
  EXPECT_TRUE(backend().microphones("AVCaptureDeviceTypeExternal").empty());
  EXPECT_THROW(backend().openMicrophone("test_speakers.monitor"), NSError);
  const auto before = content().displays;
  ASSERT_GE(before.size(), 2u);  // the default first, then test_micfeed
  EXPECT_EQ(before[0].displayID, target_->displayID);
  EXPECT_EQ(before[1].displayID, displayIdForSinkName("test_micfeed"));

  Collector collector, again, suspended;
  auto microphone = startMicrophone(suspended, stops_);
  ASSERT_TRUE(suspended.waitForFrames(960) && shell("pactl suspend-source test_mic 1"));
  std::this_thread::sleep_for(3s);  // past the no-data watchdog
  ASSERT_TRUE(shell("pactl suspend-source test_mic 0"));
  EXPECT_EQ(stops_.count, 0) << "a suspended source sends nothing by design";
  microphone.reset();
  auto running = startDisplay(collector, stops_, target_->displayID);
  ASSERT_TRUE(collector.waitForFrames(960));
  ASSERT_TRUE(signalServer("STOP"));
  withinDeadline([&] { EXPECT_TRUE(backend().microphones(microphoneType).empty()); });
  withinDeadline([&] { EXPECT_TRUE(content().error); });
  withinDeadline([&] { backend().microphoneAuthorizationStatus(); });
  withinDeadline([&] { EXPECT_TRUE(startDisplay(again, stops_, target_->displayID).second); });
  // The server sent no error; the no-data watchdog reports (2 s after data).
  ASSERT_TRUE(stops_.awaitFirst());
  EXPECT_EQ(stops_.count, 1);

  ASSERT_TRUE(target_->killServer());
  withinDeadline([&] { EXPECT_TRUE(backend().microphones(microphoneType).empty()); });
  EXPECT_EQ(backend().microphoneAuthorizationStatus(), CaptureAuthorizationStatus::restricted);
  ASSERT_TRUE(serverScript("restart"));
  EXPECT_EQ(content().displays, before);
  EXPECT_EQ(backend().microphones(microphoneType), microphones);
  auto [stream, error] = startDisplay(again, stops_, target_->displayID);
  EXPECT_TRUE(!error && again.waitForFrames(960));
}

// At stake: what the server plays is what the host hears, from the right
// device, at its level, in 1024-frame blocks like the platform's; a microphone
// stays pinned when the default source moves. (The host hearing the tone's
// pitch from the speakers is tests/web/browser.mjs's.)
TEST_F(PulseBackendTest, WhatTheServerPlaysArrivesFromTheDeviceItWasPlayedInto) {
  Collector speakers, microphone;
  auto [stream, error] = startDisplay(speakers, stops_, target_->displayID);
  auto capture = startMicrophone(microphone, stops_);
  ASSERT_TRUE(microphone.waitForFrames(4800));
  playTone("test_micfeed");
  std::this_thread::sleep_for(200ms);
  const size_t fed = microphone.seen().channels[0].size();
  shell("pactl set-default-source test_speakers.monitor");
  std::this_thread::sleep_for(100ms);
  playTone("test_speakers");
  std::this_thread::sleep_for(200ms);
  capture->stopRunning();
  stream.reset();

  const auto heard = microphone.seen().channels[0];
  // Its feed, through the server's stereo-to-mono downmix.
  EXPECT_TRUE(peak(heard, 0, fed) > 0.45 && peak(heard, 0, fed) < 0.75) << peak(heard, 0, fed);
  EXPECT_LT(peak(heard, fed), 0.01) << "the microphone capture followed the default";
  const auto seen = speakers.seen();
  ASSERT_TRUE(seen.channels.size() == 2 && seen.asbd->mSampleRate == 48000);
  EXPECT_EQ(seen.shortest, 1024u);
  for (const auto& channel : seen.channels) EXPECT_NEAR(peak(channel), 0.5, 0.03);
  EXPECT_EQ(stops_.count, 0);
}

}  // namespace
}  // namespace harkwell::pulse_test

std::unique_ptr<harkwell::contract::Target> harkwell::contract::makeTarget() {
  if (!std::getenv("HARKWELL_PULSE_TEST_SERVER")) return nullptr;
  auto target = std::make_unique<pulse_test::PulseTarget>();
  EXPECT_NE(target->pulse, nullptr) << "the private sound server does not answer";
  return target->pulse ? std::move(target) : nullptr;
}
