#include "bridge/BridgeHostApiCodec.h"

#include <memory>

#include "bridge/BridgeHostApiCodecReaderWriter.h"

namespace harkwell {

BridgeHostApiCodec::BridgeHostApiCodec()
    : FlutterStandardMessageCodec(std::make_shared<BridgeHostApiCodecReaderWriter>()) {}

const BridgeHostApiCodec& BridgeHostApiCodec::shared() {
  // Created once, thread-safely, on first use, and never destroyed: the
  // engine's UI thread and the capture queues outlive main() and may still
  // encode or decode while the process exits.
  static const auto* const codec = new BridgeHostApiCodec();
  return *codec;
}

}  // namespace harkwell
