#include "platform/flutter/FlutterStandardMessageCodec.h"

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

FlutterStandardMessageCodec::FlutterStandardMessageCodec(
    std::shared_ptr<const FlutterStandardReaderWriter> readerWriter)
    : readerWriter_(std::move(readerWriter)) {
  if (!readerWriter_)
    throw std::invalid_argument("FlutterStandardMessageCodec needs a reader-writer");
}

std::shared_ptr<FlutterStandardMessageCodec> FlutterStandardMessageCodec::codecWithReaderWriter(
    std::shared_ptr<const FlutterStandardReaderWriter> readerWriter) {
  return std::make_shared<FlutterStandardMessageCodec>(std::move(readerWriter));
}

const FlutterStandardMessageCodec& FlutterStandardMessageCodec::sharedInstance() {
  // Created once, thread-safely, on first use, and never destroyed: the
  // engine's UI thread and the capture queues outlive main() and may still
  // encode or decode while the process exits.
  static const auto* const codec =
      new FlutterStandardMessageCodec(std::make_shared<FlutterStandardReaderWriter>());
  return *codec;
}

std::vector<std::uint8_t> FlutterStandardMessageCodec::encode(const CodecValue& message) const {
  std::vector<std::uint8_t> bytes;
  // The writer must start on an empty buffer: alignment counts from byte 0.
  readerWriter_->writeMessage(message, bytes);
  return bytes;
}

CodecDecodeResult FlutterStandardMessageCodec::decode(std::span<const std::uint8_t> message) const {
  // The UI sends calls without arguments as no bytes at all.
  if (message.empty()) return {CodecValue(), {}};
  // The bytes come from the other side of the channel: whatever a reader
  // (ours or a subclass) throws fails this one message and nothing else.
  try {
    auto reader = readerWriter_->readerWithData(message);
    CodecValue value = reader->readValue();
    if (reader->hasMore()) {
      reader->fail(std::to_string(reader->remaining()) + " unused bytes after the message",
                   reader->offset());
    }
    return {std::move(value), {}};
  } catch (const std::exception& error) {
    return {std::nullopt, error.what()};
  } catch (...) {
    return {std::nullopt, "undecodable message"};
  }
}
