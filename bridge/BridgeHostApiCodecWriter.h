#pragma once

#include "platform/flutter/FlutterStandardWriter.h"

namespace harkwell {

// Writes AudioDevice as 128 and AudioPermission as 130, each followed by its
// list, at any depth; everything else goes to the standard writer, which
// throws FlutterCodecError for any other custom value (a NativeAudioEvent
// included: this codec does not know it).
// Thread affinity: one writer per message, on the encoding thread.
class BridgeHostApiCodecWriter : public FlutterStandardWriter {
 public:
  using FlutterStandardWriter::FlutterStandardWriter;

  // Any thread.
  void writeValue(const CodecValue& value) override;
};

}  // namespace harkwell
