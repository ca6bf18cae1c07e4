#include <algorithm>

#include "bridge/BridgeHostApiSetup.h"
#include "fuzz/checks/FuzzChecks.h"
#include "ui/web/WebEnvelope.h"

namespace harkwell::fuzz {

FuzzVerdict checkWebEnvelopeInput(FuzzInput frame) {
  std::string error;
  const auto envelope = parsePageEnvelope(frame, error);
  if (!envelope) return error.empty() ? FuzzVerdict("refused without a reason") : std::nullopt;
  const auto again =
      formatEnvelope(envelope->kind, envelope->id, envelope->channel, envelope->message);
  if (!std::equal(again.begin(), again.end(), frame.begin(), frame.end())) {
    return "accepted frame does not format back to itself";
  }
  if (envelope->kind == WebEnvelopeKind::call &&
      !envelope->channel.starts_with(BridgeHostApiSetup::channelPrefix)) {
    return "a call on a foreign channel got through";
  }
  return std::nullopt;
}

}  // namespace harkwell::fuzz
