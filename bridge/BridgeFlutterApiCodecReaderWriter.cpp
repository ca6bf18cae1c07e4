#include "bridge/BridgeFlutterApiCodecReaderWriter.h"

#include "bridge/BridgeFlutterApiCodecReader.h"
#include "bridge/BridgeFlutterApiCodecWriter.h"

namespace harkwell {

std::unique_ptr<FlutterStandardReader> BridgeFlutterApiCodecReaderWriter::readerWithData(
    std::span<const std::uint8_t> data) const {
  return std::make_unique<BridgeFlutterApiCodecReader>(data);
}

std::unique_ptr<FlutterStandardWriter> BridgeFlutterApiCodecReaderWriter::writerWithData(
    std::vector<std::uint8_t>& data) const {
  return std::make_unique<BridgeFlutterApiCodecWriter>(data);
}

}  // namespace harkwell
