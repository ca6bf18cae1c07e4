#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace harkwell {

// The checks that keep other sites and other users away from the host's page
// server: the run's secret token, the Host and Origin headers, and a message
// rate limit.
// Thread affinity: pure functions, any thread; a MessageRateLimit belongs to
// one connection's thread.

// 128 random bits from the kernel (getrandom) as 32 lowercase hex digits.
// Throws std::runtime_error when the kernel gives none. Any thread.
std::string makeWebToken();

// True when `presented` equals `token`; the time taken does not depend on
// where they differ. Any thread.
bool tokenMatches(std::string_view presented, std::string_view token);

// True when `host` (a Host header) is 127.0.0.1 or localhost with exactly
// `port`: a name that merely resolves to the loopback address (DNS rebinding)
// is refused. Any thread.
bool isLoopbackHost(std::string_view host, std::uint16_t port);

// True when `origin` (an Origin header) is the page's own origin, the one that
// `host` names over http. Any thread.
bool isPageOrigin(std::string_view origin, std::string_view host);

// Allows `perSecond` messages per second on average, in bursts of at most
// that many.
class MessageRateLimit {
 public:
  using Clock = std::chrono::steady_clock;
  explicit MessageRateLimit(double perSecond) : perSecond_(perSecond), tokens_(perSecond) {}
  // False when this message is over the limit.
  bool admit(Clock::time_point now);

 private:
  double perSecond_;
  double tokens_;
  Clock::time_point last_{};
};

}  // namespace harkwell
