#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Hex text <-> bytes for golden-byte codec tests. Spaces and "|" in the text
// are ignored, so a test can group bytes as the wire layout reads: "0c 02 | 01".
namespace harkwell::testing {

inline std::vector<std::uint8_t> bytesFromHex(std::string_view hex) {
  std::vector<std::uint8_t> bytes;
  std::string pair;
  for (const char c : hex) {
    if (c == ' ' || c == '|') continue;
    pair += c;
    if (pair.size() < 2) continue;
    std::size_t used = 0;
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(pair, &used, 16)));
    if (used != 2) throw std::invalid_argument("not a hex digit in test bytes: " + pair);
    pair.clear();
  }
  if (!pair.empty()) throw std::invalid_argument("odd number of hex digits in test bytes");
  return bytes;
}

inline std::string hexFromBytes(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof(pair), text.empty() ? "%02x" : " %02x", byte);
    text += pair;
  }
  return text;
}

// Canonical spacing of a hex text, so that failures compare like for like.
inline std::string normalizedHex(std::string_view hex) {
  return hexFromBytes(bytesFromHex(hex));
}

}  // namespace harkwell::testing
