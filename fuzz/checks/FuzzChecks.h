#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace harkwell::fuzz {

// What a check concluded about one input: nullopt when every invariant held,
// else one line saying which broke. The libFuzzer targets abort on a verdict;
// tests/reliability replays the corpus and the regressions through the checks.
using FuzzVerdict = std::optional<std::string>;
using FuzzInput = std::span<const std::uint8_t>;

// Decodes the bytes with the standard, host or event codec. Decode never
// throws and a failure names its reason; whatever decodes encodes, that
// encoding decodes, and encoding is stable (holds for NaN payloads too).
// Any thread.
FuzzVerdict checkStandardCodecInput(FuzzInput input);
FuzzVerdict checkHostCodecInput(FuzzInput input);
FuzzVerdict checkEventCodecInput(FuzzInput input);

// Sends one event through BridgeFlutterApi on a live engine whose UI answers
// with the input (the single byte ff: no reply at all). The completion runs
// once, with success for [] or [x]; the UI's error for [code, text-or-null,
// text-or-null, ...]; malformed-reply for other lists of two or more; and
// channel-error with empty-string details for anything that is not a list.
// Main thread (the calling thread acts as it).
FuzzVerdict checkEventReplyInput(FuzzInput input);

// Builds a sample buffer from the bytes (layout in AudioConverterCheck.cpp)
// and converts it one to four times, then resamples. Nothing throws; anything
// but valid audio at an accepted rate gives nothing; a block is at most 16
// values per claimed frame (plus one), exactly one per frame at 16000 Hz;
// integer samples stay within about -1..1; resample gives nothing for rates
// that are not finite and positive and starts with the first input. Any thread.
FuzzVerdict checkAudioConverterInput(FuzzInput input);

// Plays up to eight steps (layout in HostChannelCheck.cpp) against a fresh
// host over a simulated backend with two microphones and two displays: calls
// from the UI side with the input's bytes, backend faults, vanishing devices.
// Every call gets exactly one reply, [x] or [code, text-or-null, details];
// every event is [NativeAudioEvent]; nothing hangs; the host still answers.
// Main thread (the calling thread acts as it).
FuzzVerdict checkHostChannelInput(FuzzInput input);

// A page frame through the envelope parser: a refusal says why; an accepted
// frame formats back to itself; a call names a host channel. Any thread.
FuzzVerdict checkWebEnvelopeInput(FuzzInput input);

}  // namespace harkwell::fuzz
