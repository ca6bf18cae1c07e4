#pragma once

#include "platform/coremedia/CoreMediaTypes.h"

using AudioFormatID = UInt32;
using AudioFormatFlags = UInt32;

inline constexpr AudioFormatID kAudioFormatLinearPCM = 0x6C70636D;  // 'lpcm'

inline constexpr AudioFormatFlags kAudioFormatFlagIsFloat = 1u << 0;
inline constexpr AudioFormatFlags kAudioFormatFlagIsBigEndian = 1u << 1;
inline constexpr AudioFormatFlags kAudioFormatFlagIsSignedInteger = 1u << 2;
inline constexpr AudioFormatFlags kAudioFormatFlagIsPacked = 1u << 3;
inline constexpr AudioFormatFlags kAudioFormatFlagIsAlignedHigh = 1u << 4;
inline constexpr AudioFormatFlags kAudioFormatFlagIsNonInterleaved = 1u << 5;
inline constexpr AudioFormatFlags kAudioFormatFlagsNativeFloatPacked =
    kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;

// The layout of a linear-PCM audio stream: rate in Hz, per-frame and per-packet
// byte sizes, channel count and sample kind (flags). A plain value.
// Thread affinity: none (a value; copy it freely between threads).
struct AudioStreamBasicDescription {
  Float64 mSampleRate = 0;
  AudioFormatID mFormatID = 0;
  AudioFormatFlags mFormatFlags = 0;
  UInt32 mBytesPerPacket = 0;
  UInt32 mFramesPerPacket = 0;
  // For non-interleaved streams: the bytes of one frame in ONE channel's buffer.
  UInt32 mBytesPerFrame = 0;
  UInt32 mChannelsPerFrame = 0;
  UInt32 mBitsPerChannel = 0;
  UInt32 mReserved = 0;

  friend bool operator==(const AudioStreamBasicDescription&,
                         const AudioStreamBasicDescription&) = default;
};

// Fills `outASBD` with a consistent linear-PCM description: packed when the
// valid bits fill the sample, else aligned high; one packet per frame.
// Any thread.
void FillOutASBDForLPCM(AudioStreamBasicDescription& outASBD, Float64 inSampleRate,
                        UInt32 inChannelsPerFrame, UInt32 inValidBitsPerChannel,
                        UInt32 inTotalBitsPerChannel, bool inIsFloat, bool inIsBigEndian,
                        bool inIsNonInterleaved = false);
