#include "platform/dispatch/RunWork.h"

#include <cstdio>
#include <exception>
#include <string>

namespace harkwell {

void runWork(Task& work, std::string_view where) noexcept {
  try {
    work();
  } catch (const std::exception& error) {
    // One whole line per write, so that concurrent reports do not interleave.
    std::string line = "harkwell: work on " + std::string(where) +
                       " ended with an exception: " + error.what() + "\n";
    std::fputs(line.c_str(), stderr);
  } catch (...) {
    std::string line =
        "harkwell: work on " + std::string(where) + " ended with an unknown exception\n";
    std::fputs(line.c_str(), stderr);
  }
}

}  // namespace harkwell
