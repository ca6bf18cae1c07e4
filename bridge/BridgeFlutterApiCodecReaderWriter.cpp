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

void BridgeFlutterApiCodecReaderWriter::writeMessage(const CodecValue& message,
                                                     std::vector<std::uint8_t>& data) const {
  // The audio path sends [event] with hundreds of samples many times a
  // second: one allocation for its bytes, none for the writer.
  data.reserve(data.size() + BridgeFlutterApiCodecWriter::messageSizeBound(message));
  BridgeFlutterApiCodecWriter writer(data);
  writer.writeValue(message);
}

}  // namespace harkwell
