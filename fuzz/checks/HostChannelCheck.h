#pragma once

#include <cstdint>
#include <span>

#include "fuzz/checks/FuzzVerdict.h"

namespace harkwell::fuzz {

// Plays a HostChannelInput against the real host: a fresh BridgeApi on a live
// engine, over a fresh manual simulated backend with two microphones ("mic-1",
// "mic-2") and two displays (1, 2). Each step injects its faults, then sends
// its bytes from the engine's UI side to its host channel, or acts on the
// backend (a microphone or display disappears, a stream stops with an error).
// What must hold: every message gets exactly one reply, which decodes with the
// host codec as [x] or [string code, string-or-null message, details]; every
// event decodes as [NativeAudioEvent]; nothing hangs; and afterwards the host
// still answers a getDevices call.
// Main thread (the calling thread acts as it).
FuzzVerdict checkHostChannelInput(std::span<const std::uint8_t> input);

}  // namespace harkwell::fuzz
