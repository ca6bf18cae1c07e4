#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioPermission.h"
#include "bridge/NativeAudioEvent.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"
#include "platform/flutter/FlutterUiSide.h"
#include "ui/ConsoleChannels.h"
#include "ui/ConsoleOptions.h"
#include "ui/ConsoleOutput.h"
#include "ui/ConsoleTicker.h"
#include "ui/LevelMeter.h"
#include "ui/WavFileWriter.h"

namespace harkwell {

// The console stand-in for the Flutter UI, run by the engine on its UI thread.
// It speaks to the host only through the host channels and the event channel:
// shows both permissions and both source lists, then (unless --list) listens to
// one source with a live level meter, unlistens, waits for deviceStop, writes
// the samples to a 16000 Hz mono float WAV file, prints a summary, and asks
// the application to terminate with its verdict as the exit status.
// Everything it prints goes to its output stream (standard error in the app).
// Thread affinity: the UI thread, except interrupt() (any thread). Must
// outlive the engine whose UI side runs it.
class ConsoleUi {
 public:
  using Clock = std::chrono::steady_clock;
  // Asks the application to end with `status`. Called once, on the UI thread.
  using Terminate = std::function<void(int status)>;

  static constexpr int failureExitStatus = 1;
  // As a shell reports a process ended by SIGINT.
  static constexpr int interruptedExitStatus = 130;

  struct Settings {
    std::FILE* output = stderr;  // must outlive the UI
    bool terminal = false;       // redraw the meter in place
    std::function<Clock::time_point()> now = [] { return Clock::now(); };
    // How often the meter and the timeouts are looked at; zero starts no
    // ticker thread (tests call tick() themselves).
    std::chrono::milliseconds tickInterval{100};
    // The longest wait for the first audio, for more audio while capturing,
    // and for deviceStop after unlisten.
    std::chrono::milliseconds audioTimeout{3000};
    std::chrono::milliseconds stopTimeout{3000};
  };

  ConsoleUi(ConsoleOptions options, Terminate terminate, Settings settings);
  ~ConsoleUi();

  ConsoleUi(const ConsoleUi&) = delete;
  ConsoleUi& operator=(const ConsoleUi&) = delete;

  // The UI program: installs the event handler and starts talking to the host.
  // `ui` must outlive this object's work. UI thread.
  void run(FlutterUiSide& ui) EXCLUDES(mutex_);

  // The user pressed Ctrl-C: a capture ends cleanly (the file is still
  // written, status 0); before a capture the UI gives up (status 130). Any
  // thread.
  void interrupt() EXCLUDES(mutex_);

  // Redraws the meter and acts on timeouts. UI thread.
  void tick();

 private:
  enum class Phase { idle, listing, awaitingAudio, capturing, stopping, finished };

  void onPermission(HostCallResult result);
  void requestDevices(AudioDeviceType type);
  void onDevices(AudioDeviceType type, HostCallResult result);
  void printReport();
  void startCapture();
  void onEvent(const NativeAudioEvent& event);
  void onAudio(const std::vector<std::optional<double>>& audio);
  void handleInterrupt();
  void showMeter(Clock::time_point now);
  // Unlistens and waits for deviceStop; `removeFile` drops the WAV file when
  // the capture failed before any audio.
  void requestStop(int status, bool removeFile);
  void finishCapture();
  void printSummary();
  void fail(int status, const std::string& message);
  void finish(int status);

  const ConsoleOptions options_;
  const Terminate terminate_;
  const Settings settings_;
  ConsoleOutput output_;

  Mutex mutex_;
  FlutterUiSide* ui_ GUARDED_BY(mutex_) = nullptr;
  bool interruptPending_ GUARDED_BY(mutex_) = false;

  // UI thread only from here on.
  std::unique_ptr<ConsoleChannels> channels_;
  std::unique_ptr<ConsoleTicker> ticker_;
  Phase phase_ = Phase::idle;
  AudioPermission permission_;
  std::vector<AudioDevice> microphones_;
  std::vector<AudioDevice> displays_;
  AudioDevice device_;
  std::unique_ptr<WavFileWriter> wav_;
  LevelMeter total_;
  LevelMeter window_;
  std::uint64_t eventCount_ = 0;
  std::uint64_t audioEventCount_ = 0;
  std::uint64_t targetSamples_ = 0;  // 0: until interrupted
  Clock::time_point listenSentAt_;
  std::optional<Clock::time_point> firstAudioAt_;
  Clock::time_point lastAudioAt_;
  Clock::time_point stopSentAt_;
  std::int64_t lastMeterSecond_ = 0;
  int plannedStatus_ = 0;
  bool removeFile_ = false;
  bool terminated_ = false;
  std::vector<float> scratch_;
};

}  // namespace harkwell
