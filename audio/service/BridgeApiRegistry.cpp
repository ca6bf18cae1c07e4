// The capture registry: listen, its microphone and display branches, unlisten,
// and the ends that captures report by themselves.
//
// The registry map is touched on the main thread only (asserted at every entry
// point). The display branch registers a pending entry, waits for the
// platform's display list on a background task, and hands the display back to
// the main thread, which creates, stores and starts the controller and sends
// deviceStart, but only while the pending entry still holds the generation of
// that listen: an unlisten in between removed it (the start is cancelled and
// the UI hears nothing of it), a newer listen cannot have replaced it (a listen
// finds the pending entry and does nothing).
//
// The events of one capture come in one order: the controller sends
// deviceStart on its audio queue, ahead of the first audio block, and the
// registry sends deviceStop only after the controller's stop() has made sure
// that no audio follows. A capture that ends by itself reports it on a platform
// thread; the news hops to the main thread, which tells the UI once, with the
// reason, unless the capture was stopped or replaced in the meantime.
#include <exception>
#include <optional>
#include <utility>

#include "audio/capture/CaptureInputAudioController.h"
#include "audio/capture/CaptureStreamAudioController.h"
#include "audio/capture/HostLog.h"
#include "audio/service/BridgeApi.h"
#include "platform/dispatch/BackgroundTasks.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/LogLine.h"

