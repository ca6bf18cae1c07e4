#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/flutter/FlutterStandardReader.h"
#include "platform/flutter/FlutterStandardWriter.h"

// Makes a fresh reader or writer for each message; a codec with custom types
// overrides both to return its own subclasses.
// Thread affinity: stateless, any thread; shared by every message of a codec.
class FlutterStandardReaderWriter {
 public:
  FlutterStandardReaderWriter() = default;
  virtual ~FlutterStandardReaderWriter() = default;
  FlutterStandardReaderWriter(const FlutterStandardReaderWriter&) = delete;
  FlutterStandardReaderWriter& operator=(const FlutterStandardReaderWriter&) = delete;

  // A reader over `data`, which must outlive it. Any thread.
  virtual std::unique_ptr<FlutterStandardReader> readerWithData(
      std::span<const std::uint8_t> data) const;
  // A writer appending to `data`, which must outlive it. Any thread.
  virtual std::unique_ptr<FlutterStandardWriter> writerWithData(
      std::vector<std::uint8_t>& data) const;
  // Writes `message` as one whole message into `data` (empty) with a writer of
  // this reader-writer. The default takes one from writerWithData; a subclass
  // may write with its writer on the stack instead, so that a message costs no
  // writer allocation. Any thread.
  virtual void writeMessage(const CodecValue& message, std::vector<std::uint8_t>& data) const;
};
