#include "backends/pulse/PulseDeviceInfo.h"

#include <pulse/proplist.h>

namespace harkwell {

namespace {

std::string orEmpty(const char* text) {
  return text ? std::string(text) : std::string();
}

}  // namespace

PulseSourceInfo copySourceInfo(const pa_source_info& info) {
  PulseSourceInfo copy;
  copy.name = orEmpty(info.name);
  copy.description = orEmpty(info.description);
  copy.index = info.index;
  copy.monitorOfSink = info.monitor_of_sink;
  if (info.proplist)
    copy.deviceClass = orEmpty(pa_proplist_gets(info.proplist, PA_PROP_DEVICE_CLASS));
  if (info.n_ports > 0 && info.ports) {
    bool anyAvailable = false;
    for (uint32_t i = 0; i < info.n_ports && info.ports[i]; ++i) {
      if (info.ports[i]->available != PA_PORT_AVAILABLE_NO) anyAvailable = true;
    }
    copy.allPortsUnavailable = !anyAvailable;
  }
  copy.sampleRate = info.sample_spec.rate;
  copy.channels = info.sample_spec.channels;
  return copy;
}

PulseSinkInfo copySinkInfo(const pa_sink_info& info) {
  PulseSinkInfo copy;
  copy.name = orEmpty(info.name);
  copy.description = orEmpty(info.description);
  copy.index = info.index;
  copy.monitorSource = info.monitor_source;
  copy.monitorSourceName = orEmpty(info.monitor_source_name);
  return copy;
}

}  // namespace harkwell
