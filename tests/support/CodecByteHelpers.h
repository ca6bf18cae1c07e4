#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Hex text <-> bytes for golden-byte codec tests. Whitespace in the text is
// ignored, so a test can group bytes as the wire layout reads: "0c 02 | 01 ...".
// "|" is ignored too.
namespace harkwell::testing {

inline std::vector<std::uint8_t> bytesFromHex(std::string_view hex) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (char c : hex) {
    if (std::isspace(static_cast<unsigned char>(c)) || c == '|') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      throw std::invalid_argument("not a hex digit in test bytes");
    }
    const int nibble = std::isdigit(static_cast<unsigned char>(c))
                           ? c - '0'
                           : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    if (high < 0) {
      high = nibble;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | nibble));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits in test bytes");
  return bytes;
}

inline std::string hexFromBytes(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof(byte), "%02x", bytes[i]);
    if (i != 0) text += ' ';
    text += byte;
  }
  return text;
}

// Canonical spacing of a hex text, so that failures compare like for like.
inline std::string normalizedHex(std::string_view hex) {
  return hexFromBytes(bytesFromHex(hex));
}

}  // namespace harkwell::testing
