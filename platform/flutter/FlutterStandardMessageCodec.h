#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/flutter/FlutterMessageCodec.h"
#include "platform/flutter/FlutterStandardReaderWriter.h"

// Flutter's standard message codec, extensible through a reader-writer.
// decode never throws: a malformed message (truncated, unknown type, trailing
// bytes, too deep, or rejected by a subclass reader) is a failed result with a
// short reason naming the offset; zero bytes decode to CodecNull. encode throws
// FlutterCodecError only for values no writer can express (a custom value that
// the reader-writer's writer does not know, a container beyond 2^32-1).
// Thread affinity: immutable after construction; one instance serves every
// thread.
class FlutterStandardMessageCodec : public FlutterMessageCodec {
 public:
  explicit FlutterStandardMessageCodec(
      std::shared_ptr<const FlutterStandardReaderWriter> readerWriter);
  FlutterStandardMessageCodec(const FlutterStandardMessageCodec&) = delete;
  FlutterStandardMessageCodec& operator=(const FlutterStandardMessageCodec&) = delete;

  // A codec over `readerWriter` (which must not be null). Any thread.
  static std::shared_ptr<FlutterStandardMessageCodec> codecWithReaderWriter(
      std::shared_ptr<const FlutterStandardReaderWriter> readerWriter);

  // The codec with the standard types only, made once. Any thread.
  static const FlutterStandardMessageCodec& sharedInstance();

  // Any thread.
  std::vector<std::uint8_t> encode(const CodecValue& message) const override;
  // Any thread.
  CodecDecodeResult decode(std::span<const std::uint8_t> message) const override;

 private:
  std::shared_ptr<const FlutterStandardReaderWriter> readerWriter_;
};
