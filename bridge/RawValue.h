#pragma once

#include <cstdint>
#include <optional>

namespace harkwell {

// The bridge's enumerations travel as their raw value, a plain integer.
// fromRawValue<E> is specialised next to each enumeration and yields nullopt
// for any integer that is not one of its cases. Any thread.
template <class E>
std::optional<E> fromRawValue(std::int64_t raw);

template <class E>
constexpr std::int64_t rawValue(E value) {
  return static_cast<std::int64_t>(value);
}

}  // namespace harkwell
