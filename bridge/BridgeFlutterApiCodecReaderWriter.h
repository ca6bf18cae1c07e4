#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/flutter/FlutterStandardReaderWriter.h"

namespace harkwell {

// Hands the standard codec the event API's reader and writer.
// Thread affinity: stateless, any thread.
class BridgeFlutterApiCodecReaderWriter : public FlutterStandardReaderWriter {
 public:
  // A BridgeFlutterApiCodecReader over `data`. Any thread.
  std::unique_ptr<FlutterStandardReader> readerWithData(
      std::span<const std::uint8_t> data) const override;
  // A BridgeFlutterApiCodecWriter appending to `data`. Any thread.
  std::unique_ptr<FlutterStandardWriter> writerWithData(
      std::vector<std::uint8_t>& data) const override;
  // Writes with a BridgeFlutterApiCodecWriter on the stack, into a buffer sized
  // once for an event message. Any thread.
  void writeMessage(const CodecValue& message, std::vector<std::uint8_t>& data) const override;
};

}  // namespace harkwell
