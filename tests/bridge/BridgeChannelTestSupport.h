#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/BridgeHostApi.h"
#include "bridge/BridgeHostApiCodec.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/support/CodecByteHelpers.h"
#include "tests/support/MessagingTestSupport.h"

namespace harkwell::test {

using Bytes = std::vector<std::uint8_t>;

// A BridgeHostApi whose operations do what the test sets, recording each call
// as text ("listen(I)", "getDevices(1)"). Defaults succeed at once with
// nothing found and both permissions granted.
// Thread affinity: operations on the main thread; settings before the calls.
class FakeHostApi final : public BridgeHostApi {
 public:
  std::function<void(AudioDeviceType, GetDevicesCompletion)> getDevicesDoes =
      [](AudioDeviceType, GetDevicesCompletion completion) {
        completion(Result<std::vector<AudioDevice>>::success({}));
      };
  std::function<void(const AudioDevice&)> listenDoes = [](const AudioDevice&) {};
  std::function<void(const AudioDevice&)> unlistenDoes = [](const AudioDevice&) {};
  std::function<void(CheckPermissionCompletion)> checkPermissionDoes =
      [](CheckPermissionCompletion completion) {
        completion(Result<AudioPermission>::success(AudioPermission{true, true}));
      };

  TestRecorder<std::string> calls;

  void getDevices(AudioDeviceType type, GetDevicesCompletion completion) override {
    calls.add("getDevices(" + std::to_string(static_cast<int>(type)) + ")");
    getDevicesDoes(type, std::move(completion));
  }
  void listen(const AudioDevice& device) override {
    calls.add("listen(" + device.id + ")");
    listenDoes(device);
  }
  void unlisten(const AudioDevice& device) override {
    calls.add("unlisten(" + device.id + ")");
    unlistenDoes(device);
  }
  void checkPermission(CheckPermissionCompletion completion) override {
    calls.add("checkPermission");
    checkPermissionDoes(std::move(completion));
  }
  void requestPermission(AudioDeviceType type) override {
    calls.add("requestPermission(" + std::to_string(static_cast<int>(type)) + ")");
  }
};

// What the UI side got back for one call.
struct UiReply {
  std::optional<Bytes> bytes;  // nullopt: a null reply (nobody answered)
  bool onUiThread = false;
};

// Sends `message` on `channel` from the engine's UI side, as the Dart UI would,
// pumps the main loop on the calling thread until the reply reaches the UI
// thread, and returns every reply that arrived by then.
inline std::vector<UiReply> callFromUi(FlutterEngine& engine, const std::string& channel,
                                       Bytes message) {
  auto replies = std::make_shared<TestRecorder<UiReply>>();
  engine.uiSide().sendToHost(
      channel, std::move(message), [replies, &engine](std::optional<Bytes> reply) {
        replies->add(UiReply{std::move(reply), engine.uiSide().isUiThread()});
      });
  pumpMainUntil([&] { return replies->size() > 0; });
  // Anything that would come after the first reply comes from work queued by now.
  pumpMainIdle();
  TestSignal uiDrained;
  engine.uiSide().post([&] { uiDrained.notify(); });
  uiDrained.wait();
  return replies->values();
}

// The reply decoded with the host codec; fails the test when it does not decode.
inline CodecValue decodeHostReply(const Bytes& bytes) {
  CodecDecodeResult decoded = BridgeHostApiCodec::shared().decode(bytes);
  if (!decoded.ok()) throw std::runtime_error("reply does not decode: " + decoded.error);
  return *decoded.value;
}

}  // namespace harkwell::test
