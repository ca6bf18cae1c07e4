#include "ui/ConsoleUi.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "ui/SourceChoice.h"

namespace harkwell {
namespace {

constexpr double kSampleRate = WavFileWriter::sampleRate;

const char* grantedText(bool granted) {
  return granted ? "granted" : "missing";
}

std::string formatSeconds(double seconds, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, seconds);
  return text;
}

double secondsBetween(ConsoleUi::Clock::time_point from, ConsoleUi::Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// A bar for the peak level over -60 … 0 dBFS.
std::string levelBar(double peak) {
  constexpr int width = 30;
  const double db = peak > 1e-10 ? 20.0 * std::log10(peak) : -120.0;
  const int filled =
      std::clamp(static_cast<int>(std::lround((db + 60.0) / 60.0 * width)), 0, width);
  return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
}

double timeoutSeconds(std::chrono::milliseconds timeout) {
  return std::chrono::duration<double>(timeout).count();
}

std::string absolutePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.string();
}

}  // namespace

ConsoleUi::ConsoleUi(ConsoleOptions options, Terminate terminate, Settings settings)
    : options_(std::move(options)),
      terminate_(std::move(terminate)),
      settings_(std::move(settings)),
      output_(settings_.output, settings_.terminal && !options_.trace) {}

ConsoleUi::~ConsoleUi() {
  if (ticker_) ticker_->stop();
}

void ConsoleUi::run(FlutterUiSide& ui) {
  channels_ = std::make_unique<ConsoleChannels>(ui, output_, options_.trace);
  // `this` outlives the engine that delivers these (see the class comment).
  channels_->setEventHandler([this](const NativeAudioEvent& event) { onEvent(event); });
  if (settings_.tickInterval.count() > 0) {
    // The ticker only hands the tick to the UI thread, where all state lives.
    ticker_ = std::make_unique<ConsoleTicker>(settings_.tickInterval,
                                              [this, &ui] { ui.post([this] { tick(); }); });
  }
  bool interrupted = false;
  {
    MutexLock lock(mutex_);
    ui_ = &ui;
    interrupted = std::exchange(interruptPending_, false);
  }
  phase_ = Phase::listing;
  if (interrupted) {
    handleInterrupt();
    return;
  }
  channels_->call("checkPermission", CodecNull{},
                  [this](HostCallResult result) { onPermission(std::move(result)); });
}

void ConsoleUi::interrupt() {
  MutexLock lock(mutex_);
  if (ui_ == nullptr) {
    // The engine has not started the UI yet: run() acts on it.
    interruptPending_ = true;
    return;
  }
  // From the signal thread to the UI thread, where the capture state lives.
  ui_->post([this] { handleInterrupt(); });
}

void ConsoleUi::onPermission(HostCallResult result) {
  if (phase_ != Phase::listing) return;
  const AudioPermission* permission =
      result.ok() ? result.value->custom<AudioPermission>() : nullptr;
  if (permission == nullptr) {
    fail(failureExitStatus,
         "cannot read the permissions: " +
             (result.ok() ? std::string("the reply holds no AudioPermission") : result.error));
    return;
  }
  permission_ = *permission;
  output_.line(std::string("Permissions: microphone ") + grantedText(permission_.mic) +
               ", system audio (screen capture) " + grantedText(permission_.system));
  requestDevices(AudioDeviceType::input);
}

void ConsoleUi::requestDevices(AudioDeviceType type) {
  // Enumerations travel as plain integers; a Dart int that fits is an int32.
  CodecValue message = CodecList{CodecValue(static_cast<std::int32_t>(type))};
  channels_->call("getDevices", std::move(message),
                  [this, type](HostCallResult result) { onDevices(type, std::move(result)); });
}

void ConsoleUi::onDevices(AudioDeviceType type, HostCallResult result) {
  if (phase_ != Phase::listing) return;
  const char* what = type == AudioDeviceType::input ? "microphones" : "displays";
  const CodecList* list = result.ok() ? result.value->getIf<CodecList>() : nullptr;
  if (list == nullptr) {
    fail(failureExitStatus, std::string("cannot list the ") + what + ": " +
                                (result.ok() ? "the reply holds no list" : result.error));
    return;
  }
  std::vector<AudioDevice> devices;
  for (const CodecValue& element : *list) {
    const AudioDevice* device = element.custom<AudioDevice>();
    if (device == nullptr) {
      fail(failureExitStatus,
           std::string("cannot list the ") + what + ": an element is not an AudioDevice");
      return;
    }
    devices.push_back(*device);
  }
  if (type == AudioDeviceType::input) {
    microphones_ = std::move(devices);
    requestDevices(AudioDeviceType::output);
    return;
  }
  displays_ = std::move(devices);
  printReport();
  if (options_.list) {
    finish(0);
    return;
  }
  startCapture();
}

