// libFuzzer target: arbitrary frames from a page through the envelope parser.
// A frame it accepts must be exactly the frame its fields format back to, a
// call must name a host channel, and a refused frame must say why.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "bridge/BridgeHostApiSetup.h"
#include "fuzz/FuzzMain.h"
#include "ui/web/WebEnvelope.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace harkwell;
  const std::span<const std::uint8_t> frame(data, size);
  std::string error;
  const auto envelope = parsePageEnvelope(frame, error);
  if (!envelope) {
    return fuzz::reportVerdict(error.empty() ? fuzz::FuzzVerdict("refused without a reason")
                                             : fuzz::FuzzVerdict());
  }
  const auto again =
      formatEnvelope(envelope->kind, envelope->id, envelope->channel, envelope->message);
  if (!std::equal(again.begin(), again.end(), frame.begin(), frame.end())) {
    return fuzz::reportVerdict(fuzz::FuzzVerdict("accepted frame does not format back to itself"));
  }
  if (envelope->kind == WebEnvelopeKind::call &&
      !envelope->channel.starts_with(BridgeHostApiSetup::channelPrefix)) {
    return fuzz::reportVerdict(fuzz::FuzzVerdict("a call on a foreign channel got through"));
  }
  return 0;
}
