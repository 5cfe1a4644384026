#include "scan/scan_thread.hpp"

#include <system_error>
#include <thread>
#include <utility>

#include "scan/scan.hpp"
#include "structs/logging.hpp"
#include "structs/shared_cell.hpp"

namespace kestrel {

void spawn_scan_thread(ConnectionInfo scan_record, ConnectionInfo outcome_record) {
  try {
    std::thread(scan_thread_body, std::move(scan_record), std::move(outcome_record)).detach();
  } catch (const std::system_error& refused) {
    throw std::system_error(refused.code(), "failed to spawn thread");
  }
}

void scan_thread_body(ConnectionInfo scan_record, ConnectionInfo outcome_record) {
  try {
    auto result = run_scan(std::move(scan_record));
    report_scan_outcome(outcome_record, std::move(result));
  } catch (const PoisonedCell& poisoned) {
    // Only this thread ends; the interface goes on, so nothing is printed on
    // its terminal and no outcome is recorded.
    log::error(log::kUi, "The scan thread stopped: {}", poisoned.what());
  }
}

void report_scan_outcome(const ConnectionInfo& outcome_record,
                         std::expected<void, AppError> result) {
  if (result) {
    outcome_record.set_connection_status(ConnectionStatus::ClosedWithSuccess);
    return;
  }
  log::info(log::kUi, "An error occured during thread exec: {}", result.error().display());
  if (!outcome_record.is_error_raised()) {
    outcome_record.set_error_raised(ui_error::ScanError{std::move(result.error())});
  }
  outcome_record.set_connection_status(ConnectionStatus::ConnectionFailure);
}

}  // namespace kestrel
