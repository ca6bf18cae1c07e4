#pragma once

#include <cstdint>
#include <span>

#include "fuzz/checks/FuzzVerdict.h"
#include "platform/flutter/FlutterMessageCodec.h"

namespace harkwell::fuzz {

// Decodes untrusted bytes with `codec` and checks what the bridge relies on:
// decode never throws and a failure names its reason; whatever decodes encodes
// again without throwing, that encoding decodes, and encoding is stable
// (encode(decode(encode(v))) == encode(v), which holds for NaN payloads too).
// Any thread.
FuzzVerdict checkCodecRoundTrip(const FlutterMessageCodec& codec,
                                std::span<const std::uint8_t> input);

// The same over the standard codec, the host codec and the event codec.
// Any thread.
FuzzVerdict checkStandardCodecInput(std::span<const std::uint8_t> input);
FuzzVerdict checkHostCodecInput(std::span<const std::uint8_t> input);
FuzzVerdict checkEventCodecInput(std::span<const std::uint8_t> input);

}  // namespace harkwell::fuzz
