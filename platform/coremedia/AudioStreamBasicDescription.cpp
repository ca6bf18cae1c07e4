#include "platform/coremedia/AudioStreamBasicDescription.h"

void FillOutASBDForLPCM(AudioStreamBasicDescription& outASBD, Float64 inSampleRate,
                        UInt32 inChannelsPerFrame, UInt32 inValidBitsPerChannel,
                        UInt32 inTotalBitsPerChannel, bool inIsFloat, bool inIsBigEndian,
                        bool inIsNonInterleaved) {
  AudioFormatFlags flags = inIsFloat ? kAudioFormatFlagIsFloat : kAudioFormatFlagIsSignedInteger;
  if (inIsBigEndian) flags |= kAudioFormatFlagIsBigEndian;
  flags |= inValidBitsPerChannel == inTotalBitsPerChannel ? kAudioFormatFlagIsPacked
                                                          : kAudioFormatFlagIsAlignedHigh;
  if (inIsNonInterleaved) flags |= kAudioFormatFlagIsNonInterleaved;

  const UInt32 bytesPerFrame =
      (inIsNonInterleaved ? 1 : inChannelsPerFrame) * (inTotalBitsPerChannel / 8);
  outASBD = AudioStreamBasicDescription{};
  outASBD.mSampleRate = inSampleRate;
  outASBD.mFormatID = kAudioFormatLinearPCM;
  outASBD.mFormatFlags = flags;
  outASBD.mBytesPerPacket = bytesPerFrame;
  outASBD.mFramesPerPacket = 1;
  outASBD.mBytesPerFrame = bytesPerFrame;
  outASBD.mChannelsPerFrame = inChannelsPerFrame;
  outASBD.mBitsPerChannel = inValidBitsPerChannel;
}
