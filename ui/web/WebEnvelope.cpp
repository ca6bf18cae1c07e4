#include "ui/web/WebEnvelope.h"

#include <array>
#include <stdexcept>

#include "bridge/BridgeHostApiSetup.h"

namespace harkwell {
namespace {

bool isHostChannel(std::string_view channel) {
  static const std::array<std::string, 5> names = {
      BridgeHostApiSetup::channelName("getDevices"), BridgeHostApiSetup::channelName("listen"),
      BridgeHostApiSetup::channelName("unlisten"),
      BridgeHostApiSetup::channelName("checkPermission"),
      BridgeHostApiSetup::channelName("requestPermission")};
  for (const std::string& name : names) {
    if (name == channel) return true;
  }
  return false;
}

}  // namespace

std::optional<WebEnvelope> parsePageEnvelope(std::span<const std::uint8_t> frame,
                                             std::string& error) {
  if (frame.size() < webEnvelopeHeaderSize) {
    error = "the envelope is shorter than its header";
    return std::nullopt;
  }
  WebEnvelope envelope;
  envelope.kind = static_cast<WebEnvelopeKind>(frame[0]);
  envelope.id = static_cast<std::uint32_t>(frame[1]) | static_cast<std::uint32_t>(frame[2]) << 8 |
                static_cast<std::uint32_t>(frame[3]) << 16 |
                static_cast<std::uint32_t>(frame[4]) << 24;
  const std::size_t channelSize = frame[5];
  if (channelSize > frame.size() - webEnvelopeHeaderSize) {
    error = "the channel name runs past the end of the envelope";
    return std::nullopt;
  }
  const auto channel = frame.subspan(webEnvelopeHeaderSize, channelSize);
  envelope.channel.assign(channel.begin(), channel.end());
  const auto message = frame.subspan(webEnvelopeHeaderSize + channelSize);
  envelope.message.assign(message.begin(), message.end());
  switch (envelope.kind) {
    case WebEnvelopeKind::call:
      if (isHostChannel(envelope.channel)) return envelope;
      error = "a call on a channel that is not a host channel";
      return std::nullopt;
    case WebEnvelopeKind::hello:
    case WebEnvelopeKind::quit:
      if (envelope.channel.empty()) return envelope;
      error = "a hello or quit that names a channel";
      return std::nullopt;
    default:
      error = "an envelope kind the page does not send: " + std::to_string(frame[0]);
      return std::nullopt;
  }
}

std::vector<std::uint8_t> formatEnvelope(WebEnvelopeKind kind, std::uint32_t id,
                                         std::string_view channel,
                                         std::span<const std::uint8_t> message) {
  if (channel.size() > 255) throw std::length_error("channel name longer than 255 bytes");
  std::vector<std::uint8_t> frame;
  frame.reserve(webEnvelopeHeaderSize + channel.size() + message.size());
  frame.push_back(static_cast<std::uint8_t>(kind));
  for (int shift = 0; shift < 32; shift += 8)
    frame.push_back(static_cast<std::uint8_t>(id >> shift));
  frame.push_back(static_cast<std::uint8_t>(channel.size()));
  frame.insert(frame.end(), channel.begin(), channel.end());
  frame.insert(frame.end(), message.begin(), message.end());
  return frame;
}

}  // namespace harkwell
