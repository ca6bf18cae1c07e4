#include "bridge/BridgeHostApiCodecWriter.h"

#include "bridge/AudioDevice.h"
#include "bridge/AudioPermission.h"

namespace harkwell {

void BridgeHostApiCodecWriter::writeValue(const CodecValue& value) {
  if (const auto* device = value.custom<AudioDevice>()) {
    writeByte(128);
    writeValue(device->toList());
    return;
  }
  if (const auto* permission = value.custom<AudioPermission>()) {
    writeByte(130);
    writeValue(permission->toList());
    return;
  }
  FlutterStandardWriter::writeValue(value);
}

}  // namespace harkwell
