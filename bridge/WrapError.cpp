#include "bridge/WrapError.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <cstdlib>
#include <memory>

#include "platform/flutter/FlutterError.h"

namespace harkwell {

namespace {

// Frames beyond this are cut: the innermost ones say where the error arose.
constexpr int maxFrames = 64;

std::string demangle(const char* mangled) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && name != nullptr ? std::string(name.get()) : std::string(mangled);
}

// backtrace_symbols gives "binary(mangled+0x1f) [0x…]"; the mangled part is
// made readable in place.
std::string readableFrame(const char* symbol) {
  std::string frame(symbol);
  std::size_t open = frame.find('(');
  std::size_t plus = frame.find('+', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || plus == std::string::npos || plus == open + 1) return frame;
  std::string mangled = frame.substr(open + 1, plus - open - 1);
  return frame.substr(0, open + 1) + demangle(mangled.c_str()) + frame.substr(plus);
}

void appendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
}

CodecValue optionalText(const std::optional<std::string>& text) {
  return text.has_value() ? CodecValue(*text) : CodecValue();
}

CodecValue optionalValue(const std::optional<CodecValue>& value) {
  return value.has_value() ? *value : CodecValue();
}

CodecList otherError(std::string description, const std::type_info* type) {
  std::string typeName = type != nullptr ? unqualifiedTypeName(*type) : std::string("unknown");
  return CodecList{std::move(description), std::move(typeName),
                   "Stacktrace: " + callStackSymbols()};
}

CodecList describeCurrentException() {
  // Called inside a catch (...): the exception's dynamic type is the one the
  // runtime is handling right now.
  const std::type_info* type = abi::__cxa_current_exception_type();
  try {
    throw;
  } catch (const PigeonError& error) {
    return wrapError(error);
  } catch (const FlutterError& error) {
    return CodecList{error.code(), optionalText(error.message()), optionalValue(error.details())};
  } catch (const std::exception& error) {
    return otherError(error.what(), &typeid(error));
  } catch (const std::string& text) {
    return otherError(text, type);
  } catch (const char* text) {
    return otherError(text != nullptr ? text : "", type);
  } catch (...) {
    std::string name = type != nullptr ? unqualifiedTypeName(*type) : std::string("unknown");
    return otherError("unknown error of type " + name, type);
  }
}

}  // namespace

CodecList wrapError(const PigeonError& error) noexcept {
  try {
    return CodecList{error.code(), optionalText(error.message()), optionalValue(error.details())};
  } catch (...) {
    return CodecList{"wrap-error", "PigeonError", CodecValue()};
  }
}

CodecList wrapError(const std::exception_ptr& error) noexcept {
  try {
    if (error == nullptr) return otherError("unknown error", nullptr);
    try {
      std::rethrow_exception(error);
    } catch (...) {
      return describeCurrentException();
    }
  } catch (...) {
    // Describing the error failed (out of memory); the reply must still be an
    // error reply of three elements.
    return CodecList{"unknown error", "unknown", "Stacktrace: []"};
  }
}

std::string unqualifiedTypeName(const std::type_info& type) {
  std::string name = demangle(type.name());
  // The last "::" outside template arguments and parentheses ("(anonymous
  // namespace)::") separates the qualifiers from the name.
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '<' || c == '(') {
      ++depth;
    } else if (c == '>' || c == ')') {
      --depth;
    } else if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') {
      start = i + 2;
      ++i;
    }
  }
  return name.substr(start);
}

std::string callStackSymbols() {
  void* frames[maxFrames];
  int count = backtrace(frames, maxFrames);
  std::unique_ptr<char*, void (*)(void*)> symbols(backtrace_symbols(frames, count), std::free);
  std::string list = "[";
  for (int i = 0; i < count; ++i) {
    if (i > 0) list += ", ";
    appendQuoted(list, symbols != nullptr ? readableFrame(symbols.get()[i]) : std::string("?"));
  }
  list += "]";
  return list;
}

}  // namespace harkwell
