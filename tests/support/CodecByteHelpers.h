#pragma once

#include <cctype>
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
  std::string digits;
  for (const char c : hex) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (c != ' ' && c != '|') {
      throw std::invalid_argument("not a hex digit in test bytes");
    }
  }
  if (digits.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits");
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
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
