#pragma once

#include <exception>
#include <optional>
#include <string>

#include "platform/flutter/CodecValue.h"

// The UI engine's error object: a code, an optional message and optional
// details, fixed at construction.
// Thread affinity: immutable; any thread.
class FlutterError : public std::exception {
 public:
  explicit FlutterError(std::string code, std::optional<std::string> message = std::nullopt,
                        std::optional<CodecValue> details = std::nullopt);

  const std::string& code() const { return code_; }
  const std::optional<std::string>& message() const { return message_; }
  const std::optional<CodecValue>& details() const { return details_; }

  // "code: message", or the code alone. Any thread.
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::string code_;
  std::optional<std::string> message_;
  std::optional<CodecValue> details_;
  std::string description_;
};
