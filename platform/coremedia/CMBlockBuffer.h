#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// A block of bytes owned by the buffer; sample buffers keep their audio here.
// Every block starts at an address aligned for any sample type.
// Thread affinity: filled by its creator, then shared read-only between threads
// (held as CMBlockBufferRef, a pointer to const).
class CMBlockBuffer {
 public:
  // A zero-filled block of `length` bytes. Any thread.
  explicit CMBlockBuffer(std::size_t length) : bytes_(length) {}

  std::uint8_t* data() { return bytes_.data(); }
  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t length() const { return bytes_.size(); }

 private:
  // std::vector's storage comes from operator new, aligned for every scalar type.
  std::vector<std::uint8_t> bytes_;
};

using CMBlockBufferRef = std::shared_ptr<const CMBlockBuffer>;

// Length in bytes; 0 for a null block. Any thread.
inline std::size_t CMBlockBufferGetDataLength(const CMBlockBufferRef& block) {
  return block ? block->length() : 0;
}
