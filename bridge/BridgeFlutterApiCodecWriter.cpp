#include "bridge/BridgeFlutterApiCodecWriter.h"

#include "bridge/NativeAudioEvent.h"

namespace harkwell {

void BridgeFlutterApiCodecWriter::writeValue(const CodecValue& value) {
  const auto* event = value.custom<NativeAudioEvent>();
  if (event == nullptr) {
    FlutterStandardWriter::writeValue(value);
    return;
  }
  // The bytes of writeValue(event->toList()), field by field: the audio path
  // sends hundreds of samples per event, many times a second, and building a
  // CodecValue per sample first would only be thrown away.
  writeByte(128);
  writeByte(12);
  writeSize(5);
  writeValue(event->id);
  writeValue(rawValue(event->type));
  writeValue(rawValue(event->eventType));
  if (event->audioData) {
    writeListOfDoubles(*event->audioData);
  } else {
    writeValue(CodecNull{});
  }
  writeValue(event->error ? CodecValue(*event->error) : CodecValue());
}

}  // namespace harkwell
