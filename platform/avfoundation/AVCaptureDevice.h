#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/avfoundation/AVFoundationTypes.h"

namespace harkwell {
class CaptureBackend;
}

// A capture device (a microphone) as the discovery session lists it. A value:
// copies are the same device (isEqual). It remembers the backend that listed it,
// so an input made over it opens the device on that backend.
// Thread affinity: any thread.
class AVCaptureDevice {
 public:
  // A device on the current backend; for callers that know the id already.
  AVCaptureDevice(std::string uniqueID, std::string localizedName);
  AVCaptureDevice(std::string uniqueID, std::string localizedName,
                  std::shared_ptr<harkwell::CaptureBackend> backend);

  const std::string& uniqueID() const { return uniqueID_; }
  const std::string& localizedName() const { return localizedName_; }
  const std::shared_ptr<harkwell::CaptureBackend>& backend() const { return backend_; }

  // The same device: same id on the same backend. Any thread.
  bool isEqual(const AVCaptureDevice& other) const;
  friend bool operator==(const AVCaptureDevice& a, const AVCaptureDevice& b) {
    return a.isEqual(b);
  }

  // Authorisation for capturing `mediaType`; only audio can be authorised.
  // Any thread.
  static AVAuthorizationStatus authorizationStatusForMediaType(const AVMediaType& mediaType);

  // Asks for access to `mediaType`; `completion` gets the answer exactly once,
  // on a thread of the backend's choosing (possibly inside this call, possibly
  // much later while the user decides). Never granted for other than audio.
  // Any thread.
  static void requestAccessForMediaType(const AVMediaType& mediaType,
                                        std::function<void(bool granted)> completion);

 private:
  std::string uniqueID_;
  std::string localizedName_;
  std::shared_ptr<harkwell::CaptureBackend> backend_;
};

// Finds capture devices by type. Thread affinity: any thread.
class AVCaptureDeviceDiscoverySession {
 public:
  // The devices of any of `deviceTypes` that capture `mediaType` at
  // `position`, listed once each, in platform order. Only audio devices exist;
  // any other media type finds none. Any thread.
  static std::shared_ptr<AVCaptureDeviceDiscoverySession> discoverySessionWithDeviceTypes(
      const std::vector<AVCaptureDeviceType>& deviceTypes, const AVMediaType& mediaType,
      AVCaptureDevicePosition position);

  explicit AVCaptureDeviceDiscoverySession(std::vector<AVCaptureDevice> devices)
      : devices_(std::move(devices)) {}

  const std::vector<AVCaptureDevice>& devices() const { return devices_; }

 private:
  std::vector<AVCaptureDevice> devices_;
};
