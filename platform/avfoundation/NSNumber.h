#pragma once

#include <concepts>
#include <cstdint>
#include <variant>

// A number as the platform's settings dictionaries hold it: an integer or a
// floating-point value, keeping which one it was given.
// Thread affinity: a value; any thread.
class NSNumber {
 public:
  template <std::integral T>
  NSNumber(T value) : value_(static_cast<std::int64_t>(value)) {}  // NOLINT: implicit on purpose
  template <std::floating_point T>
  NSNumber(T value) : value_(static_cast<double>(value)) {}  // NOLINT: implicit on purpose

  bool isInteger() const { return std::holds_alternative<std::int64_t>(value_); }
  std::int64_t longLongValue() const {
    return isInteger() ? std::get<std::int64_t>(value_)
                       : static_cast<std::int64_t>(std::get<double>(value_));
  }
  double doubleValue() const {
    return isInteger() ? static_cast<double>(std::get<std::int64_t>(value_))
                       : std::get<double>(value_);
  }

  friend bool operator==(const NSNumber&, const NSNumber&) = default;

 private:
  std::variant<std::int64_t, double> value_;
};
