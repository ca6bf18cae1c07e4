#include "platform/flutter/FlutterError.h"

#include <utility>

FlutterError::FlutterError(std::string code, std::optional<std::string> message,
                           std::optional<CodecValue> details)
    : code_(std::move(code)),
      message_(std::move(message)),
      details_(std::move(details)),
      description_(message_ ? code_ + ": " + *message_ : code_) {}
