#pragma once

#include <signal.h>

#include <cmath>
#include <fstream>

#include "backends/pulse/PulseCaptureBackend.h"
#include "backends/pulse/PulseDeviceList.h"
#include "platform/dispatch/BackgroundTasks.h"
#include "tests/backends/contract/CaptureBackendContract.h"

namespace harkwell::pulse_test {

using namespace std::chrono_literals;
using contract::Collector;

// A backend on the private server that scripts/pulse-test-server started for
// this run (its KEY=VALUE lines are in the environment), and the means to hurt
// that server. It leaves the server as it found it: resumed, its devices
// loaded and the defaults reset.
struct PulseTarget final : contract::Target {
  const std::string runtime = std::getenv("HARKWELL_PULSE_TEST_RUNTIME");
  const std::string script = std::getenv("HARKWELL_PULSE_TEST_SCRIPT");
  std::shared_ptr<PulseCaptureBackend> pulse = PulseCaptureBackend::create();
  bool killed = false;

  PulseTarget() {
    backend = pulse;
    microphoneID = "test_mic";
    displayID = displayIdForSinkName("test_speakers");
    shortestBufferSeconds = 0.02;  // a fragment, although the monitor hands over less
  }
  ~PulseTarget() override {
    signal(SIGCONT);
    // The backend goes first: its streams and context belong to this server.
    backend.reset();
    pulse.reset();
    BackgroundTasks::waitIdle();
    if (killed || !run("reset")) run("restart");
  }
  // Signals the pulse server process (pulseaudio, or pipewire-pulse).
  bool signal(int sig) const {
    pid_t pid = 0;
    std::ifstream(runtime + "/harkwell/pulse.pid") >> pid;
    return pid > 0 && ::kill(pid, sig) == 0;
  }
  // Runs scripts/pulse-test-server `command` (restart: the server process with
  // its devices; reset: missing devices reloaded, defaults reset) on this server.
  bool run(const std::string& command) const { return shell("'" + script + "' " + command); }
  // Runs a shell command against the private server only.
  bool shell(const std::string& command) const {
    return std::system(("unset DBUS_SESSION_BUS_ADDRESS; export HARKWELL_PULSE_TEST_RUNTIME='" +
                        runtime + "' XDG_RUNTIME_DIR='" + runtime + "' PULSE_SERVER='unix:" +
                        runtime + "/pulse/native'; (" + command + ") >/dev/null")
                           .c_str()) == 0;
  }
  // Plays a one-second 1 kHz tone at half scale into `sink`; returns when it
  // has been played (paplay is clocked in real time).
  void playTone(const std::string& sink) const {
    const std::string path = runtime + "/tone-1k.wav";
    shell("test -f " + path + " || sox -n -r 48000 -c 2 -b 16 " + path +
          " synth 1.0 sine 1000 vol 0.5; paplay --latency-msec=100 -d " + sink + " " + path);
  }
  // Unloads the module that created the sink or source `name`.
  void unload(const std::string& name) {
    shell("pactl unload-module $(pactl list short modules | grep -m1 -E '(sink|source)_name=" +
          name + "( |$)' | cut -f1)");
  }
  void removeMicrophone() override { unload("test_mic"); }
  void removeDisplay() override { unload("test_speakers"); }
  bool killServer() override { return killed = signal(SIGKILL); }
};

// The share of the samples of `samples` louder than 0.1 that continue a sine
// of `cycles` per sample (s[i-1] + s[i+1] == 2 cos(2 pi cycles) s[i]); their
// peak goes to `peak`.
inline double sineShare(const std::vector<double>& samples, double cycles, double* peak) {
  const double k = 2 * std::cos(2 * M_PI * cycles);
  size_t loud = 0, onSine = 0;
  *peak = 0;
  for (size_t i = 1; i + 1 < samples.size(); ++i) {
    *peak = std::max(*peak, std::fabs(samples[i]));
    if (std::fabs(samples[i]) < 0.1) continue;
    ++loud;
    onSine += std::fabs(samples[i - 1] + samples[i + 1] - k * samples[i]) < 0.01;
  }
  return loud ? static_cast<double>(onSine) / loud : 0;
}

}  // namespace harkwell::pulse_test
