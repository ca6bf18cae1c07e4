#include "bridge/BridgeHostApiCodec.h"

#include <memory>

#include "bridge/BridgeHostApiCodecReaderWriter.h"

namespace harkwell {

BridgeHostApiCodec::BridgeHostApiCodec()
    : FlutterStandardMessageCodec(std::make_shared<BridgeHostApiCodecReaderWriter>()) {}

const BridgeHostApiCodec& BridgeHostApiCodec::shared() {
  // A function-local static: the language makes its one-time creation thread-safe.
  static const BridgeHostApiCodec codec;
  return codec;
}

}  // namespace harkwell
