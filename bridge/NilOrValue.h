#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/flutter/CodecValue.h"

namespace harkwell {

namespace detail {
template <class T, class Variant>
struct IsCodecAlternative;
template <class T, class... Alternatives>
struct IsCodecAlternative<T, std::variant<Alternatives...>>
    : std::bool_constant<(std::is_same_v<T, Alternatives> || ...)> {};
}  // namespace detail

// `value` as a T, or nullopt when it is of another kind. std::int64_t accepts
// either integer width; a list of optional doubles accepts a generic list of
// doubles and nulls or a float64 list; a standard type is taken exactly;
// any other T is a record carried as a custom value. Any thread.
template <class T>
std::optional<T> codecValueAs(const CodecValue& value) {
  if constexpr (std::is_same_v<T, std::int64_t>) {
    return value.asInteger();
  } else if constexpr (std::is_same_v<T, std::vector<std::optional<double>>>) {
    if (const auto* typed = value.getIf<std::vector<double>>()) {
      return T(typed->begin(), typed->end());
    }
    const auto* list = value.getIf<CodecList>();
    if (list == nullptr) return std::nullopt;
    T samples;
    samples.reserve(list->size());
    for (const CodecValue& element : *list) {
      if (const auto* sample = element.getIf<double>()) {
        samples.emplace_back(*sample);
      } else if (element.isNull()) {
        samples.emplace_back(std::nullopt);
      } else {
        return std::nullopt;
      }
    }
    return samples;
  } else if constexpr (detail::IsCodecAlternative<T, CodecValueVariant>::value) {
    if (const auto* exact = value.getIf<T>()) return *exact;
    return std::nullopt;
  } else {
    if (const auto* record = value.custom<T>()) return *record;
    return std::nullopt;
  }
}

// Folds the two shapes of "nothing" (an absent value and a null that came off
// the wire) into nullopt; any other value is converted to T. A value that is
// present but not convertible is a protocol violation: throws
// std::invalid_argument naming the kind that arrived. Any thread.
template <class T>
std::optional<T> nilOrValue(const std::optional<CodecValue>& value) {
  if (!value.has_value() || value->isNull()) return std::nullopt;
  if (auto converted = codecValueAs<T>(*value)) return converted;
  throw std::invalid_argument(std::string("unexpected ") + codecValueKindName(*value));
}

template <class T>
std::optional<T> nilOrValue(const CodecValue& value) {
  return nilOrValue<T>(std::optional<CodecValue>(value));
}

}  // namespace harkwell
