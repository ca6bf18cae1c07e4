// libFuzzer target: arbitrary bytes and backend faults delivered through the
// engine's UI side to the five host channels (see checks/HostChannelCheck.h).
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/FuzzMain.h"
#include "fuzz/checks/HostChannelCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return harkwell::fuzz::reportVerdict(
      harkwell::fuzz::checkHostChannelInput(std::span<const std::uint8_t>(data, size)));
}
