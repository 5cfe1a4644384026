#pragma once
// The fixed pacing of the instrument dialogue. The program always runs with
// the defaults; only tests shorten them, through set_scan_pacing.

#include <chrono>

namespace kestrel {

struct ScanPacing {
  // Wait between writing a command and reading its reply.
  std::chrono::milliseconds command_wait{20};
  // Wait between the scan request and its reply: the instrument measures.
  std::chrono::milliseconds scan_request_wait{2000};
  // Pause after each reply, and before the results are announced.
  std::chrono::milliseconds reply_pause{200};
  // Port read and write time-out: a read that gets no byte in this time ends a reply.
  std::chrono::milliseconds read_timeout{3000};
};

// The pacing in force (the defaults above unless a test changed them).
ScanPacing scan_pacing();

// Replaces the pacing for the whole process. For tests only: the program
// never calls it. Set it before a scan starts.
void set_scan_pacing(const ScanPacing& pacing);

}  // namespace kestrel
