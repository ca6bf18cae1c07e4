// libFuzzer target: AudioConverter over arbitrary descriptions, buffer layouts
// and sample bytes (see checks/AudioConverterCheck.h for what must hold).
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/FuzzMain.h"
#include "fuzz/checks/AudioConverterCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return harkwell::fuzz::reportVerdict(
      harkwell::fuzz::checkAudioConverterInput(std::span<const std::uint8_t>(data, size)));
}