void ConsoleUi::printReport() {
  const auto printList = [this](const std::string& title, const std::vector<AudioDevice>& list) {
    output_.line(title);
    if (list.empty()) output_.line("    (none)");
    for (const AudioDevice& device : list) {
      output_.line(std::string(device.isDefault ? "  * " : "    ") + device.id + "  " +
                   device.name + (device.isDefault ? "  (default)" : ""));
    }
  };
  printList("Microphones (--source input:ID):", microphones_);
  printList("Displays, for their system audio (--source output:ID):", displays_);
}

void ConsoleUi::startCapture() {
  const std::optional<SourceChoice> choice = parseSourceChoice(options_.source);
  if (!choice) {
    fail(usageExitStatus, "unknown source '" + options_.source +
                              "': expected input or output, optionally followed by :ID");
    return;
  }
  const bool input = choice->type == AudioDeviceType::input;
  std::string whyNot;
  std::optional<AudioDevice> device =
      selectSource(*choice, input ? microphones_ : displays_, whyNot);
  if (!device) {
    fail(usageExitStatus, whyNot);
    return;
  }
  if (input && !permission_.mic) {
    fail(failureExitStatus,
         "the microphone permission is missing: grant it in the system settings, then try again");
    return;
  }
  if (!input && !permission_.system) {
    fail(failureExitStatus,
         "the screen capture permission, which system audio needs, is missing: grant it in the "
         "system settings, then try again");
    return;
  }
  // Opened before listening, so that an unusable path costs no capture.
  std::string error;
  wav_ = WavFileWriter::open(options_.wavPath, error);
  if (!wav_) {
    fail(failureExitStatus, "cannot write the WAV file '" + options_.wavPath + "': " + error);
    return;
  }
  device_ = *device;
  targetSamples_ = static_cast<std::uint64_t>(std::llround(options_.seconds * kSampleRate));
  const std::string source =
      device_.name + " (" + SourceChoice{device_.type, device_.id}.text() + ")";
  output_.line("Capturing " + source +
               (targetSamples_ > 0 ? " for " + formatSeconds(options_.seconds, 1) + " s"
                                   : std::string(" until Ctrl-C")) +
               " into " + options_.wavPath + "; Ctrl-C stops");
  phase_ = Phase::awaitingAudio;
  listenSentAt_ = settings_.now();
  channels_->call("listen", CodecList{CodecCustomValue::make(device_)},
                  [this](HostCallResult result) {
                    if (result.ok() || phase_ != Phase::awaitingAudio) return;
                    output_.line("harkwell: the host could not listen: " + result.error);
                    requestStop(failureExitStatus, true);
                  });
}

void ConsoleUi::onEvent(const NativeAudioEvent& event) {
  if (event.id != device_.id || phase_ == Phase::idle || phase_ == Phase::listing) return;
  ++eventCount_;
  switch (event.eventType) {
    case NativeAudioEventType::deviceAudioData:
      if (event.audioData && (phase_ == Phase::awaitingAudio || phase_ == Phase::capturing ||
                              phase_ == Phase::stopping)) {
        onAudio(*event.audioData);
      }
      break;
    case NativeAudioEventType::deviceStop:
      if (phase_ == Phase::stopping) {
        finishCapture();
      } else if (phase_ == Phase::awaitingAudio || phase_ == Phase::capturing) {
        // A capture that ended by itself says why.
        output_.line("harkwell: the host stopped the capture" +
                     (event.error ? ": " + *event.error : std::string()));
        plannedStatus_ = total_.sampleCount() > 0 ? 0 : failureExitStatus;
        finishCapture();
      }
      break;
    default:
      break;
  }
}

void ConsoleUi::onAudio(const std::vector<std::optional<double>>& audio) {
  if (!wav_) return;
  ++audioEventCount_;
  const Clock::time_point now = settings_.now();
  if (!firstAudioAt_) {
    firstAudioAt_ = now;
    phase_ = phase_ == Phase::awaitingAudio ? Phase::capturing : phase_;
  }
  lastAudioAt_ = now;
  scratch_.clear();
  scratch_.reserve(audio.size());
  for (const std::optional<double>& sample : audio) {
    // A missing or non-finite sample is written as silence rather than
    // poisoning the file and the meter.
    scratch_.push_back(sample && std::isfinite(*sample) ? static_cast<float>(*sample) : 0.0f);
  }
  std::string error;
  if (!wav_->write(scratch_, error)) {
    output_.line("harkwell: cannot write the WAV file '" + wav_->path() + "': " + error);
    wav_.reset();
    requestStop(failureExitStatus, false);
    return;
  }
  total_.add(scratch_);
  window_.add(scratch_);
  if (phase_ == Phase::capturing && targetSamples_ > 0 && total_.sampleCount() >= targetSamples_) {
    requestStop(0, false);
  }
}

