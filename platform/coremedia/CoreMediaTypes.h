#pragma once

#include <cstdint>

// Scalar types shared by the CoreMedia and CoreAudio stand-ins.

using OSStatus = std::int32_t;
using UInt32 = std::uint32_t;
using Float64 = double;

// Item counts (frames in an audio sample buffer). Signed, as on the platform.
using CMItemCount = std::int64_t;

// Allocators are accepted for signature fidelity only; every allocation uses
// the default allocator.
using CFAllocatorRef = const void*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

inline constexpr OSStatus noErr = 0;
