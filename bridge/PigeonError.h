#pragma once

#include <exception>
#include <optional>
#include <string>

#include "platform/flutter/CodecValue.h"

namespace harkwell {

// The one error object that crosses the bridge: a machine-readable code, an
// optional human-readable message and optional further data. Fields are fixed
// at construction. It can be thrown by a host operation, passed as the failure
// of a completion, and is what a failed event delivery reports.
// Thread affinity: an immutable value; may be shared by any threads.
class PigeonError : public std::exception {
 public:
  explicit PigeonError(std::string code, std::optional<std::string> message = std::nullopt,
                       std::optional<CodecValue> details = std::nullopt);

  const std::string& code() const { return code_; }
  const std::optional<std::string>& message() const { return message_; }
  const std::optional<CodecValue>& details() const { return details_; }

  // "PigeonError(code: C, message: M)"; the default description, for logs. Any thread.
  const char* what() const noexcept override { return description_.c_str(); }

  // Field-wise equality (details compared as codec values). Any thread.
  bool operator==(const PigeonError& other) const;

 private:
  std::string code_;
  std::optional<std::string> message_;
  std::optional<CodecValue> details_;
  std::string description_;
};

}  // namespace harkwell
