#pragma once

#include "platform/flutter/FlutterStandardMessageCodec.h"

namespace harkwell {

// The codec of the five host channels: the standard codec plus AudioDevice
// (128, and 129 when reading) and AudioPermission (130). Decoding never
// throws; a malformed message or record is a failed result with the reason.
// Thread affinity: immutable; the shared instance serves every thread.
class BridgeHostApiCodec : public FlutterStandardMessageCodec {
 public:
  // Made once on first use (thread-safe) and kept for the process. Any thread.
  static const BridgeHostApiCodec& shared();

 private:
  BridgeHostApiCodec();
};

}  // namespace harkwell
