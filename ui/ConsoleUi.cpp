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

std::string samplesAsSeconds(std::uint64_t samples) {
  return formatSeconds(static_cast<double>(samples) / kSampleRate, 3) + " s";
}

// A bar for the peak level over -60 … 0 dBFS.
std::string levelBar(double peak, int width) {
  const double db = peak > 1e-10 ? 20.0 * std::log10(peak) : -120.0;
  const int filled =
      std::clamp(static_cast<int>(std::lround((db + 60.0) / 60.0 * width)), 0, width);
  return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
}

std::string absolutePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.string();
}

std::string describe(const AudioDevice& device) {
  return device.name + " (" + SourceChoice{device.type, device.id}.text() + ")";
}

// `path` with "-LABEL" before its extension, LABEL reduced to characters that
// are safe in a file name: "call.wav" and "output:1" give "call-output_1.wav".
std::string pathForSource(const std::string& path, const std::string& label) {
  std::string safe = label;
  for (char& c : safe) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.';
    if (!plain) c = '_';
  }
  const std::filesystem::path original(path);
  std::filesystem::path named = original;
  named.replace_filename(original.stem().string() + "-" + safe + original.extension().string());
  return named.string();
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

bool ConsoleUi::prepareCaptures() {
  for (const std::string& text : options_.sources) {
    const std::optional<SourceChoice> choice = parseSourceChoice(text);
    if (!choice) {
      fail(usageExitStatus,
           "unknown source '" + text + "': expected input or output, optionally followed by :ID");
      return false;
    }
    const bool input = choice->type == AudioDeviceType::input;
    std::string whyNot;
    std::optional<AudioDevice> device =
        selectSource(*choice, input ? microphones_ : displays_, whyNot);
    if (!device) {
      fail(usageExitStatus, whyNot);
      return false;
    }
    if (input && !permission_.mic) {
      fail(failureExitStatus,
           "the microphone permission is missing: grant it in the system settings, then try "
           "again");
      return false;
    }
    if (!input && !permission_.system) {
      fail(failureExitStatus,
           "the screen capture permission, which system audio needs, is missing: grant it in "
           "the system settings, then try again");
      return false;
    }
    for (const Capture& other : captures_) {
      if (other.device.id == device->id && other.device.type == device->type) {
        fail(usageExitStatus,
             "'" + text + "' and '" + other.label + "' are the same source, " + describe(*device));
        return false;
      }
    }
    Capture capture;
    capture.label = text;
    capture.device = *device;
    capture.channel = captures_.size();
    captures_.push_back(std::move(capture));
  }
  return true;
}

bool ConsoleUi::createFiles() {
  std::string names;
  for (const Capture& capture : captures_) {
    names += (names.empty() ? "" : ", ") + describe(capture.device);
  }
  WavFileWriter::Metadata metadata{"harkwell", "Captured by harkwell from " + names};
  if (settings_.simulatedBackend) {
    metadata.comment += "; simulated audio backend: generated test tones, not a recording";
  }
  // Created before listening, so that an unusable path costs no capture.
  const auto create = [&](const std::string& path, int channels) -> std::unique_ptr<WavFileWriter> {
    std::string error;
    auto writer = WavFileWriter::create(path, channels, metadata, error);
    if (!writer) fail(failureExitStatus, "cannot write the WAV file '" + path + "': " + error);
    return writer;
  };
  if (options_.mix || captures_.size() == 1) {
    const int channels = static_cast<int>(captures_.size());
    if (!(mixed_ = create(options_.wavPath, channels))) return false;
    if (channels > 1) aligner_.emplace(captures_.size());
    return true;
  }
  for (Capture& capture : captures_) {
    if (!(capture.wav = create(pathForSource(options_.wavPath, capture.label), 1))) return false;
  }
  return true;
}

