#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "bridge/BridgeHostApi.h"
#include "platform/flutter/FlutterBinaryMessenger.h"

namespace harkwell {

// Opens the five host channels ("dev.flutter.pigeon.harkwell_bridge.BridgeHostApi."
// + operation + suffix) and routes the UI's calls to a BridgeHostApi.
// Thread affinity: setUp on any thread (the main thread at start-up); the
// handlers run on the main thread, and each call's reply is sent from the
// thread that finishes it.
class BridgeHostApiSetup {
 public:
  static constexpr std::string_view channelPrefix =
      "dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.";

  BridgeHostApiSetup() = delete;

  // Installs the handlers of getDevices, listen, unlisten, checkPermission and
  // requestPermission on `binaryMessenger`; each holds `api` for as long as it
  // stays installed. A null `api` removes the five handlers instead. A
  // non-empty `messageChannelSuffix` s makes every name end in "." + s.
  // Each call is answered exactly once: [result] or [null] on success, and
  // [code, message, details] for an error the api reports or throws, or for a
  // message that breaks the protocol (see ProtocolErrors.h; the api is then
  // not called). `binaryMessenger` must outlive the handlers. Any thread.
  static void setUp(FlutterBinaryMessenger& binaryMessenger, std::shared_ptr<BridgeHostApi> api,
                    const std::string& messageChannelSuffix = "");

  // The full channel name of `operation` with `messageChannelSuffix` applied.
  // Any thread.
  static std::string channelName(std::string_view operation,
                                 std::string_view messageChannelSuffix = "");
};

}  // namespace harkwell
