#include "bridge/BridgeFlutterApiCodec.h"

#include <memory>

#include "bridge/BridgeFlutterApiCodecReaderWriter.h"
#include "bridge/BridgeFlutterApiCodecWriter.h"

namespace harkwell {

BridgeFlutterApiCodec::BridgeFlutterApiCodec()
    : FlutterStandardMessageCodec(std::make_shared<BridgeFlutterApiCodecReaderWriter>()) {}

const BridgeFlutterApiCodec& BridgeFlutterApiCodec::shared() {
  // A function-local static: the language makes its one-time creation thread-safe.
  static const BridgeFlutterApiCodec codec;
  return codec;
}

std::vector<std::uint8_t> BridgeFlutterApiCodec::encodeEventMessage(
    const NativeAudioEvent& event) const {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(BridgeFlutterApiCodecWriter::eventMessageSizeBound(event));
  BridgeFlutterApiCodecWriter writer(bytes);
  writer.writeEventMessage(event);
  return bytes;
}

}  // namespace harkwell
