#pragma once

#include <cstddef>

#include "platform/flutter/FlutterStandardWriter.h"

namespace harkwell {

struct NativeAudioEvent;

// Writes NativeAudioEvent as 128 followed by its list, at any depth; everything
// else goes to the standard writer, which throws FlutterCodecError for any other
// custom value (AudioDevice and AudioPermission included: this codec does not
// know them). The samples are written straight from the event, with the bytes
// of a generic list of doubles, so that an audio event costs no list of values.
// Thread affinity: one writer per message, on the encoding thread.
class BridgeFlutterApiCodecWriter : public FlutterStandardWriter {
 public:
  using FlutterStandardWriter::FlutterStandardWriter;

  // Any thread.
  void writeValue(const CodecValue& value) override;

  // The bytes of writeValue(CodecList{event}), the event channel's message,
  // written from the event itself. Any thread.
  void writeEventMessage(const NativeAudioEvent& event);

  // At least the bytes that `message` takes when it is an event or a list of
  // events (the event channel's messages); 0 for anything else. Any thread.
  static std::size_t messageSizeBound(const CodecValue& message);
  // The same for writeEventMessage(event). Any thread.
  static std::size_t eventMessageSizeBound(const NativeAudioEvent& event);

 private:
  void writeEvent(const NativeAudioEvent& event);
};

}  // namespace harkwell
