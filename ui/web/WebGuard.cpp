#include "ui/web/WebGuard.h"

#include <sys/random.h>

#include <algorithm>
#include <array>
#include <stdexcept>

namespace harkwell {

std::string makeWebToken() {
  std::array<unsigned char, 16> bits{};
  std::size_t got = 0;
  while (got < bits.size()) {
    const ssize_t n = ::getrandom(bits.data() + got, bits.size() - got, 0);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      throw std::runtime_error("the kernel gives no random bytes for the page's token");
    }
    got += static_cast<std::size_t>(n);
  }
  static constexpr char digits[] = "0123456789abcdef";
  std::string token;
  for (const unsigned char byte : bits) {
    token += digits[byte >> 4];
    token += digits[byte & 0xf];
  }
  return token;
}

bool tokenMatches(std::string_view presented, std::string_view token) {
  // Every byte of the token is looked at whatever the presented text is.
  unsigned difference = presented.size() == token.size() ? 0 : 1;
  for (std::size_t i = 0; i < token.size(); ++i) {
    const unsigned char p = i < presented.size() ? static_cast<unsigned char>(presented[i]) : 0;
    difference |= p ^ static_cast<unsigned char>(token[i]);
  }
  return difference == 0;
}

bool isLoopbackHost(std::string_view host, std::uint16_t port) {
  const std::string suffix = ":" + std::to_string(port);
  return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
}

bool isPageOrigin(std::string_view origin, std::string_view host) {
  return origin.size() == host.size() + 7 && origin.starts_with("http://") &&
         origin.substr(7) == host;
}

bool MessageRateLimit::admit(Clock::time_point now) {
  if (last_ != Clock::time_point{}) {
    const double elapsed = std::chrono::duration<double>(now - last_).count();
    tokens_ = std::min(perSecond_, tokens_ + elapsed * perSecond_);
  }
  last_ = now;
  if (tokens_ < 1) return false;
  tokens_ -= 1;
  return true;
}

}  // namespace harkwell
