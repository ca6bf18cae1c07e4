#include "ui/SourceChoice.h"

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

std::string SourceChoice::text() const {
  std::string text = kindName(type);
  if (id) text += ":" + *id;
  return text;
}

std::optional<SourceChoice> parseSourceChoice(std::string_view text) {
  const std::size_t colon = text.find(':');
  const std::string_view kind = text.substr(0, colon);
  SourceChoice choice;
  if (kind == "input") {
    choice.type = AudioDeviceType::input;
  } else if (kind == "output") {
    choice.type = AudioDeviceType::output;
  } else {
    return std::nullopt;
  }
  if (colon != std::string_view::npos) {
    const std::string_view id = text.substr(colon + 1);
    if (id.empty()) return std::nullopt;
    choice.id = std::string(id);
  }
  return choice;
}

std::optional<AudioDevice> selectSource(const SourceChoice& choice,
                                        const std::vector<AudioDevice>& devices,
                                        std::string& whyNot) {
  if (choice.id) {
    auto found = std::find_if(devices.begin(), devices.end(),
                              [&](const AudioDevice& device) { return device.id == *choice.id; });
    if (found != devices.end()) return *found;
    whyNot = "unknown source '" + choice.text() + "': no " + sourceNoun(choice.type) +
             " has that id (see --list)";
    return std::nullopt;
  }
  if (devices.empty()) {
    whyNot = std::string("unknown source '") + choice.text() + "': there is no " +
             sourceNoun(choice.type) + " to capture from";
    return std::nullopt;
  }
  auto marked = std::find_if(devices.begin(), devices.end(),
                             [](const AudioDevice& device) { return device.isDefault; });
  return marked != devices.end() ? *marked : devices.front();
}

}  // namespace harkwell
