#pragma once
// The scan thread: runs one scan and records its outcome in the shared cells.

#include <expected>

#include "structs/connection_info.hpp"
#include "structs/errors.hpp"

namespace kestrel {

// Starts the detached scan thread with two records that share the interface's
// cells: `scan_record` is used up by the scan, `outcome_record` records the
// outcome. Returns at once; nobody joins the thread. When the system refuses
// the thread this throws std::system_error ("failed to spawn thread: <system
// error>"), which is not meant to be caught: it stops the program through
// the crash handler.
void spawn_scan_thread(ConnectionInfo scan_record, ConnectionInfo outcome_record);

// The thread's body: run_scan, then report_scan_outcome. A poisoned cell ends
// it quietly (after an Error log record), without recording an outcome.
void scan_thread_body(ConnectionInfo scan_record, ConnectionInfo outcome_record);

// Success: status ClosedWithSuccess. Failure: an Info log line, the error
// stored as ScanError unless the error cell already holds one (the first
// error stays), then status ConnectionFailure. The status is written last.
void report_scan_outcome(const ConnectionInfo& outcome_record,
                         std::expected<void, AppError> result);

}  // namespace kestrel
