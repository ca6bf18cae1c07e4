#include "bridge/BridgeFlutterApiCodecWriter.h"

#include "bridge/NativeAudioEvent.h"

namespace harkwell {

void BridgeFlutterApiCodecWriter::writeValue(const CodecValue& value) {
  const auto* event = value.custom<NativeAudioEvent>();
  if (event == nullptr) {
    FlutterStandardWriter::writeValue(value);
    return;
  }
  writeEvent(*event);
}

void BridgeFlutterApiCodecWriter::writeEventMessage(const NativeAudioEvent& event) {
  writeByte(12);
  writeSize(1);
  writeEvent(event);
}

void BridgeFlutterApiCodecWriter::writeEvent(const NativeAudioEvent& event) {
  // The bytes of writeValue(event.toList()), field by field: the audio path
  // sends hundreds of samples per event, many times a second, and building a
  // CodecValue per sample first would only be thrown away.
  writeByte(128);
  writeByte(12);
  writeSize(5);
  // Strings are written as the standard writer writes a string value, without
  // copying them into one first.
  writeByte(7);
  writeUTF8(event.id);
  writeValue(rawValue(event.type));
  writeValue(rawValue(event.eventType));
  if (event.audioData) {
    writeListOfDoubles(*event.audioData);
  } else {
    writeByte(0);
  }
  if (event.error) {
    writeByte(7);
    writeUTF8(*event.error);
  } else {
    writeByte(0);
  }
}

namespace {

// A size takes at most 5 bytes; a double in a generic list at most 16 (type
// byte, padding, value); an int64 value 9.
constexpr std::size_t maxSizeBytes = 5;

std::size_t eventSizeBound(const NativeAudioEvent& event) {
  std::size_t size = 2 + maxSizeBytes;         // 128, list of 5
  size += 1 + maxSizeBytes + event.id.size();  // id
  size += 2 * 9;                               // type, eventType
  size += 1 + maxSizeBytes;                    // audioData list or null
  if (event.audioData) size += event.audioData->size() * 16;
  size += 1 + maxSizeBytes;  // error or null
  if (event.error) size += event.error->size();
  return size;
}

}  // namespace

std::size_t BridgeFlutterApiCodecWriter::messageSizeBound(const CodecValue& message) {
  if (const auto* event = message.custom<NativeAudioEvent>()) return eventSizeBound(*event);
  const auto* list = message.getIf<CodecList>();
  if (list == nullptr) return 0;
  std::size_t size = 1 + maxSizeBytes;
  for (const CodecValue& element : *list) {
    const auto* event = element.custom<NativeAudioEvent>();
    if (event == nullptr) return 0;
    size += eventSizeBound(*event);
  }
  return size;
}

std::size_t BridgeFlutterApiCodecWriter::eventMessageSizeBound(const NativeAudioEvent& event) {
  return 1 + maxSizeBytes + eventSizeBound(event);
}

}  // namespace harkwell
