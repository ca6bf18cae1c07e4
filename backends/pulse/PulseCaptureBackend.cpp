#include "backends/pulse/PulseCaptureBackend.h"

#include <algorithm>
#include <exception>

#include "backends/pulse/PulseDeviceList.h"
#include "backends/pulse/PulseDisplayStream.h"
#include "backends/pulse/PulseMicrophoneCapture.h"

namespace harkwell {

namespace {

// Both names the microphone discovery may ask for; other device types list nothing.
bool isMicrophoneType(const std::string& deviceType) {
  return deviceType == "AVCaptureDeviceTypeMicrophone" ||
         deviceType == "AVCaptureDeviceTypeBuiltInMicrophone";
}

}  // namespace

std::shared_ptr<PulseCaptureBackend> PulseCaptureBackend::create(Options options,
                                                                 std::string* whyNot) {
  try {
    auto backend = std::make_shared<PulseCaptureBackend>(options);
    const auto deadline = PulseConnection::Clock::now() + options.probeDeadline;
    switch (backend->connection_->reachability(deadline)) {
      case PulseReachability::reachable:
        return backend;
      case PulseReachability::denied:
        if (whyNot) *whyNot = "the sound server refused the connection";
        return nullptr;
      case PulseReachability::unreachable:
        if (whyNot) *whyNot = "no sound server answered";
        return nullptr;
    }
  } catch (const std::exception& error) {
    if (whyNot) *whyNot = error.what();
  }
  return nullptr;
}

std::shared_ptr<PulseCaptureBackend> PulseCaptureBackend::create(std::string* whyNot) {
  return create(Options(), whyNot);
}

PulseCaptureBackend::PulseCaptureBackend(const Options& options)
    : connection_(std::make_shared<PulseConnection>(options.connection)) {}

std::vector<MicrophoneInfo> PulseCaptureBackend::microphones(const std::string& deviceType) {
  if (!isMicrophoneType(deviceType)) return {};
  std::optional<PulseInventory> inventory = connection_->inventory(connection_->deadlineFromNow());
  if (!inventory) return {};
  std::vector<MicrophoneInfo> result;
  for (PulseMicrophone& microphone :
       microphonesFrom(inventory->sources, inventory->defaultSourceName)) {
    result.push_back({std::move(microphone.uniqueID), std::move(microphone.localizedName)});
  }
  return result;
}

CaptureAuthorizationStatus PulseCaptureBackend::microphoneAuthorizationStatus() {
  switch (connection_->reachability(connection_->deadlineFromNow())) {
    case PulseReachability::reachable:
      return CaptureAuthorizationStatus::authorized;
    case PulseReachability::denied:
      return CaptureAuthorizationStatus::denied;
    case PulseReachability::unreachable:
      break;
  }
  return CaptureAuthorizationStatus::restricted;
}

void PulseCaptureBackend::requestMicrophoneAccess(std::function<void(bool granted)> completion) {
  const bool granted = microphoneAuthorizationStatus() == CaptureAuthorizationStatus::authorized;
  if (completion) completion(granted);
}

std::unique_ptr<MicrophoneCapture> PulseCaptureBackend::openMicrophone(
    const std::string& uniqueID) {
  std::optional<PulseInventory> inventory = connection_->inventory(connection_->deadlineFromNow());
  if (!inventory) {
    throw makeCaptureError(CaptureErrorCode::deviceUnavailable,
                           "The sound server cannot be reached");
  }
  const auto microphones = microphonesFrom(inventory->sources, inventory->defaultSourceName);
  const bool known = std::any_of(microphones.begin(), microphones.end(),
                                 [&](const PulseMicrophone& m) { return m.uniqueID == uniqueID; });
  if (!known) {
    throw makeCaptureError(CaptureErrorCode::deviceNotFound, "No microphone named " + uniqueID);
  }
  return std::make_unique<PulseMicrophoneCapture>(connection_, uniqueID);
}

void PulseCaptureBackend::getShareableContent(
    std::function<void(ShareableContentAnswer)> completion) {
  ShareableContentAnswer answer;
  std::optional<PulseInventory> inventory = connection_->inventory(connection_->deadlineFromNow());
  if (!inventory) {
    answer.error =
        makeCaptureError(CaptureErrorCode::deviceUnavailable, "The sound server cannot be reached");
  } else {
    for (const PulseDisplay& display : displaysFrom(inventory->sinks, inventory->defaultSinkName)) {
      answer.displays.push_back({display.displayID});
    }
  }
  if (completion) completion(std::move(answer));
}

std::unique_ptr<DisplayStream> PulseCaptureBackend::openDisplayStream(
    std::uint32_t displayID, DisplayStreamSettings settings, StreamStoppedHandler stopped) {
  return std::make_unique<PulseDisplayStream>(connection_, displayID, settings, std::move(stopped));
}

}  // namespace harkwell
