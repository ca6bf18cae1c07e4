#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/BridgeHostApi.h"
#include "bridge/BridgeHostApiCodec.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/support/MessagingTestSupport.h"

namespace harkwell::test {

using Bytes = std::vector<std::uint8_t>;

// Hex text <-> bytes for golden-byte tests. Spaces and "|" in the text are
// ignored, so a test can group bytes as the wire layout reads: "0c 02 | 01".
inline Bytes bytesFromHex(std::string_view hex) {
  Bytes bytes;
  std::string pair;
  for (const char c : hex) {
    if (c == ' ' || c == '|') continue;
    pair += c;
    if (pair.size() < 2) continue;
    std::size_t used = 0;
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(pair, &used, 16)));
    if (used != 2) throw std::invalid_argument("not a hex digit in test bytes: " + pair);
    pair.clear();
  }
  if (!pair.empty()) throw std::invalid_argument("odd number of hex digits in test bytes");
  return bytes;
}

inline std::string hexFromBytes(const Bytes& bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof(pair), text.empty() ? "%02x" : " %02x", byte);
    text += pair;
  }
  return text;
}

// Canonical spacing of a hex text, so that failures compare like for like.
inline std::string normalizedHex(std::string_view hex) {
  return hexFromBytes(bytesFromHex(hex));
}

// A BridgeHostApi whose operations do what the test sets, recording each call
// as text ("listen(I)", "getDevices(1)"). Defaults succeed at once with
// nothing found and both permissions granted.
// Thread affinity: operations on the main thread; settings before the calls.
class FakeHostApi final : public BridgeHostApi {
 public:
  std::function<void(AudioDeviceType, GetDevicesCompletion)> getDevicesDoes =
      [](AudioDeviceType, GetDevicesCompletion done) {
        done(Result<std::vector<AudioDevice>>::success({}));
      };
  std::function<void(const AudioDevice&)> listenDoes = [](const AudioDevice&) {};
  std::function<void(const AudioDevice&)> unlistenDoes = [](const AudioDevice&) {};
  std::function<void(CheckPermissionCompletion)> checkPermissionDoes =
      [](CheckPermissionCompletion done) {
        done(Result<AudioPermission>::success({true, true}));
      };
  TestRecorder<std::string> calls;

  void getDevices(AudioDeviceType type, GetDevicesCompletion done) override {
    calls.add("getDevices(" + std::to_string(static_cast<int>(type)) + ")");
    getDevicesDoes(type, std::move(done));
  }
  void listen(const AudioDevice& device) override {
    calls.add("listen(" + device.id + ")");
    listenDoes(device);
  }
  void unlisten(const AudioDevice& device) override {
    calls.add("unlisten(" + device.id + ")");
    unlistenDoes(device);
  }
  void checkPermission(CheckPermissionCompletion done) override {
    calls.add("checkPermission");
    checkPermissionDoes(std::move(done));
  }
  void requestPermission(AudioDeviceType type) override {
    calls.add("requestPermission(" + std::to_string(static_cast<int>(type)) + ")");
  }
};

// Sends `hex` on `channel` from the UI side as the Dart UI would and returns
// every reply that arrived once all work queued by the first one has run.
// Main thread.
inline std::vector<std::optional<Bytes>> callFromUi(FlutterEngine& engine,
                                                    const std::string& channel,
                                                    const std::string& hex) {
  auto replies = std::make_shared<TestRecorder<std::optional<Bytes>>>();
  engine.uiSide().sendToHost(channel, bytesFromHex(hex),
                             [replies](std::optional<Bytes> reply) { replies->add(reply); });
  pumpMainUntil([&] { return replies->size() > 0; });
  pumpMainIdle();
  TestSignal uiDrained;
  engine.uiSide().post([&] { uiDrained.notify(); });
  uiDrained.wait();
  return replies->values();
}

// The reply decoded with the host codec; throws when it does not decode.
inline CodecValue decodeHostReply(const Bytes& bytes) {
  CodecDecodeResult decoded = BridgeHostApiCodec::shared().decode(bytes);
  if (!decoded.ok()) throw std::runtime_error("reply does not decode: " + decoded.error);
  return *decoded.value;
}

}  // namespace harkwell::test