void ConsoleUi::tick() {
  const Clock::time_point now = settings_.now();
  switch (phase_) {
    case Phase::awaitingAudio:
      if (now - listenSentAt_ >= settings_.audioTimeout) {
        output_.line("harkwell: no audio from " + device_.name + " within " +
                     formatSeconds(timeoutSeconds(settings_.audioTimeout), 0) + " seconds");
        requestStop(failureExitStatus, true);
      }
      break;
    case Phase::capturing:
      showMeter(now);
      if (now - lastAudioAt_ >= settings_.audioTimeout) {
        output_.line("harkwell: no audio for " +
                     formatSeconds(timeoutSeconds(settings_.audioTimeout), 0) +
                     " seconds: ending the capture");
        requestStop(failureExitStatus, false);
      }
      break;
    case Phase::stopping:
      if (now - stopSentAt_ >= settings_.stopTimeout) {
        output_.line("harkwell: the host did not confirm the stop; keeping what arrived");
        finishCapture();
      }
      break;
    default:
      break;
  }
}

void ConsoleUi::showMeter(Clock::time_point now) {
  const double elapsed = secondsBetween(listenSentAt_, now);
  if (!output_.inPlace()) {
    // One line a second when the output is not a terminal.
    const auto second = static_cast<std::int64_t>(elapsed);
    if (second <= lastMeterSecond_) return;
    lastMeterSecond_ = second;
  }
  output_.status(formatSeconds(elapsed, 1) + " s  peak " + LevelMeter::formatDbfs(window_.peak()) +
                 " dBFS  RMS " + LevelMeter::formatDbfs(window_.rms()) + " dBFS  " +
                 levelBar(window_.peak()));
  window_.reset();
}

void ConsoleUi::handleInterrupt() {
  switch (phase_) {
    case Phase::idle:
    case Phase::listing:
      fail(interruptedExitStatus, "interrupted");
      break;
    case Phase::awaitingAudio:
    case Phase::capturing:
      output_.line("harkwell: stopping the capture (Ctrl-C again quits at once)");
      requestStop(0, false);
      break;
    default:
      break;
  }
}

void ConsoleUi::requestStop(int status, bool removeFile) {
  if (phase_ != Phase::awaitingAudio && phase_ != Phase::capturing) return;
  plannedStatus_ = status;
  removeFile_ = removeFile;
  phase_ = Phase::stopping;
  stopSentAt_ = settings_.now();
  channels_->call("unlisten", CodecList{CodecCustomValue::make(device_)},
                  [this](HostCallResult result) {
                    if (result.ok() || phase_ != Phase::stopping) return;
                    // No deviceStop will come for a call that failed.
                    output_.line("harkwell: the host could not unlisten: " + result.error);
                    finishCapture();
                  });
}

void ConsoleUi::finishCapture() {
  if (phase_ == Phase::finished) return;
  output_.endStatus();
  int status = plannedStatus_;
  std::string path;
  if (wav_) {
    path = wav_->path();
    std::string error;
    if (!wav_->close(error)) {
      output_.line("harkwell: cannot finish the WAV file '" + path + "': " + error);
      status = failureExitStatus;
    }
    wav_.reset();
  }
  printSummary();
  if (!path.empty()) {
    if (removeFile_) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    } else if (status == 0 || total_.sampleCount() > 0) {
      output_.line("Wrote " + absolutePath(path) + " (" +
                   formatSeconds(static_cast<double>(total_.sampleCount()) / kSampleRate, 3) +
                   " s, 16000 Hz mono float)");
    }
  }
  finish(status);
}

void ConsoleUi::printSummary() {
  const auto row = [this](const char* label, const std::string& value) {
    output_.line(std::string("  ") + label + value);
  };
  output_.line("Summary");
  row("source:            ",
      device_.name + " (" + SourceChoice{device_.type, device_.id}.text() + ")");
  row("events received:   ",
      std::to_string(eventCount_) + " (" + std::to_string(audioEventCount_) + " with audio)");
  row("samples:           ", std::to_string(total_.sampleCount()));
  row("seconds of audio:  ",
      formatSeconds(static_cast<double>(total_.sampleCount()) / kSampleRate, 3) + " s");
  row("first audio after: ",
      firstAudioAt_ ? formatSeconds(secondsBetween(listenSentAt_, *firstAudioAt_) * 1000, 0) + " ms"
                    : std::string("no audio arrived"));
  row("peak:              ", LevelMeter::formatDbfs(total_.peak()) + " dBFS");
  row("RMS:               ", LevelMeter::formatDbfs(total_.rms()) + " dBFS");
}

void ConsoleUi::fail(int status, const std::string& message) {
  output_.line("harkwell: " + message);
  finish(status);
}

void ConsoleUi::finish(int status) {
  if (std::exchange(terminated_, true)) return;
  phase_ = Phase::finished;
  // Joins the ticker thread, which only ever posts, so it cannot wait on us.
  if (ticker_) ticker_->stop();
  if (terminate_) terminate_(status);
}

}  // namespace harkwell
