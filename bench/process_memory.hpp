// The process's own memory figures, read from /proc: the benchmarks report
// how much a run adds above the memory in use when it starts.
#pragma once

#include <fstream>
#include <string>

namespace vtsd::bench {

// A figure from /proc/self/status, in bytes (0 when missing).
inline double StatusBytes(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line)) {
    if (line.compare(0, prefix.size(), prefix) == 0) return std::stod(line.substr(prefix.size())) * 1024.0;
  }
  return 0;
}

// Restarts the kernel's peak-RSS mark at the current RSS.
inline bool ResetPeakRss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.close();
  return static_cast<bool>(clear);
}

}  // namespace vtsd::bench
