// The capture registry: listen, its microphone and display branches, unlisten.
//
// The registry map is touched on the main thread only. The display branch
// waits for the platform's display list on a background task, and creating and
// starting the controller happen there too; the finished controller is then
// handed to the main thread, which stores it and sends deviceStart. So listen
// and unlisten never race a task over the map, and the order of effects stays:
// start requested, stored, deviceStart. A listen or unlisten that arrives while
// a task is still under way sees the id as it would have before the task's
// store, exactly as when the task had not yet reached it.
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

}  // namespace

void BridgeApi::listen(const AudioDevice& device) {
  try {
    if (auto entry = controllers_.find(device.id); entry != controllers_.end()) {
      if (entry->second->isRunning()) return;
      // A capture that is starting, stopped or failed gives way to a fresh one.
      // Dropping it here also stops a display stream whose start is pending.
      controllers_.erase(entry);
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
  controllers_[device.id] = controller;
  controller->start();
  if (!controller->isRunning()) {
    // A session that would not run (the device went away or is held by someone
    // else) is a failed listen: telling the UI "started" would leave it waiting
    // for audio that never comes.
    controllers_.erase(device.id);
    HostLog::writeLine(inputFailureLine + device.name);
    return;
  }
  sendDeviceEvent(device.id, AudioDeviceType::input, NativeAudioEventType::deviceStart);
}

void BridgeApi::listenToOutputDevice(const AudioDevice& device) {
  // The task holds this object and its own copy of the device.
  BackgroundTasks::detach([self = shared_from_this(), device] {
    try {
      std::optional<SCDisplay> display;
      for (const SCDisplay& candidate : self->getOuputDevices()) {
        if (displayId(candidate) == device.id) {
          display = candidate;
          break;
        }
      }
      if (!display) return;

      std::shared_ptr<AudioController> controller;
      try {
        controller = CaptureStreamAudioController::create(device.id, *display, self->flutterApi_);
      } catch (...) {
        HostLog::writeLine(outputFailureLine + device.name);
        return;
      }
      // Returns at once; the controller logs the platform's answer itself.
      controller->start();
      // Thread hop: the registry belongs to the main thread (see the top of
      // this file). deviceStart goes out there, right after the store.
      DispatchQueue::main().async(
          [self, id = device.id, controller = std::move(controller)]() mutable {
            self->storeStartedDisplay(id, std::move(controller));
          });
    } catch (const std::exception& error) {
      writeDiagnostic("listen " + device.id + " failed: " + error.what());
    }
  });
}

void BridgeApi::storeStartedDisplay(const std::string& id,
                                    std::shared_ptr<AudioController> controller) {
  try {
    // Two listens that both found no running entry each made a controller; the
    // one stored last holds the entry. The one it displaces dies at the end of
    // this call, which stops its stream.
    std::shared_ptr<AudioController> displaced = std::exchange(controllers_[id], controller);
    sendDeviceEvent(id, AudioDeviceType::output, NativeAudioEventType::deviceStart);
  } catch (const std::exception& error) {
    writeDiagnostic("listen " + id + " failed: " + error.what());
  }
}

void BridgeApi::unlisten(const AudioDevice& device) {
  try {
    auto entry = controllers_.find(device.id);
    if (entry == controllers_.end()) return;
    if (entry->second->isRunning()) {
      // Stays registered, stopped (or stopping), until the next listen or
      // unlisten for the id.
      entry->second->stop();
    } else {
      controllers_.erase(entry);
    }
    // The type is the one the UI asked with, whatever kind of capture ran.
    sendDeviceEvent(device.id, device.type, NativeAudioEventType::deviceStop);
  } catch (const std::exception& error) {
    writeDiagnostic("unlisten " + device.id + " failed: " + error.what());
  }
}

}  // namespace harkwell
