#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "backends/pulse/PulseCaptureBackend.h"
#include "backends/pulse/PulseDeviceList.h"
#include "platform/dispatch/BackgroundTasks.h"
#include "platform/dispatch/DispatchQueue.h"
#include "tests/support/CaptureTestHelpers.h"

namespace harkwell::pulse_test {

using namespace std::chrono_literals;

inline constexpr auto completionTimeout = std::chrono::seconds(6);
inline const std::string microphoneType = "AVCaptureDeviceTypeMicrophone";

// The private server that scripts/pulse-test-server started for this run
// (its KEY=VALUE lines are in the environment), and the means to hurt it.
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
  // Restarts the server process on the same runtime dir with its devices.
  bool restart() const { return script("restart"); }
  // Reloads missing devices and resets the defaults.
  bool reset() const { return script("reset"); }

  // Runs a shell command against the private server only; its output.
  std::string shell(const std::string& command) const {
    const std::string full = "env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR='" + runtime_ +
                             "' PULSE_SERVER='unix:" + runtime_ + "/pulse/native' " + command;
    std::string output;
    if (FILE* pipe = ::popen(full.c_str(), "r")) {
      char chunk[512];
      size_t n;
      while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
      ::pclose(pipe);
    }
    return output;
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
    if (!std::ifstream(path)) {
      shell("sox -n -r 48000 -c 2 -b 16 '" + path + "' synth 1.0 sine 1000 vol 0.5");
    }
    shell("paplay --latency-msec=100 -d '" + sink + "' '" + path + "'");
  }

 private:
  PulseTestServer(std::string runtime, std::string script)
      : runtime_(std::move(runtime)), script_(std::move(script)) {}

  bool script(const std::string& command) const {
    const std::string full = "HARKWELL_PULSE_TEST_RUNTIME='" + runtime_ + "' '" + script_ + "' " +
                             command + " >/dev/null";
    return std::system(full.c_str()) == 0;
  }

  std::string runtime_;
  std::string script_;
};

// Collects delivered sample buffers: per-channel samples and the last stream
// description. Written on the delivery queue, read by the test thread.
class BufferCollector {
 public:
  void add(const CMSampleBufferRef& buffer) {
    auto decoded = testing::decodeChannels(buffer);
    std::lock_guard lock(mutex_);
    ++buffers_;
    if (const auto* asbd = CMAudioFormatDescriptionGetStreamBasicDescription(
            CMSampleBufferGetFormatDescription(buffer))) {
      asbd_ = *asbd;
    }
    channels_.resize(std::max(channels_.size(), decoded.size()));
    for (size_t c = 0; c < decoded.size(); ++c) {
      channels_[c].insert(channels_[c].end(), decoded[c].begin(), decoded[c].end());
    }
    changed_.notify_all();
  }

  // Waits until `frames` frames arrived; false at the timeout.
  bool waitForFrames(size_t frames, std::chrono::milliseconds timeout = 3s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return !channels_.empty() && channels_[0].size() >= frames; });
  }

  size_t buffers() const {
    std::lock_guard lock(mutex_);
    return buffers_;
  }
  std::vector<std::vector<double>> channels() const {
    std::lock_guard lock(mutex_);
    return channels_;
  }
  std::optional<AudioStreamBasicDescription> asbd() const {
    std::lock_guard lock(mutex_);
    return asbd_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  size_t buffers_ = 0;
  std::vector<std::vector<double>> channels_;
  std::optional<AudioStreamBasicDescription> asbd_;
};

// Peak absolute value of samples[begin, end).
inline double peak(const std::vector<double>& samples, size_t begin = 0, size_t end = SIZE_MAX) {
  double result = 0;
  for (size_t i = begin; i < std::min(end, samples.size()); ++i)
    result = std::max(result, std::fabs(samples[i]));
  return result;
}