namespace harkwell {

namespace {

constexpr const char* inputFailureLine = "failed to listen input device ";
constexpr const char* outputFailureLine = "failed to listen output device ";
// For an end whose own reason had not reached the main thread yet.
constexpr const char* endedReason = "The capture ended";

}  // namespace

BridgeApi::Controllers BridgeApi::controllers() const {
  mainThread.assertIsCurrent();
  Controllers controllers;
  for (const auto& [id, capture] : captures_) {
    if (capture.controller) controllers.emplace(id, capture.controller);
  }
  return controllers;
}

void BridgeApi::listen(const AudioDevice& device) {
  mainThread.assertIsCurrent();
  try {
    if (auto entry = captures_.find(device.id); entry != captures_.end()) {
      Capture& capture = entry->second;
      // A display start under way or a running capture: nothing to do.
      if (!capture.controller) return;
      if (!capture.stopTold && capture.controller->isRunning()) return;
      if (!capture.stopTold) {
        // It ended by itself and the news is still on its way here: told now,
        // so that its events close before the fresh capture's begin.
        capture.controller->stop();
        sendDeviceEvent(device.id, capture.type, NativeAudioEventType::deviceStop, endedReason);
      }
      captures_.erase(entry);
    }
    if (device.type == AudioDeviceType::output) {
      listenToOutputDevice(device);
    } else {
      listenToInputDevice(device);
    }
  } catch (const std::exception& error) {
    // The UI is never told of a failure through the reply; this is a fault of
    // our own (out of memory, say), not one of the device's.
    writeDiagnostic("listen " + device.id + " failed: " + error.what());
  }
}

BridgeApi::Capture& BridgeApi::store(const std::string& id, AudioDeviceType type,
                                     std::shared_ptr<AudioController> controller) {
  Capture& capture = captures_[id];
  if (capture.generation == 0) capture.generation = ++nextGeneration_;
  capture.type = type;
  capture.controller = std::move(controller);
  capture.stopTold = false;
  // The controller holds the handler, so it holds this object weakly.
  capture.controller->setEndedHandler(
      [weakSelf = weak_from_this(), id, generation = capture.generation](std::string reason) {
        // Thread hop: reported on a platform thread; the registry belongs to
        // the main thread (see the top of this file).
        DispatchQueue::main().async([weakSelf, id, generation, reason = std::move(reason)] {
          mainThread.assertIsCurrent();
          if (auto self = weakSelf.lock()) self->captureEnded(id, generation, reason);
        });
      });
  return capture;
}

void BridgeApi::listenToInputDevice(const AudioDevice& device) {
  std::optional<AVCaptureDevice> microphone;
  for (const AVCaptureDevice& candidate : getInputDevices()) {
    if (candidate.uniqueID() == device.id) {
      microphone = candidate;
      break;
    }
  }
  if (!microphone) return;

  std::shared_ptr<AudioController> controller;
  try {
    controller = CaptureInputAudioController::create(device.id, *microphone, flutterApi_);
  } catch (...) {
    // The error's own text is not part of the line; the UI side's log readers
    // know the line by its fixed start and the name they passed.
    HostLog::writeLine(inputFailureLine + device.name);
    return;
  }
  store(device.id, AudioDeviceType::input, controller);
  controller->start();
  if (!controller->isRunning()) {
    controller->stop();
    if (controller->startWasSent()) {
      // It ran long enough to send audio, and so deviceStart, before it
      // stopped by itself: an end like any other, told now.
      captures_[device.id].stopTold = true;
      sendDeviceEvent(device.id, AudioDeviceType::input, NativeAudioEventType::deviceStop,
                      endedReason);
      return;
    }
    // A session that would not run (the device went away or is held by someone
    // else) is a failed listen: telling the UI "started" would leave it waiting
    // for audio that never comes.
    captures_.erase(device.id);
    HostLog::writeLine(inputFailureLine + device.name);
    return;
  }
  controller->announceStart();
}

void BridgeApi::listenToOutputDevice(const AudioDevice& device) {
  Capture& pending = captures_[device.id];
  pending.generation = ++nextGeneration_;
  pending.type = AudioDeviceType::output;
  // The task holds this object and its own copy of the device.
  BackgroundTasks::detach([self = shared_from_this(), device, generation = pending.generation] {
    std::optional<SCDisplay> display;
    try {
      for (const SCDisplay& candidate : self->getOuputDevices()) {
        if (displayId(candidate) == device.id) {
          display = candidate;
          break;
        }
      }
    } catch (const std::exception& error) {
      writeDiagnostic("listen " + device.id + " failed: " + error.what());
    }
    // Thread hop: the registry belongs to the main thread (see the top of this
    // file); also without a display, whose pending entry has to go.
    DispatchQueue::main().async([self, device, generation, display] {
      mainThread.assertIsCurrent();
      self->startDisplay(device, generation, display);
    });
  });
}

void BridgeApi::startDisplay(const AudioDevice& device, std::uint64_t generation,
                             const std::optional<SCDisplay>& display) {
  try {
    auto entry = captures_.find(device.id);
    // Cancelled by an unlisten, or a fresh listen after it took the id.
    if (entry == captures_.end() || entry->second.generation != generation ||
        entry->second.controller) {
      return;
    }
    if (!display) {
      captures_.erase(entry);
      return;
    }
    std::shared_ptr<AudioController> controller;
    try {
      controller = CaptureStreamAudioController::create(device.id, *display, flutterApi_);
    } catch (...) {
      captures_.erase(entry);
      HostLog::writeLine(outputFailureLine + device.name);
      return;
    }
    store(device.id, AudioDeviceType::output, controller);
    // Returns at once; the controller logs the platform's answer itself, and a
    // refusal comes back as the capture's end.
    controller->start();
    controller->announceStart();
  } catch (const std::exception& error) {
    writeDiagnostic("listen " + device.id + " failed: " + error.what());
  }
}

void BridgeApi::captureEnded(const std::string& id, std::uint64_t generation,
                             const std::string& reason) {
  try {
    auto entry = captures_.find(id);
    if (entry == captures_.end()) return;
    Capture& capture = entry->second;
    // Stopped by an unlisten, or replaced by a fresh capture, in the meantime.
    if (capture.generation != generation || !capture.controller || capture.stopTold) return;
    capture.controller->stop();
    capture.stopTold = true;
    sendDeviceEvent(id, capture.type, NativeAudioEventType::deviceStop, reason);
  } catch (const std::exception& error) {
    writeDiagnostic("end of " + id + " failed: " + error.what());
  }
}

void BridgeApi::unlisten(const AudioDevice& device) {
  mainThread.assertIsCurrent();
  try {
    auto entry = captures_.find(device.id);
    if (entry == captures_.end()) return;
    Capture& capture = entry->second;
    if (!capture.controller) {
      // A display start still waiting for the display list: cancelled. The
      // UI got no deviceStart for it, so it gets no deviceStop either.
      captures_.erase(entry);
      return;
    }
    if (!capture.stopTold) {
      // Stays registered, stopped, until the next listen or unlisten for the
      // id. stop() tears the capture down even when the platform's stop fails.
      capture.controller->stop();
      capture.stopTold = true;
    } else {
      captures_.erase(entry);
    }
    // The type is the one the UI asked with, whatever kind of capture ran.
    sendDeviceEvent(device.id, device.type, NativeAudioEventType::deviceStop);
  } catch (const std::exception& error) {
    writeDiagnostic("unlisten " + device.id + " failed: " + error.what());
  }
}

}  // namespace harkwell
