#include "bridge/BridgeFlutterApiCodecReader.h"

#include "bridge/NativeAudioEvent.h"
#include "bridge/RecordReading.h"

namespace harkwell {

CodecValue BridgeFlutterApiCodecReader::readValueOfType(std::uint8_t type) {
  if (type == 128) return readRecord<NativeAudioEvent>(*this, "NativeAudioEvent");
  return FlutterStandardReader::readValueOfType(type);
}

}  // namespace harkwell
