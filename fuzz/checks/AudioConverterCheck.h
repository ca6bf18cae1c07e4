#pragma once

#include <cstdint>
#include <span>

#include "fuzz/checks/FuzzVerdict.h"

namespace harkwell::fuzz {

// Builds a sample buffer from an AudioConverterInput (any description, any
// slices, any bytes, any claimed frame count) and converts it one to four
// times with one converter, then resamples the block's floats at the input's
// rate. What must hold: nothing throws or reads out of bounds; anything that is
// not a valid audio buffer with a rate in the accepted range gives nothing; a
// block is at most 16 values per claimed frame (plus one) and, at 16000 Hz,
// exactly one per frame; integer samples stay within about -1..1; resample
// gives nothing for rates that are not finite and positive and picks its first
// value from the first input. Any thread.
FuzzVerdict checkAudioConverterInput(std::span<const std::uint8_t> input);

}  // namespace harkwell::fuzz
