#include "bridge/BridgeHostApiCodecReader.h"

#include "bridge/AudioDevice.h"
#include "bridge/AudioPermission.h"
#include "bridge/RecordReading.h"

namespace harkwell {

CodecValue BridgeHostApiCodecReader::readValueOfType(std::uint8_t type) {
  switch (type) {
    // 129 is an older numbering of the same record; it is read, never written.
    case 128:
    case 129:
      return readRecord<AudioDevice>(*this, "AudioDevice");
    case 130:
      return readRecord<AudioPermission>(*this, "AudioPermission");
    default:
      return FlutterStandardReader::readValueOfType(type);
  }
}

}  // namespace harkwell
