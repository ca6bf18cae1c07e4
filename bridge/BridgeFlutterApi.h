#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "bridge/NativeAudioEvent.h"
#include "bridge/PigeonError.h"
#include "bridge/Result.h"
#include "platform/flutter/FlutterBinaryMessenger.h"
#include "platform/flutter/FlutterMessageCodec.h"

namespace harkwell {

// Outcome of one event delivery: success, or the PigeonError that the UI
// answered with ("channel-error" when it did not answer at all).
using EventCompletion = std::function<void(Result<void, PigeonError> result)>;

// The event sender that BridgeApi and the capture controllers share.
// Thread affinity: onEvent from any thread; the completion runs on the thread
// where the messenger delivers the UI's reply (the main thread for the engine).
class BridgeFlutterApiProtocol {
 public:
  virtual ~BridgeFlutterApiProtocol() = default;

  // Sends `event` to the UI and returns at once, without waiting for the reply;
  // `completion` (may be empty) runs once, later. Pass the event by move: on the
  // audio path it carries the samples, which are then never copied. Any thread.
  virtual void onEvent(NativeAudioEvent event, EventCompletion completion) = 0;

  // The same for an event that the caller keeps: what is sent is taken from it
  // before this returns, so the caller may refill it for the next one (the
  // audio path reuses one event's storage for every block). By default a copy
  // goes to onEvent. Any thread.
  virtual void sendEvent(const NativeAudioEvent& event, EventCompletion completion) {
    onEvent(event, std::move(completion));
  }
};

// Sends each event as [event] on "dev.flutter.pigeon.harkwell_bridge.BridgeFlutterApi.onEvent"
// (+ "." + suffix), through a new channel object per event, and reads the UI's
// reply: not a list → "channel-error"; two or more elements → the error reply
// [code, message, details] as a PigeonError; otherwise success. An error reply
// that is not [string, string-or-null, string-or-null] fails the delivery with
// "malformed-reply" (see ProtocolErrors.h), the reply itself as details.
// Thread affinity: see BridgeFlutterApiProtocol. Immutable after construction.
class BridgeFlutterApi final : public BridgeFlutterApiProtocol {
 public:
  static constexpr std::string_view channelPrefix =
      "dev.flutter.pigeon.harkwell_bridge.BridgeFlutterApi.onEvent";

  // `binaryMessenger` must outlive this object and every reply still in flight
  // (the engine's messenger lives for the process). Any thread.
  explicit BridgeFlutterApi(FlutterBinaryMessenger& binaryMessenger,
                            const std::string& messageChannelSuffix = "");

  BridgeFlutterApi(const BridgeFlutterApi&) = delete;
  BridgeFlutterApi& operator=(const BridgeFlutterApi&) = delete;

  // BridgeFlutterApiCodec::shared(). Any thread.
  static const FlutterMessageCodec& codec();

  // Never throws. Any thread.
  void onEvent(NativeAudioEvent event, EventCompletion completion) override;
  // Never throws. Any thread.
  void sendEvent(const NativeAudioEvent& event, EventCompletion completion) override;

  // The full name of the event channel. Any thread.
  const std::string& channelName() const { return *channelName_; }

 private:
  FlutterBinaryMessenger& binaryMessenger_;
  // Shared with the reply callbacks in flight, so that none copies the name.
  std::shared_ptr<const std::string> channelName_;
};

// The failure of a delivery that got no usable reply on `channelName`: code
// "channel-error", message "Unable to establish connection on channel: '<name>'.",
// details "". Any thread.
PigeonError createConnectionError(std::string_view channelName);

}  // namespace harkwell
