// libFuzzer target: arbitrary reply bytes from the UI to an event (see
// checks/EventReplyCheck.h for what must hold).
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/FuzzMain.h"
#include "fuzz/checks/EventReplyCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return harkwell::fuzz::reportVerdict(
      harkwell::fuzz::checkEventReplyInput(std::span<const std::uint8_t>(data, size)));
}
