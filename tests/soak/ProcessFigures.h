#pragma once

#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <fstream>

namespace harkwell::test {

// The three figures a long run must keep flat: threads, open files, resident
// memory, read from /proc for this process.
// Thread affinity: any thread.
struct ProcessFigures {
  std::size_t threads = 0;
  std::size_t openFiles = 0;
  std::size_t residentBytes = 0;

  static ProcessFigures now() {
    ProcessFigures figures;
    figures.threads = entriesIn("/proc/self/task");
    // Minus the descriptor that the directory listing itself holds open.
    const std::size_t files = entriesIn("/proc/self/fd");
    figures.openFiles = files > 0 ? files - 1 : 0;
    std::ifstream statm("/proc/self/statm");
    std::size_t totalPages = 0;
    std::size_t residentPages = 0;
    statm >> totalPages >> residentPages;
    figures.residentBytes = residentPages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return figures;
  }

 private:
  static std::size_t entriesIn(const char* dir) {
    std::size_t count = 0;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(dir, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
      ++count;
    }
    return count;
  }
};

}  // namespace harkwell::test
