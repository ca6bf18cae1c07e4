#pragma once

#include <string>

// Names and raw values of the AVFoundation capture API.
// Thread affinity: constants; any thread.

using AVMediaType = std::string;
inline const AVMediaType AVMediaTypeAudio = "soun";
inline const AVMediaType AVMediaTypeVideo = "vide";

using AVCaptureDeviceType = std::string;
inline const AVCaptureDeviceType AVCaptureDeviceTypeMicrophone = "AVCaptureDeviceTypeMicrophone";
inline const AVCaptureDeviceType AVCaptureDeviceTypeBuiltInMicrophone =
    "AVCaptureDeviceTypeBuiltInMicrophone";

enum class AVCaptureDevicePosition : int { unspecified = 0, back = 1, front = 2 };

enum class AVAuthorizationStatus : int {
  notDetermined = 0,
  restricted = 1,
  denied = 2,
  authorized = 3,
};

// Keys of AVCaptureAudioDataOutput's audio settings.
inline const std::string AVFormatIDKey = "AVFormatIDKey";
inline const std::string AVNumberOfChannelsKey = "AVNumberOfChannelsKey";
inline const std::string AVSampleRateKey = "AVSampleRateKey";
