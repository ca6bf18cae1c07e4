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
#include "ui/ChannelAligner.h"
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
// each chosen source with a live level meter, unlistens, waits for deviceStop,
// writes the samples to 16000 Hz float WAV files (one per source, or one
// channel per source with --mix), prints a summary, and asks the application
// to terminate with its verdict as the exit status.
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
    // The longest wait for deviceStop after unlisten. Silence ends nothing,
    // at the start or later: a suspended source sends nothing, and a source
    // that is gone, or sends nothing while running, is reported by the host.
    std::chrono::milliseconds stopTimeout{3000};
    // Ticks further apart than this mean the process itself was stopped or
    // starved; the time in between does not count against any source.
    std::chrono::milliseconds stallLimit{1000};
    // Which backend the host runs on, for the summary and the files.
    std::string backend;
    bool simulatedBackend = false;
  };

  ConsoleUi(ConsoleOptions options, Terminate terminate, Settings settings);
  ~ConsoleUi();

  ConsoleUi(const ConsoleUi&) = delete;
  ConsoleUi& operator=(const ConsoleUi&) = delete;

  // The UI program: installs the event handler and starts talking to the host.
  // `ui` must outlive this object's work. UI thread.
  void run(FlutterUiSide& ui) EXCLUDES(mutex_);

  // The user pressed Ctrl-C (or the terminal went): captures end cleanly (the
  // files are still written, status 0); before a capture the UI gives up
  // (status 130). Any thread.
  void interrupt() EXCLUDES(mutex_);

  // Redraws the meter and acts on timeouts. UI thread.
  void tick();

 private:
  enum class Phase { idle, listing, capturing, finished };

  // One source being recorded. UI thread only.
  struct Capture {
    enum class State { awaiting, capturing, stopping, done };
    std::string label;  // as the user named it: "input", "output:1"
    AudioDevice device;
    std::size_t channel = 0;             // in the mixed file
    std::unique_ptr<WavFileWriter> wav;  // its own file; null when mixed
    State state = State::awaiting;
    bool failed = false;
    bool writeFailed = false;  // its own file
    LevelMeter total;
    LevelMeter window;
    std::uint64_t eventCount = 0;
    std::uint64_t audioEventCount = 0;
    Clock::time_point listenSentAt;
    std::optional<Clock::time_point> firstAudioAt;
    Clock::time_point lastAudioAt;
    Clock::time_point stopSentAt;
  };

  void onPermission(HostCallResult result);
  void requestDevices(AudioDeviceType type);
  void onDevices(AudioDeviceType type, HostCallResult result);
  void printReport();
  bool prepareCaptures();
  bool createFiles();
  void startCapture();
  Capture* captureFor(const NativeAudioEvent& event);
  void onEvent(const NativeAudioEvent& event);
  void onAudio(Capture& capture, const std::vector<std::optional<double>>& audio);
  bool writeMixed(bool everything);
  void handleInterrupt();
  void showMeter(Clock::time_point now);
  // Unlistens and waits for deviceStop.
  void requestStop(Capture& capture, bool failed);
  void captureDone(Capture& capture);
  void finishCaptures();
  void printSummary();
  std::string saveFile(WavFileWriter& wav, bool good, int& status);
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
  std::vector<Capture> captures_;
  std::unique_ptr<WavFileWriter> mixed_;  // with --mix
  std::optional<ChannelAligner> aligner_;
  bool writeFailed_ = false;
  std::uint64_t targetSamples_ = 0;  // 0: until interrupted
  Clock::time_point startedAt_;
  std::optional<Clock::time_point> lastTickAt_;
  std::int64_t lastMeterSecond_ = 0;
  bool terminated_ = false;
  std::vector<float> scratch_;
};

}  // namespace harkwell
