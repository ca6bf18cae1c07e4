#include "bridge/BridgeHostApiCodecReaderWriter.h"

#include "bridge/BridgeHostApiCodecReader.h"
#include "bridge/BridgeHostApiCodecWriter.h"

namespace harkwell {

std::unique_ptr<FlutterStandardReader> BridgeHostApiCodecReaderWriter::readerWithData(
    std::span<const std::uint8_t> data) const {
  return std::make_unique<BridgeHostApiCodecReader>(data);
}

std::unique_ptr<FlutterStandardWriter> BridgeHostApiCodecReaderWriter::writerWithData(
    std::vector<std::uint8_t>& data) const {
  return std::make_unique<BridgeHostApiCodecWriter>(data);
}

}  // namespace harkwell
