// libFuzzer target: arbitrary bytes decoded with the event codec (see
// checks/CodecRoundTripCheck.h for what must hold).
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/FuzzMain.h"
#include "fuzz/checks/CodecRoundTripCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return harkwell::fuzz::reportVerdict(
      harkwell::fuzz::checkEventCodecInput(std::span<const std::uint8_t>(data, size)));
}
