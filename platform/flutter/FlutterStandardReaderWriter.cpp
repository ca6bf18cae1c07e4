#include "platform/flutter/FlutterStandardReaderWriter.h"

std::unique_ptr<FlutterStandardReader> FlutterStandardReaderWriter::readerWithData(
    std::span<const std::uint8_t> data) const {
  return std::make_unique<FlutterStandardReader>(data);
}

std::unique_ptr<FlutterStandardWriter> FlutterStandardReaderWriter::writerWithData(
    std::vector<std::uint8_t>& data) const {
  return std::make_unique<FlutterStandardWriter>(data);
}

void FlutterStandardReaderWriter::writeMessage(const CodecValue& message,
                                               std::vector<std::uint8_t>& data) const {
  writerWithData(data)->writeValue(message);
}