void ConsoleUi::startCapture() {
  if (!prepareCaptures() || !createFiles()) {
    // Temporary files already made hold nothing and go with their writers.
    captures_.clear();
    mixed_.reset();
    return;
  }
  targetSamples_ = static_cast<std::uint64_t>(std::llround(options_.seconds * kSampleRate));
  std::string what;
  for (const Capture& capture : captures_) {
    what += (what.empty() ? "" : " and ") + describe(capture.device);
    if (capture.wav) what += " into " + capture.wav->target();
  }
  if (mixed_) what += " into " + mixed_->target();
  output_.line("Capturing " + what +
               (targetSamples_ > 0 ? " for " + formatSeconds(options_.seconds, 1) + " s"
                                   : std::string(" until Ctrl-C")) +
               "; Ctrl-C stops");
  phase_ = Phase::capturing;
  startedAt_ = settings_.now();
  for (Capture& capture : captures_) {
    capture.listenSentAt = startedAt_;
    const std::size_t index = capture.channel;
    channels_->call("listen", CodecList{CodecCustomValue::make(capture.device)},
                    [this, index](HostCallResult result) {
                      if (phase_ != Phase::capturing) return;
                      Capture& capture = captures_[index];
                      if (result.ok() || capture.state != Capture::State::awaiting) return;
                      output_.line("harkwell: the host could not listen to " +
                                   describe(capture.device) + ": " + result.error);
                      requestStop(capture, true);
                    });
  }
}

ConsoleUi::Capture* ConsoleUi::captureFor(const NativeAudioEvent& event) {
  for (Capture& capture : captures_) {
    if (capture.device.id == event.id && capture.device.type == event.type) return &capture;
  }
  return nullptr;
}

void ConsoleUi::onEvent(const NativeAudioEvent& event) {
  if (phase_ != Phase::capturing) return;
  Capture* capture = captureFor(event);
  if (capture == nullptr || capture->state == Capture::State::done) return;
  ++capture->eventCount;
  switch (event.eventType) {
    case NativeAudioEventType::deviceAudioData:
      if (event.audioData) onAudio(*capture, *event.audioData);
      break;
    case NativeAudioEventType::deviceStop:
      if (event.error) {
        output_.line("harkwell: " + describe(capture->device) + " stopped: " + *event.error);
        capture->failed = true;
      } else if (capture->state != Capture::State::stopping) {
        output_.line("harkwell: the host stopped the capture of " + describe(capture->device));
        if (capture->total.sampleCount() == 0) capture->failed = true;
      }
      captureDone(*capture);
      break;
    default:
      break;
  }
}

void ConsoleUi::onAudio(Capture& capture, const std::vector<std::optional<double>>& audio) {
  if (capture.writeFailed || (!capture.wav && writeFailed_)) return;
  ++capture.audioEventCount;
  const Clock::time_point now = settings_.now();
  if (!capture.firstAudioAt) {
    capture.firstAudioAt = now;
    if (capture.state == Capture::State::awaiting) capture.state = Capture::State::capturing;
  }
  capture.lastAudioAt = now;
  scratch_.clear();
  scratch_.reserve(audio.size());
  for (const std::optional<double>& sample : audio) {
    // A missing or non-finite sample is written as silence rather than
    // poisoning the file and the meter.
    scratch_.push_back(sample && std::isfinite(*sample) ? static_cast<float>(*sample) : 0.0f);
  }
  if (targetSamples_ > 0) {
    // Exactly the length asked for: what arrives after it, until the host
    // confirms the stop, is not part of the recording.
    const std::uint64_t left =
        targetSamples_ - std::min(targetSamples_, capture.total.sampleCount());
    if (scratch_.size() > left) scratch_.resize(left);
    if (scratch_.empty()) return;
  }
  capture.total.add(scratch_);
  capture.window.add(scratch_);
  bool written = true;
  if (aligner_) {
    const auto endFrame =
        static_cast<std::int64_t>(std::llround(secondsBetween(startedAt_, now) * kSampleRate));
    aligner_->add(capture.channel, scratch_, endFrame);
    written = writeMixed(false);
  } else {
    WavFileWriter& wav = capture.wav ? *capture.wav : *mixed_;
    std::string error;
    written = wav.write(scratch_, error);
    if (!written) {
      output_.line("harkwell: cannot write the WAV file '" + wav.target() + "': " + error);
      (capture.wav ? capture.writeFailed : writeFailed_) = true;
    }
  }
  if (!written) {
    // What cannot be saved is not recorded any more: every source feeding
    // this file stops.
    for (Capture& other : captures_) {
      if (&other != &capture && (capture.wav || other.wav)) continue;
      other.failed = true;
      requestStop(other, true);
    }
    return;
  }
  if (capture.state == Capture::State::capturing && targetSamples_ > 0 &&
      capture.total.sampleCount() >= targetSamples_) {
    requestStop(capture, false);
  }
}

