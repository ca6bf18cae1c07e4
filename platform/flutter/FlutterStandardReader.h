#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/flutter/CodecValue.h"

// Reads one message of Flutter's standard codec from a borrowed byte span.
// Input is untrusted: every read is bounds-checked (padding included), claimed
// sizes are checked against the bytes left before anything is allocated,
// unknown type bytes and nesting deeper than maxNestingDepth are rejected. Any
// failure throws FlutterCodecError naming what was wrong and the byte offset.
// Subclasses add custom types by overriding readValueOfType; nested values go
// through readValue and so reach the override at any depth.
// Thread affinity: one reader per message, used on one thread at a time. The
// bytes must outlive the reader.
class FlutterStandardReader {
 public:
  // Nested containers (and records) beyond this depth fail the message rather
  // than risk the stack.
  static constexpr int maxNestingDepth = 64;

  explicit FlutterStandardReader(std::span<const std::uint8_t> data) : data_(data) {}
  virtual ~FlutterStandardReader() = default;
  FlutterStandardReader(const FlutterStandardReader&) = delete;
  FlutterStandardReader& operator=(const FlutterStandardReader&) = delete;

  // Whether unread bytes remain. Any thread.
  bool hasMore() const { return position_ < data_.size(); }
  // Offset of the next unread byte from the start of the message. Any thread.
  std::size_t offset() const { return position_; }
  // Number of unread bytes. Any thread.
  std::size_t remaining() const { return data_.size() - position_; }

  // Reads one complete value: its type byte, then readValueOfType. Any thread.
  CodecValue readValue();

  // Reads the payload of a value whose type byte was just read. The base
  // handles the standard types 0..14 and fails on any other byte. Any thread.
  virtual CodecValue readValueOfType(std::uint8_t type);

  // Building blocks for subclasses; each throws FlutterCodecError on overrun.
  // Any thread.
  std::uint8_t readByte();
  // A size in its 1, 3 or 5 byte form.
  std::uint32_t readSize();
  // The next `length` bytes, borrowed from the message.
  std::span<const std::uint8_t> readBytes(std::size_t length);
  // Skips the zero padding up to the next multiple of `alignment`, counted
  // from the start of the message.
  void readAlignment(std::size_t alignment);
  // A size followed by that many bytes of text (UTF-8 is not validated: the
  // bytes are kept as sent).
  std::string readUTF8();

  // Throws FlutterCodecError "<what> at offset <offset>". Any thread.
  [[noreturn]] void fail(std::string_view what, std::size_t offset) const;

 private:
  template <class T>
  T readScalar();
  template <class T>
  std::vector<T> readTypedList(std::size_t alignment, const char* name, std::size_t typeOffset);
  void requireBytes(std::size_t length, const char* what) const;

  std::span<const std::uint8_t> data_;
  std::size_t position_ = 0;
  int depth_ = 0;
};