// Frequency from the median period between rising zero crossings (placed by
// linear interpolation) among samples louder than 0.1. The median ignores the
// gaps a player under load leaves in its output.
inline double dominantFrequency(const std::vector<double>& samples, double rate) {
  std::vector<double> crossings;
  for (size_t i = 8; i < samples.size(); ++i) {
    if (samples[i - 1] < 0 && samples[i] >= 0 && peak(samples, i - 8, i + 8) >= 0.1) {
      crossings.push_back(i - 1 + samples[i - 1] / (samples[i - 1] - samples[i]));
    }
  }
  if (crossings.size() < 3) return 0;
  std::vector<double> periods;
  for (size_t i = 1; i < crossings.size(); ++i) periods.push_back(crossings[i] - crossings[i - 1]);
  std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
  const double period = periods[periods.size() / 2];
  return period > 0 ? rate / period : 0;
}

// A display stream with its collector and what its handlers saw.
struct DisplayCapture {
  std::shared_ptr<BufferCollector> collector = std::make_shared<BufferCollector>();
  std::shared_ptr<std::atomic<int>> stoppedCount = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<std::promise<NSError>> firstStop = std::make_shared<std::promise<NSError>>();
  std::unique_ptr<DisplayStream> stream;
};

// A backend on the private server of this run. Every test leaves the server
// as it found it: resumed, its devices loaded and the defaults reset.
class PulseBackendFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = PulseTestServer::fromEnvironment();
    if (!server_) {
      GTEST_SKIP() << "no private sound server: run scripts/test, or export the lines of "
                      "`scripts/pulse-test-server start pulseaudio`";
    }
    backend_ = PulseCaptureBackend::create();
    ASSERT_NE(backend_, nullptr) << "the private sound server does not answer";
    queue_ = DispatchQueue::makeSerial("pulse-test");
  }

  void TearDown() override {
    if (!server_) return;
    server_->signal(SIGCONT);
    // The backend goes first: its streams and context belong to this server.
    backend_.reset();
    BackgroundTasks::waitIdle();
    if (!server_->reset()) server_->restart();
  }

  uint32_t speakersId() const { return displayIdForSinkName("test_speakers"); }

  // Opens and starts the microphone `id`, delivering into `collector`.
  std::unique_ptr<MicrophoneCapture> startMicrophone(
      const std::shared_ptr<BufferCollector>& collector, const std::string& id = "test_mic") {
    auto capture = backend_->openMicrophone(id);
    capture->setOutput({}, queue_, [collector](CMSampleBufferRef b) { collector->add(b); });
    const auto error = capture->startRunning();
    EXPECT_FALSE(error) << error->debugDescription();
    return capture;
  }

  // Opens a display stream and waits for its start; the error, if any.
  std::optional<NSError> startDisplay(DisplayCapture& capture, uint32_t displayID) {
    capture.stream = backend_->openDisplayStream(
        displayID, DisplayStreamSettings{true, 0},
        [count = capture.stoppedCount, first = capture.firstStop](NSError error) {
          if (count->fetch_add(1) == 0) first->set_value(error);
        });
    capture.stream->addOutput(
        DisplayOutputKind::audio, queue_,
        [collector = capture.collector](CMSampleBufferRef buffer) { collector->add(buffer); });
    return await([&](CaptureCompletion done) { capture.stream->startCapture(std::move(done)); });
  }

  std::optional<NSError> stopDisplay(DisplayCapture& capture) {
    return await([&](CaptureCompletion done) { capture.stream->stopCapture(std::move(done)); });
  }

  // Waits for everything the delivery queue holds, then for `quiet`, and again.
  void drainDeliveries(std::chrono::milliseconds quiet = 100ms) {
    queue_->sync([] {});
    std::this_thread::sleep_for(quiet);
    queue_->sync([] {});
  }

  // Runs `call` with a completion and waits for it (bounded).
  template <class Call>
  std::optional<NSError> await(Call call) {
    auto promise = std::make_shared<std::promise<std::optional<NSError>>>();
    auto answer = promise->get_future();
    call([promise](std::optional<NSError> error) { promise->set_value(std::move(error)); });
    if (answer.wait_for(completionTimeout) != std::future_status::ready) {
      ADD_FAILURE() << "no completion within " << completionTimeout.count() << " s";
      return makeCaptureError(CaptureErrorCode::startFailed, "timeout");
    }
    return answer.get();
  }

  std::optional<PulseTestServer> server_;
  std::shared_ptr<PulseCaptureBackend> backend_;
  std::shared_ptr<DispatchQueue> queue_;
};

}  // namespace harkwell::pulse_test
