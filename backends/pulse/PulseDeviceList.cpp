#include "backends/pulse/PulseDeviceList.h"

#include <algorithm>
#include <unordered_set>

namespace harkwell {

uint32_t fnv1a32(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (unsigned char byte : text) {
    hash ^= byte;
    hash *= 16777619u;
  }
  return hash;
}

uint32_t displayIdForSinkName(std::string_view sinkName) {
  const uint32_t hash = fnv1a32(sinkName);
  return hash == 0 ? 1 : hash;
}

std::vector<PulseMicrophone> microphonesFrom(const std::vector<PulseSourceInfo>& sources,
                                             std::string_view defaultSourceName) {
  std::vector<PulseMicrophone> microphones;
  for (const PulseSourceInfo& source : sources) {
    // monitor_of_sink is the field to trust; device.class catches servers that
    // leave it unset on a monitor.
    if (source.monitorOfSink != PA_INVALID_INDEX || source.deviceClass == "monitor") continue;
    if (source.allPortsUnavailable || source.name.empty()) continue;
    PulseMicrophone microphone{source.name, source.description};
    if (source.name == defaultSourceName) {
      microphones.insert(microphones.begin(), std::move(microphone));
    } else {
      microphones.push_back(std::move(microphone));
    }
  }
  return microphones;
}

std::vector<PulseDisplay> displaysFrom(const std::vector<PulseSinkInfo>& sinks,
                                       std::string_view defaultSinkName) {
  std::vector<const PulseSinkInfo*> ordered;
  for (const PulseSinkInfo& sink : sinks) {
    if (sink.monitorSource == PA_INVALID_INDEX || sink.monitorSourceName.empty()) continue;
    if (sink.name.empty()) continue;
    ordered.push_back(&sink);
  }
  std::stable_sort(ordered.begin(), ordered.end(),
                   [&](const PulseSinkInfo* a, const PulseSinkInfo* b) {
                     const bool aDefault = a->name == defaultSinkName;
                     const bool bDefault = b->name == defaultSinkName;
                     if (aDefault != bDefault) return aDefault;
                     if (a->description != b->description) return a->description < b->description;
                     return a->name < b->name;
                   });

  std::vector<PulseDisplay> displays;
  std::unordered_set<uint32_t> used;
  for (const PulseSinkInfo* sink : ordered) {
    uint32_t id = displayIdForSinkName(sink->name);
    if (used.contains(id)) {
      // A collision is practically impossible, but two displays sharing an id
      // would make one of them unreachable; the sink index keeps it addressable
      // for as long as the server lives.
      id = sink->index == 0 ? 1 : sink->index;
      while (used.contains(id)) id = id == UINT32_MAX ? 1 : id + 1;
    }
    used.insert(id);
    displays.push_back({id, sink->name, sink->description, sink->monitorSourceName});
  }
  return displays;
}

}  // namespace harkwell
