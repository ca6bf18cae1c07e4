#pragma once

#include <signal.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/coremedia/CMSampleBuffer.h"

namespace harkwell::pulse_test {

// The private server that scripts/pulse-test-server started for this run
// (its KEY=VALUE lines are in the environment), and the means to hurt it.
class PulseTestServer {
 public:
  // Null when the environment names no private server.
  static std::optional<PulseTestServer> fromEnvironment() {
    const char* runtime = std::getenv("HARKWELL_PULSE_TEST_RUNTIME");
    const char* script = std::getenv("HARKWELL_PULSE_TEST_SCRIPT");
    const char* server = std::getenv("HARKWELL_PULSE_TEST_SERVER");
    if (!runtime || !script || !server) return std::nullopt;
    return PulseTestServer(runtime, script, server);
  }

  const std::string& runtime() const { return runtime_; }
  const std::string& kind() const { return kind_; }

  // The pulse server process (pulseaudio, or pipewire-pulse).
  pid_t pid() const {
    std::ifstream file(runtime_ + "/harkwell/pulse.pid");
    pid_t pid = 0;
    file >> pid;
    return pid;
  }
  bool signal(int sig) const {
    const pid_t target = pid();
    return target > 0 && ::kill(target, sig) == 0;
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

  // The module index that created the sink or source `name`, or -1.
  int moduleOf(const std::string& name) const {
    const std::string out =
        shell("pactl list short modules | awk -v n='" + name +
              "' '$0 ~ (\"(sink|source)_name=\" n \"( |$)\") {print $1; exit}'");
    return out.empty() ? -1 : std::atoi(out.c_str());
  }

  // A file in the runtime dir, made once by `command` (sox, espeak-ng) with
  // {} standing for its path.
  std::string fixture(const std::string& name, const std::string& command) const {
    const std::string path = runtime_ + "/" + name;
    std::ifstream existing(path);
    if (!existing) {
      std::string filled = command;
      filled.replace(filled.find("{}"), 2, "'" + path + "'");
      shell(filled + " >/dev/null 2>&1");
    }
    return path;
  }

 private:
  PulseTestServer(std::string runtime, std::string script, std::string kind)
      : runtime_(std::move(runtime)), script_(std::move(script)), kind_(std::move(kind)) {}

  bool script(const std::string& command) const {
    const std::string full = "HARKWELL_PULSE_TEST_RUNTIME='" + runtime_ + "' '" + script_ + "' " +
                             command + " >/dev/null";
    return std::system(full.c_str()) == 0;
  }

  std::string runtime_;
  std::string script_;
  std::string kind_;
};

// Plays a file into a sink on a thread of its own (paplay is clocked in real
// time); joins on destruction.
class PulsePlayer {
 public:
  PulsePlayer(const PulseTestServer& server, const std::string& sink, const std::string& file)
      : thread_([&server, sink, file] {
          server.shell("paplay --latency-msec=100 -d '" + sink + "' '" + file + "'");
        }) {}
  ~PulsePlayer() { thread_.join(); }
  PulsePlayer(const PulsePlayer&) = delete;
  PulsePlayer& operator=(const PulsePlayer&) = delete;

 private:
  std::thread thread_;
};

// Collects delivered sample buffers: per-channel samples, the last stream
// description, and when each buffer arrived.
class BufferCollector {
 public:
  using Clock = std::chrono::steady_clock;

  void add(const CMSampleBufferRef& buffer) {
    AudioBufferList list;
    CMBlockBufferRef block;
    const OSStatus status = CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(
        buffer, &list, kCFAllocatorDefault, kCFAllocatorDefault, 0, &block);
    std::lock_guard lock(mutex_);
    ++buffers_;
    lastArrival_ = Clock::now();
    if (status != noErr) {
      ++malformed_;
    } else {
      if (const auto* asbd = CMAudioFormatDescriptionGetStreamBasicDescription(
              CMSampleBufferGetFormatDescription(buffer))) {
        asbd_ = *asbd;
      }
      if (channels_.size() < list.mBuffers.size()) channels_.resize(list.mBuffers.size());
      for (size_t c = 0; c < list.mBuffers.size(); ++c) {
        const auto* samples = static_cast<const float*>(list.mBuffers[c].mData);
        channels_[c].insert(channels_[c].end(), samples,
                            samples + list.mBuffers[c].mDataByteSize / sizeof(float));
      }
    }
    changed_.notify_all();
  }

  // Waits until `frames` frames arrived; false at the timeout.
  bool waitForFrames(size_t frames, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return !channels_.empty() && channels_[0].size() >= frames; });
  }

  size_t buffers() const {
    std::lock_guard lock(mutex_);
    return buffers_;
  }
  size_t malformed() const {
    std::lock_guard lock(mutex_);
    return malformed_;
  }
  std::vector<std::vector<float>> channels() const {
    std::lock_guard lock(mutex_);
    return channels_;
  }
  std::optional<AudioStreamBasicDescription> asbd() const {
    std::lock_guard lock(mutex_);
    return asbd_;
  }
  Clock::time_point lastArrival() const {
    std::lock_guard lock(mutex_);
    return lastArrival_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  size_t buffers_ = 0;
  size_t malformed_ = 0;
  std::vector<std::vector<float>> channels_;
  std::optional<AudioStreamBasicDescription> asbd_;
  Clock::time_point lastArrival_{};
};

// Peak absolute value of samples[begin, end).
inline float peak(const std::vector<float>& samples, size_t begin = 0, size_t end = SIZE_MAX) {
  float result = 0;
  for (size_t i = begin; i < std::min(end, samples.size()); ++i)
    result = std::max(result, std::fabs(samples[i]));
  return result;
}

// Frequency from the median period between rising zero crossings (placed by
// linear interpolation) among samples louder than `gate`. The median ignores
// the gaps a player under load leaves in its output.
inline double dominantFrequency(const std::vector<float>& samples, double rate, float gate = 0.1f) {
  std::vector<double> crossings;
  for (size_t i = 1; i < samples.size(); ++i) {
    if (samples[i - 1] < 0 && samples[i] >= 0) {
      const bool loud = i >= 8 && peak(samples, i - 8, i + 8) >= gate;
      if (loud) crossings.push_back(i - 1 + samples[i - 1] / (samples[i - 1] - samples[i]));
    }
  }
  if (crossings.size() < 3) return 0;
  std::vector<double> periods;
  for (size_t i = 1; i < crossings.size(); ++i) periods.push_back(crossings[i] - crossings[i - 1]);
  std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
  const double period = periods[periods.size() / 2];
  return period > 0 ? rate / period : 0;
}

// RMS of each `window`-sample window.
inline std::vector<double> windowRms(const std::vector<float>& samples, size_t window) {
  std::vector<double> result;
  for (size_t start = 0; start + window <= samples.size(); start += window) {
    double sum = 0;
    for (size_t i = start; i < start + window; ++i) sum += double(samples[i]) * samples[i];
    result.push_back(std::sqrt(sum / window));
  }
  return result;
}

}  // namespace harkwell::pulse_test
