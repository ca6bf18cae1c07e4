#pragma once

#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

// The values that Flutter's standard message codec carries, plus custom values
// for records of codecs built on top of it. A value that came off the wire as
// null is CodecNull, which is distinct from an absent value
// (std::optional<CodecValue> without a value). int32 and int64 stay distinct, as
// written on the wire. Maps keep their entries in wire order.
// Thread affinity: plain values; immutable sharing of custom payloads makes
// copies safe to hand across threads.

struct CodecNull {
  bool operator==(const CodecNull&) const = default;
};

// An immutable, shared payload of any copyable type with operator==.
class CodecCustomValue {
 public:
  template <class T>
  static CodecCustomValue make(T value) {
    return CodecCustomValue(std::make_shared<const Holder<T>>(std::move(value)));
  }

  // The payload when it is of type T, else nullptr.
  template <class T>
  const T* get() const {
    auto* holder = dynamic_cast<const Holder<T>*>(holder_.get());
    return holder != nullptr ? &holder->value : nullptr;
  }

  const std::type_info& type() const { return holder_->type(); }

  bool operator==(const CodecCustomValue& other) const {
    return holder_ == other.holder_ || holder_->equals(*other.holder_);
  }

 private:
  struct Base {
    virtual ~Base() = default;
    virtual const std::type_info& type() const = 0;
    virtual bool equals(const Base& other) const = 0;
  };
  template <class T>
  struct Holder final : Base {
    explicit Holder(T v) : value(std::move(v)) {}
    const std::type_info& type() const override { return typeid(T); }
    bool equals(const Base& other) const override {
      auto* o = dynamic_cast<const Holder<T>*>(&other);
      return o != nullptr && o->value == value;
    }
    T value;
  };

  explicit CodecCustomValue(std::shared_ptr<const Base> holder) : holder_(std::move(holder)) {}

  std::shared_ptr<const Base> holder_;
};

class CodecValue;
using CodecList = std::vector<CodecValue>;
using CodecMap = std::vector<std::pair<CodecValue, CodecValue>>;

using CodecValueVariant =
    std::variant<CodecNull, bool, std::int32_t, std::int64_t, double, std::string,
                 std::vector<std::uint8_t>, std::vector<std::int32_t>, std::vector<std::int64_t>,
                 std::vector<float>, std::vector<double>, CodecList, CodecMap, CodecCustomValue>;

class CodecValue : public CodecValueVariant {
 public:
  using CodecValueVariant::CodecValueVariant;
  using CodecValueVariant::operator=;

  CodecValue() : CodecValueVariant(CodecNull{}) {}
  // String literals would otherwise pick the bool alternative.
  CodecValue(const char* text)
      : CodecValueVariant(std::string(text)) {}  // NOLINT(google-explicit-constructor)

  bool isNull() const { return std::holds_alternative<CodecNull>(*this); }

  template <class T>
  bool is() const {
    return std::holds_alternative<T>(*this);
  }
  template <class T>
  const T* getIf() const {
    return std::get_if<T>(this);
  }

  // An integer of either width, or nullopt.
  std::optional<std::int64_t> asInteger() const {
    if (auto* v = std::get_if<std::int32_t>(this)) return *v;
    if (auto* v = std::get_if<std::int64_t>(this)) return *v;
    return std::nullopt;
  }

  // The custom payload of type T, or nullptr.
  template <class T>
  const T* custom() const {
    auto* c = std::get_if<CodecCustomValue>(this);
    return c != nullptr ? c->get<T>() : nullptr;
  }

  const CodecValueVariant& variant() const { return *this; }
};

// A short name of the value's kind, for error messages ("null", "string",
// "int32", "list", "custom value", ...). Any thread.
inline const char* codecValueKindName(const CodecValue& value) {
  static constexpr const char* names[] = {
      "null",         "bool",       "int32",      "int64",       "float64",
      "string",       "uint8 list", "int32 list", "int64 list",  "float32 list",
      "float64 list", "list",       "map",        "custom value"};
  static_assert(std::size(names) == std::variant_size_v<CodecValueVariant>);
  return names[value.variant().index()];
}
