#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace harkwell::fuzz {

// One fuzz input for the host channels: up to maxSteps steps, each a selector
// byte, a 16-bit little-endian length and that many message bytes (fewer when
// the input ends first). The selector's low three bits pick what the step does
// (Action); its high bits inject backend faults just before it (Fault).
// Parsing never fails; seeds (fuzz/corpus/) are files in this form.
// Thread affinity: plain value; any thread.
struct HostChannelInput {
  enum class Action : std::uint8_t {
    getDevices = 0,
    listen = 1,
    unlisten = 2,
    checkPermission = 3,
    requestPermission = 4,
    removeMicrophone = 5,    // the first microphone disappears
    stopDisplayStreams = 6,  // the first display's streams stop with an error
    removeDisplay = 7,       // the first display disappears
  };
  enum Fault : std::uint8_t {
    failMicrophoneOpen = 1 << 3,
    failAddOutput = 1 << 4,
    failStreamStart = 1 << 5,
    failShareableContent = 1 << 6,
    failStreamStop = 1 << 7,
  };

  struct Step {
    std::uint8_t selector = 0;
    std::vector<std::uint8_t> message;

    Action action() const { return static_cast<Action>(selector & 0x07); }
    bool has(Fault fault) const { return (selector & fault) != 0; }
  };

  static constexpr std::size_t maxSteps = 8;

  std::vector<Step> steps;

  static HostChannelInput parse(std::span<const std::uint8_t> bytes) {
    HostChannelInput input;
    std::size_t position = 0;
    while (position < bytes.size() && input.steps.size() < maxSteps) {
      Step step;
      step.selector = bytes[position++];
      std::size_t length = 0;
      for (int shift = 0; shift < 16 && position < bytes.size(); shift += 8) {
        length |= static_cast<std::size_t>(bytes[position++]) << shift;
      }
      length = std::min(length, bytes.size() - position);
      step.message.assign(bytes.begin() + static_cast<std::ptrdiff_t>(position),
                          bytes.begin() + static_cast<std::ptrdiff_t>(position + length));
      position += length;
      input.steps.push_back(std::move(step));
    }
    return input;
  }
};

}  // namespace harkwell::fuzz
