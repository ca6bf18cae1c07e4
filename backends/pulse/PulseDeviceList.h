#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "backends/pulse/PulseDeviceInfo.h"

namespace harkwell {

// A microphone as the backend offers it: a source that is not a monitor.
struct PulseMicrophone {
  std::string uniqueID;       // the source name, stable across server restarts
  std::string localizedName;  // the source description
  bool operator==(const PulseMicrophone&) const = default;
};

// A "display": a sink whose system audio is captured through its monitor source.
struct PulseDisplay {
  uint32_t displayID = 0;  // FNV-1a-32 of the sink name, never 0
  std::string sinkName;
  std::string description;
  std::string monitorSourceName;  // what a capture of this display records
  bool operator==(const PulseDisplay&) const = default;
};

// 32-bit FNV-1a of `text`. Any thread.
uint32_t fnv1a32(std::string_view text);

// The display id of a sink name: its FNV-1a-32 hash, with 0 (which callers may
// read as "no display") mapped to 1. Any thread.
uint32_t displayIdForSinkName(std::string_view sinkName);

// The microphones among `sources`, in server order with the default source
// first. Monitors (by monitor_of_sink or device.class) and sources whose ports
// are all unplugged are left out. Any thread.
std::vector<PulseMicrophone> microphonesFrom(const std::vector<PulseSourceInfo>& sources,
                                             std::string_view defaultSourceName);

// The displays among `sinks` (those with a monitor source): the default sink
// first, then by description. Ids are the hashed sink names; should two names
// hash alike, the later entry takes a free id derived from its sink index, so
// ids stay unique within one list. Any thread.
std::vector<PulseDisplay> displaysFrom(const std::vector<PulseSinkInfo>& sinks,
                                       std::string_view defaultSinkName);

}  // namespace harkwell
