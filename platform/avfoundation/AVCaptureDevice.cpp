#include "platform/avfoundation/AVCaptureDevice.h"

#include <algorithm>
#include <utility>

#include "platform/capture/CaptureBackend.h"

AVCaptureDevice::AVCaptureDevice(std::string uniqueID, std::string localizedName)
    : AVCaptureDevice(std::move(uniqueID), std::move(localizedName),
                      harkwell::CaptureBackend::current()) {}

AVCaptureDevice::AVCaptureDevice(std::string uniqueID, std::string localizedName,
                                 std::shared_ptr<harkwell::CaptureBackend> backend)
    : uniqueID_(std::move(uniqueID)),
      localizedName_(std::move(localizedName)),
      backend_(backend ? std::move(backend) : harkwell::CaptureBackend::current()) {}

bool AVCaptureDevice::isEqual(const AVCaptureDevice& other) const {
  return uniqueID_ == other.uniqueID_ && backend_ == other.backend_;
}

AVAuthorizationStatus AVCaptureDevice::authorizationStatusForMediaType(
    const AVMediaType& mediaType) {
  if (mediaType != AVMediaTypeAudio) return AVAuthorizationStatus::denied;
  return static_cast<AVAuthorizationStatus>(
      harkwell::CaptureBackend::current()->microphoneAuthorizationStatus());
}

void AVCaptureDevice::requestAccessForMediaType(const AVMediaType& mediaType,
                                                std::function<void(bool)> completion) {
  if (!completion) completion = [](bool) {};
  if (mediaType != AVMediaTypeAudio) {
    completion(false);
    return;
  }
  harkwell::CaptureBackend::current()->requestMicrophoneAccess(
      [completion = std::move(completion)](bool granted) {
        // The answer may arrive on a backend thread: nothing may escape into it.
        try {
          completion(granted);
        } catch (...) {
        }
      });
}

std::shared_ptr<AVCaptureDeviceDiscoverySession>
AVCaptureDeviceDiscoverySession::discoverySessionWithDeviceTypes(
    const std::vector<AVCaptureDeviceType>& deviceTypes, const AVMediaType& mediaType,
    AVCaptureDevicePosition position) {
  std::vector<AVCaptureDevice> devices;
  // Microphones have no position: only "unspecified" matches them.
  if (mediaType == AVMediaTypeAudio && position == AVCaptureDevicePosition::unspecified) {
    auto backend = harkwell::CaptureBackend::current();
    for (const auto& type : deviceTypes) {
      for (auto& info : backend->microphones(type)) {
        AVCaptureDevice device(std::move(info.uniqueID), std::move(info.localizedName), backend);
        if (std::find(devices.begin(), devices.end(), device) == devices.end()) {
          devices.push_back(std::move(device));
        }
      }
    }
  }
  return std::make_shared<AVCaptureDeviceDiscoverySession>(std::move(devices));
}
