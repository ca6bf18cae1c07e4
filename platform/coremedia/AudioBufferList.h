#pragma once

#include <vector>

#include "platform/coremedia/CoreMediaTypes.h"

// One buffer of audio bytes: `mNumberChannels` interleaved channels,
// `mDataByteSize` bytes at `mData`. Does not own the bytes.
// Thread affinity: none (a plain value).
struct AudioBuffer {
  UInt32 mNumberChannels = 0;
  UInt32 mDataByteSize = 0;
  void* mData = nullptr;
};

// The buffers of one stretch of audio: one per channel when non-interleaved,
// one in all when interleaved. Readers treat a list whose `mNumberBuffers`
// differs from `mBuffers.size()` as malformed. Does not own the bytes.
// Thread affinity: none (a plain value).
struct AudioBufferList {
  UInt32 mNumberBuffers = 0;
  std::vector<AudioBuffer> mBuffers;
};
