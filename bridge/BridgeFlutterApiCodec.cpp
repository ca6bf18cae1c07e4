#include "bridge/BridgeFlutterApiCodec.h"

#include <memory>

#include "bridge/BridgeFlutterApiCodecReaderWriter.h"

namespace harkwell {

BridgeFlutterApiCodec::BridgeFlutterApiCodec()
    : FlutterStandardMessageCodec(std::make_shared<BridgeFlutterApiCodecReaderWriter>()) {}

const BridgeFlutterApiCodec& BridgeFlutterApiCodec::shared() {
  // A function-local static: the language makes its one-time creation thread-safe.
  static const BridgeFlutterApiCodec codec;
  return codec;
}

}  // namespace harkwell
