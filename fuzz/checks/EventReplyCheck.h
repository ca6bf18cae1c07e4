#pragma once

#include <cstdint>
#include <span>

#include "fuzz/checks/FuzzVerdict.h"

namespace harkwell::fuzz {

// Sends one event through BridgeFlutterApi on a live engine whose UI side
// answers with the input as the reply bytes (the single byte ff stands for no
// reply at all). What must hold: the completion runs exactly once, and its
// outcome is the one the reply's decoded form calls for: success for [] or
// [x]; the UI's PigeonError for [code, message-or-null, details-or-null, ...];
// "malformed-reply" for any other list of two or more; "channel-error" with
// empty-string details for anything that is not a list.
// Main thread (the calling thread acts as it).
FuzzVerdict checkEventReplyInput(std::span<const std::uint8_t> input);

}  // namespace harkwell::fuzz
