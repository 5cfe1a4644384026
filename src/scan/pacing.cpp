#include "scan/pacing.hpp"

#include <mutex>

namespace kestrel {

namespace {
std::mutex pacing_mutex;
ScanPacing current_pacing;
}  // namespace

ScanPacing scan_pacing() {
  std::lock_guard lock(pacing_mutex);
  return current_pacing;
}

void set_scan_pacing(const ScanPacing& pacing) {
  std::lock_guard lock(pacing_mutex);
  current_pacing = pacing;
}

}  // namespace kestrel
