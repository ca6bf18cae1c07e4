#include "ui/SourceSpec.h"

#include <algorithm>

namespace harkwell {
namespace {

const char* kindName(AudioDeviceType type) {
  return type == AudioDeviceType::output ? "output" : "input";
}

const char* sourceNoun(AudioDeviceType type) {
  return type == AudioDeviceType::output ? "display" : "microphone";
}

}  // namespace

std::string SourceSpec::text() const {
  std::string text = kindName(type);
  if (id) text += ":" + *id;
  return text;
}

std::optional<SourceSpec> parseSourceSpec(std::string_view text) {
  const std::size_t colon = text.find(':');
  const std::string_view kind = text.substr(0, colon);
  SourceSpec spec;
  if (kind == "input") {
    spec.type = AudioDeviceType::input;
  } else if (kind == "output") {
    spec.type = AudioDeviceType::output;
  } else {
    return std::nullopt;
  }
  if (colon != std::string_view::npos) {
    const std::string_view id = text.substr(colon + 1);
    if (id.empty()) return std::nullopt;
    spec.id = std::string(id);
  }
  return spec;
}

std::optional<AudioDevice> selectSource(const SourceSpec& spec,
                                        const std::vector<AudioDevice>& devices,
                                        std::string& whyNot) {
  if (spec.id) {
    auto found = std::find_if(devices.begin(), devices.end(),
                              [&](const AudioDevice& device) { return device.id == *spec.id; });
    if (found != devices.end()) return *found;
    whyNot = "unknown source '" + spec.text() + "': no " + sourceNoun(spec.type) +
             " has that id (see --list)";
    return std::nullopt;
  }
  if (devices.empty()) {
    whyNot = std::string("unknown source '") + spec.text() + "': there is no " +
             sourceNoun(spec.type) + " to capture from";
    return std::nullopt;
  }
  auto marked = std::find_if(devices.begin(), devices.end(),
                             [](const AudioDevice& device) { return device.isDefault; });
  return marked != devices.end() ? *marked : devices.front();
}

}  // namespace harkwell
