#include "bridge/PigeonError.h"

#include <utility>

namespace harkwell {

namespace {

std::string describe(const std::string& code, const std::optional<std::string>& message) {
  std::string text = "PigeonError(code: " + code;
  if (message.has_value()) text += ", message: " + *message;
  text += ")";
  return text;
}

}  // namespace

PigeonError::PigeonError(std::string code, std::optional<std::string> message,
                         std::optional<CodecValue> details)
    : code_(std::move(code)),
      message_(std::move(message)),
      details_(std::move(details)),
      // Built once: what() must not allocate, and the fields never change.
      description_(describe(code_, message_)) {}

bool PigeonError::operator==(const PigeonError& other) const {
  return code_ == other.code_ && message_ == other.message_ && details_ == other.details_;
}

}  // namespace harkwell
