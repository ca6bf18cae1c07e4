#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioDeviceType.h"

namespace harkwell {

// Which source the user wants: "input" or "output" alone means the default of
// that kind; "input:ID" / "output:ID" names one by its id (everything after
// the first colon, so ids may contain colons).
// Thread affinity: a plain value, any thread.
struct SourceChoice {
  AudioDeviceType type = AudioDeviceType::input;
  std::optional<std::string> id;

  // "input", "output:1", ... Any thread.
  std::string text() const;
};

// The choice written in `text`, or nullopt when it is neither kind or the id
// after the colon is empty. Any thread.
std::optional<SourceChoice> parseSourceChoice(std::string_view text);

// The device of `devices` (one kind's list, as the host gave it) that `choice`
// names: the one with that exact id, or the default one (the first marked
// default, else the first listed). Nullopt with a one-line reason in `whyNot`
// when there is none. Any thread.
std::optional<AudioDevice> selectSource(const SourceChoice& choice,
                                        const std::vector<AudioDevice>& devices,
                                        std::string& whyNot);

}  // namespace harkwell