bool ConsoleUi::writeMixed(bool everything) {
  if (!aligner_ || writeFailed_) return !writeFailed_;
  const std::vector<float> frames = everything ? aligner_->takeAll() : aligner_->takeReady();
  std::string error;
  if (mixed_->write(frames, error)) return true;
  output_.line("harkwell: cannot write the WAV file '" + mixed_->target() + "': " + error);
  writeFailed_ = true;
  return false;
}

void ConsoleUi::tick() {
  const Clock::time_point now = settings_.now();
  if (lastTickAt_ && now - *lastTickAt_ > settings_.stallLimit) {
    // This process did not run for a while (stopped, or starved): nothing
    // was late for that time but us.
    const Clock::duration stalled = now - *lastTickAt_ - settings_.tickInterval;
    for (Capture& capture : captures_) {
      capture.listenSentAt += stalled;
      capture.lastAudioAt += stalled;
      capture.stopSentAt += stalled;
    }
  }
  lastTickAt_ = now;
  if (phase_ != Phase::capturing) return;
  for (Capture& capture : captures_) {
    if (capture.state == Capture::State::stopping &&
        now - capture.stopSentAt >= settings_.stopTimeout) {
      output_.line("harkwell: the host did not confirm the stop of " + capture.device.name +
                   "; keeping what arrived");
      captureDone(capture);
      if (phase_ != Phase::capturing) return;
    }
  }
  if (aligner_) {
    // A source that has sent nothing for a second is silent (suspended, say):
    // its channel gets silence, and the others' audio need not wait for it.
    aligner_->padTo(static_cast<std::int64_t>(secondsBetween(startedAt_, now) * kSampleRate) -
                    static_cast<std::int64_t>(kSampleRate));
    if (!writeMixed(false)) {
      for (Capture& capture : captures_) requestStop(capture, true);
      return;
    }
  }
  showMeter(now);
}

void ConsoleUi::showMeter(Clock::time_point now) {
  const double elapsed = secondsBetween(startedAt_, now);
  if (!output_.inPlace()) {
    // One line a second when the output is not a terminal.
    const auto second = static_cast<std::int64_t>(elapsed);
    if (second <= lastMeterSecond_) return;
    lastMeterSecond_ = second;
  }
  std::string text = formatSeconds(elapsed, 1) + " s";
  const bool several = captures_.size() > 1;
  for (Capture& capture : captures_) {
    text += "  ";
    if (several) text += capture.label + ": ";
    if (capture.state == Capture::State::done) {
      text += "ended";
    } else if (const Clock::time_point quietSince =
                   capture.firstAudioAt ? capture.lastAudioAt : capture.listenSentAt;
               capture.state != Capture::State::stopping &&
               now - quietSince > std::chrono::seconds(1)) {
      text += "waiting: no audio for " + formatSeconds(secondsBetween(quietSince, now), 0) +
              " s (source suspended?)";
    } else if (several) {
      text += LevelMeter::formatDbfs(capture.window.peak()) + " dBFS " +
              levelBar(capture.window.peak(), 20);
    } else {
      text += "peak " + LevelMeter::formatDbfs(capture.window.peak()) + " dBFS  RMS " +
              LevelMeter::formatDbfs(capture.window.rms()) + " dBFS  " +
              levelBar(capture.window.peak(), 30);
    }
    capture.window.reset();
  }
  output_.status(text);
}

void ConsoleUi::handleInterrupt() {
  switch (phase_) {
    case Phase::idle:
    case Phase::listing:
      fail(interruptedExitStatus, "interrupted");
      break;
    case Phase::capturing:
      output_.line("harkwell: stopping the capture (Ctrl-C again quits at once)");
      for (Capture& capture : captures_) requestStop(capture, false);
      break;
    default:
      break;
  }
}

