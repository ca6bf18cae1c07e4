#pragma once

#include <cstdint>
#include <exception>
#include <string>

// The platform's error object: a domain, a numeric code and a human-readable
// description. Thrown by stand-in operations that can fail and handed to
// completions that report failure.
// Thread affinity: an immutable value; any thread.
class NSError : public std::exception {
 public:
  NSError(std::string domain, std::int64_t code, std::string localizedDescription);

  const std::string& domain() const { return domain_; }
  std::int64_t code() const { return code_; }
  const std::string& localizedDescription() const { return localizedDescription_; }

  // `Error Domain=<domain> Code=<code> "<description>"`, the form the platform
  // prints for an error in logs. Any thread.
  const std::string& debugDescription() const { return debugDescription_; }

  // The debug description. Any thread.
  const char* what() const noexcept override { return debugDescription_.c_str(); }

 private:
  std::string domain_;
  std::int64_t code_;
  std::string localizedDescription_;
  std::string debugDescription_;
};

// Domain of the errors raised by the capture stand-ins and backends.
inline constexpr const char* kCaptureErrorDomain = "com.harkwell.capture";
