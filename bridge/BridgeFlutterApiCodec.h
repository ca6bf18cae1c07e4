#pragma once

#include <cstdint>
#include <vector>

#include "bridge/NativeAudioEvent.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"

namespace harkwell {

// The codec of the event channel: the standard codec plus NativeAudioEvent
// (128). Decoding never throws; a malformed message or event is a failed
// result with the reason.
// Thread affinity: immutable; the shared instance serves every thread (the
// capture queues encode events on it concurrently).
class BridgeFlutterApiCodec : public FlutterStandardMessageCodec {
 public:
  // Made once on first use (thread-safe) and kept for the process. Any thread.
  static const BridgeFlutterApiCodec& shared();

  // The bytes of encode(CodecList{event}), the event channel's message, made
  // from the event without building the message value: the audio path's one
  // allocation for its bytes. Any thread.
  std::vector<std::uint8_t> encodeEventMessage(const NativeAudioEvent& event) const;

 private:
  BridgeFlutterApiCodec();
};

}  // namespace harkwell