void ConsoleUi::requestStop(Capture& capture, bool failed) {
  if (capture.state != Capture::State::awaiting && capture.state != Capture::State::capturing) {
    return;
  }
  capture.failed = capture.failed || failed;
  capture.state = Capture::State::stopping;
  capture.stopSentAt = settings_.now();
  const std::size_t index = capture.channel;
  channels_->call("unlisten", CodecList{CodecCustomValue::make(capture.device)},
                  [this, index](HostCallResult result) {
                    if (result.ok() || phase_ != Phase::capturing) return;
                    Capture& capture = captures_[index];
                    if (capture.state != Capture::State::stopping) return;
                    // No deviceStop will come for a call that failed.
                    output_.line("harkwell: the host could not unlisten " +
                                 describe(capture.device) + ": " + result.error);
                    captureDone(capture);
                  });
}

void ConsoleUi::captureDone(Capture& capture) {
  capture.state = Capture::State::done;
  const bool allDone = std::all_of(captures_.begin(), captures_.end(), [](const Capture& c) {
    return c.state == Capture::State::done;
  });
  if (allDone) finishCaptures();
}

std::string ConsoleUi::saveFile(WavFileWriter& wav, bool good, int& status) {
  std::string error;
  if (good) {
    if (wav.commit(error)) {
      return "Wrote " + absolutePath(wav.target()) + " (" + samplesAsSeconds(wav.framesOnDisk()) +
             ")";
    }
    output_.line("harkwell: cannot finish the WAV file '" + wav.target() + "': " + error);
    status = failureExitStatus;
  }
  wav.keepTemporary();
  std::error_code ignored;
  if (wav.framesOnDisk() > 0 && std::filesystem::exists(wav.temporaryPath(), ignored)) {
    return "Kept the " + samplesAsSeconds(wav.framesOnDisk()) + " saved in " +
           absolutePath(wav.temporaryPath()) + "; " + wav.target() + " is left as it was";
  }
  std::filesystem::remove(wav.temporaryPath(), ignored);
  return "Nothing was saved; " + wav.target() + " is left as it was";
}

void ConsoleUi::finishCaptures() {
  output_.endStatus();
  int status = 0;
  for (const Capture& capture : captures_) {
    if (capture.failed) status = failureExitStatus;
  }
  if (writeFailed_) status = failureExitStatus;
  if (!writeMixed(true)) status = failureExitStatus;
  std::vector<std::string> files;
  // A file replaces its target only when it holds audio and every source
  // feeding it ended well; otherwise what was saved stays beside it.
  const auto hasAudio = [](const Capture& c) { return c.total.sampleCount() > 0; };
  for (Capture& capture : captures_) {
    if (capture.wav) {
      files.push_back(saveFile(*capture.wav, !capture.failed && hasAudio(capture), status));
    }
  }
  if (mixed_) {
    const bool good = status == 0 && std::any_of(captures_.begin(), captures_.end(), hasAudio);
    files.push_back(saveFile(*mixed_, good, status));
  }
  printSummary();
  for (const std::string& line : files) output_.line(line);
  finish(status);
}

void ConsoleUi::printSummary() {
  const auto row = [this](const char* label, const std::string& value) {
    output_.line(std::string("  ") + label + value);
  };
  output_.line("Summary");
  if (!settings_.backend.empty()) {
    row("backend:           ",
        settings_.backend +
            (settings_.simulatedBackend ? ": generated test tones, not a recording" : ""));
  }
  for (const Capture& capture : captures_) {
    row("source:            ", describe(capture.device));
    row("events received:   ", std::to_string(capture.eventCount) + " (" +
                                   std::to_string(capture.audioEventCount) + " with audio)");
    // What the file holds, which after a failed write is less than arrived.
    const WavFileWriter& wav = capture.wav ? *capture.wav : *mixed_;
    const std::uint64_t received = capture.total.sampleCount();
    const std::uint64_t saved =
        captures_.size() == 1 || capture.wav ? std::min(received, wav.framesOnDisk()) : received;
    row("samples:           ",
        std::to_string(saved) + (saved < received
                                     ? " saved (" + std::to_string(received) + " received)"
                                     : std::string()));
    row("seconds of audio:  ", samplesAsSeconds(saved));
    row("first audio after: ",
        capture.firstAudioAt
            ? formatSeconds(secondsBetween(capture.listenSentAt, *capture.firstAudioAt) * 1000, 0) +
                  " ms"
            : std::string("no audio arrived"));
    row("peak:              ", LevelMeter::formatDbfs(capture.total.peak()) + " dBFS");
    row("RMS:               ", LevelMeter::formatDbfs(capture.total.rms()) + " dBFS");
  }
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
