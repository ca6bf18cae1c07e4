#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace harkwell {

// One platform message in one binary WebSocket frame between the page and the
// host (docs/web-ui.md):
//   byte 0      kind
//   bytes 1-4   request id, little-endian (0 where no reply is awaited)
//   byte 5      length N of the channel name
//   N bytes     channel name (ASCII)
//   the rest    the message bytes, as the codec wrote them (may be empty)
// Thread affinity: plain values and pure functions; any thread.
enum class WebEnvelopeKind : std::uint8_t {
  hello = 1,    // page → host: the run's token as 32 hex digits, before anything else
  call = 2,     // page → host: a message on a host channel, awaiting a reply
  reply = 3,    // host → page: the host's reply to call `id`
  noReply = 4,  // host → page: nobody handles that channel
  event = 5,    // host → page: a message on the event channel
  quit = 6,     // page → host: the user ends the application
  welcome = 7,  // host → page: the token was right; calls may follow
};

struct WebEnvelope {
  WebEnvelopeKind kind = WebEnvelopeKind::call;
  std::uint32_t id = 0;
  std::string channel;
  std::vector<std::uint8_t> message;
};

inline constexpr std::size_t webEnvelopeHeaderSize = 6;

// The envelope in `frame` when it is one the page may send (hello, call or
// quit) on a channel it may use: a call names one of the five host channels,
// hello and quit name none. Nullopt for anything else, with the reason in
// `error`. Any thread.
std::optional<WebEnvelope> parsePageEnvelope(std::span<const std::uint8_t> frame,
                                             std::string& error);

// The frame for `envelope`; the channel name must be shorter than 256 bytes.
// Any thread.
std::vector<std::uint8_t> formatEnvelope(WebEnvelopeKind kind, std::uint32_t id,
                                         std::string_view channel,
                                         std::span<const std::uint8_t> message);

}  // namespace harkwell
