#pragma once

#include <cstdio>
#include <string>

// Writes one diagnostic line of the messaging layer to standard error, as a
// single write so that lines from several threads do not interleave.
// Any thread.
inline void logFlutterDiagnostic(const std::string& text) {
  const std::string line = "harkwell: flutter: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}
