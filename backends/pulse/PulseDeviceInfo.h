#pragma once

#include <pulse/introspect.h>

#include <cstdint>
#include <string>

namespace harkwell {

// What the backend keeps of a PulseAudio source: libpulse's info structs are only
// valid inside their callback, so the mainloop thread copies them into these.
struct PulseSourceInfo {
  std::string name;
  std::string description;
  uint32_t index = PA_INVALID_INDEX;
  // PA_INVALID_INDEX unless the source is the monitor of a sink.
  uint32_t monitorOfSink = PA_INVALID_INDEX;
  // The "device.class" property ("monitor", "sound", "filter", ...), empty when unset.
  std::string deviceClass;
  // True when the source has ports and every one of them reports "not available"
  // (a jack microphone with nothing plugged in).
  bool allPortsUnavailable = false;
  uint32_t sampleRate = 0;  // Hz
  uint8_t channels = 0;
};

// What the backend keeps of a PulseAudio sink.
struct PulseSinkInfo {
  std::string name;
  std::string description;
  uint32_t index = PA_INVALID_INDEX;
  // PA_INVALID_INDEX when the sink has no monitor source.
  uint32_t monitorSource = PA_INVALID_INDEX;
  std::string monitorSourceName;
};

// Copies of libpulse's callback data; null strings become empty ones. Any thread.
PulseSourceInfo copySourceInfo(const pa_source_info& info);
PulseSinkInfo copySinkInfo(const pa_sink_info& info);

}  // namespace harkwell
