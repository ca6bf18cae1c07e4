#pragma once

#include <signal.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "backends/pulse/PulseCaptureBackend.h"
#include "backends/pulse/PulseDeviceList.h"
#include "platform/dispatch/BackgroundTasks.h"
#include "tests/backends/contract/CaptureBackendContract.h"

namespace harkwell::pulse_test {

using namespace std::chrono_literals;
using contract::Collector;

// The private server that scripts/pulse-test-server started for this run (its
// KEY=VALUE lines are in the environment), and the means to hurt it.
class PulseTestServer {
 public:
  // Null when the environment names no private server.
  static std::optional<PulseTestServer> fromEnvironment() {
    const char* runtime = std::getenv("HARKWELL_PULSE_TEST_RUNTIME");
    const char* script = std::getenv("HARKWELL_PULSE_TEST_SCRIPT");
    if (!runtime || !script || !std::getenv("HARKWELL_PULSE_TEST_SERVER")) return std::nullopt;
    return PulseTestServer(runtime, script);
  }
  // Signals the pulse server process (pulseaudio, or pipewire-pulse).
  bool signal(int sig) const {
    pid_t pid = 0;
    std::ifstream(runtime_ + "/harkwell/pulse.pid") >> pid;
    return pid > 0 && ::kill(pid, sig) == 0;
  }
  // Restarts the server process with its devices, or reloads missing devices
  // and resets the defaults.
  bool script(const std::string& command) const {
    return std::system(("HARKWELL_PULSE_TEST_RUNTIME='" + runtime_ + "' '" + script_ + "' " +
                        command + " >/dev/null")
                           .c_str()) == 0;
  }
  // Runs a shell command against the private server only.
  void shell(const std::string& command) const {
    const std::string full = "env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR='" + runtime_ +
                             "' PULSE_SERVER='unix:" + runtime_ + "/pulse/native' " + command +
                             " >/dev/null";
    if (std::system(full.c_str()) != 0) ADD_FAILURE() << "failed: " << command;
  }
  // Unloads the module that created the sink or source `name`.
  void unload(const std::string& name) const {
    shell("pactl unload-module $(pactl list short modules | awk -v n='" + name +
          "' '$0 ~ (\"(sink|source)_name=\" n \"( |$)\") {print $1; exit}')");
  }
  // Plays a one-second 1 kHz tone at half scale into `sink`; returns when it
  // has been played (paplay is clocked in real time).
  void playTone(const std::string& sink) const {
    const std::string path = runtime_ + "/tone-1k.wav";
    if (!std::ifstream(path))
      shell("sox -n -r 48000 -c 2 -b 16 '" + path + "' synth 1.0 sine 1000 vol 0.5");
    shell("paplay --latency-msec=100 -d '" + sink + "' '" + path + "'");
  }

 private:
  PulseTestServer(std::string runtime, std::string script)
      : runtime_(std::move(runtime)), script_(std::move(script)) {}
  std::string runtime_;
  std::string script_;
};

// A backend on the private server of this run. It leaves the server as it
// found it: resumed, its devices loaded and the defaults reset.
struct PulseTarget final : contract::Target {
  PulseTestServer server;
  std::shared_ptr<PulseCaptureBackend> pulse = PulseCaptureBackend::create();

  explicit PulseTarget(PulseTestServer s) : server(std::move(s)) {
    backend = pulse;
    microphoneID = "test_mic";
    displayID = displayIdForSinkName("test_speakers");
    shortestBufferSeconds = 0.02;  // a fragment, although the monitor hands over less
  }
  ~PulseTarget() override {
    server.signal(SIGCONT);
    // The backend goes first: its streams and context belong to this server.
    backend.reset();
    pulse.reset();
    BackgroundTasks::waitIdle();
    if (killed || !server.script("reset")) server.script("restart");
  }
  void removeMicrophone() override { server.unload("test_mic"); }
  void removeDisplay() override { server.unload("test_speakers"); }
  bool killServer() override { return killed = server.signal(SIGKILL); }
  bool killed = false;
};

// Counts the samples of `samples` (louder than 0.1) that continue a sine of
// `cycles` per sample: s[i-1] + s[i+1] == 2 cos(2 pi f) s[i]. Returns the
// share of them, and their peak through `peak`.
inline double sineShare(const std::vector<double>& samples, double cycles, double* peak) {
  const double k = 2 * std::cos(2 * M_PI * cycles);
  size_t loud = 0, onSine = 0;
  *peak = 0;
  for (size_t i = 1; i + 1 < samples.size(); ++i) {
    *peak = std::max(*peak, std::fabs(samples[i]));
    if (std::fabs(samples[i]) < 0.1) continue;
    ++loud;
    if (std::fabs(samples[i - 1] + samples[i + 1] - k * samples[i]) < 0.01) ++onSine;
  }
  return loud ? static_cast<double>(onSine) / loud : 0;
}

}  // namespace harkwell::pulse_test
