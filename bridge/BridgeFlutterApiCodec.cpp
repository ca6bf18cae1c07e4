#include "bridge/BridgeFlutterApiCodec.h"

#include <memory>

#include "bridge/BridgeFlutterApiCodecReaderWriter.h"
#include "bridge/BridgeFlutterApiCodecWriter.h"

namespace harkwell {

BridgeFlutterApiCodec::BridgeFlutterApiCodec()
    : FlutterStandardMessageCodec(std::make_shared<BridgeFlutterApiCodecReaderWriter>()) {}

const BridgeFlutterApiCodec& BridgeFlutterApiCodec::shared() {
  // Created once, thread-safely, on first use, and never destroyed: the
  // engine's UI thread and the capture queues outlive main() and may still
  // encode or decode while the process exits.
  static const auto* const codec = new BridgeFlutterApiCodec();
  return *codec;
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
