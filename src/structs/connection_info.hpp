#pragma once
// The scan record shared by the interface thread and the scan thread: plain
// settings that every copy holds for itself, and seven cells that all copies
// share. Every accessor takes one cell's lock for one operation.

#include <cstdint>
#include <expected>
#include <optional>
#include <source_location>
#include <string>
#include <vector>

#include "structs/errors.hpp"
#include "structs/shared_cell.hpp"

namespace kestrel {

enum class ConnectionStatus : std::uint8_t {
  Uninitialised = 0,
  ConnectionFailure = 1,
  ClosedWithSuccess = 2,
};
std::string_view connection_status_name(ConnectionStatus s);
void debug(DebugWriter& w, ConnectionStatus s);

// One decoded point: frequency in MHz, level in dBm.
struct ScanPoint {
  double frequency;
  double level;
  bool operator==(const ScanPoint&) const = default;
};
void debug(DebugWriter& w, const ScanPoint& p);  // (240.0, -80.5)

class ConnectionInfo {
 public:
  using Where = std::source_location;

  // Plain settings; a copy has its own.
  std::uint64_t points = 0;
  std::uint32_t baudrate = 0;
  std::string port;
  std::uint64_t repeat = 0;
  std::uint64_t start = 0;  // Hz
  std::uint64_t stop = 0;   // Hz

  // A record with fresh cells: progress 0, texts empty, no points, status
  // Uninitialised, no error. Copies share the cells.
  ConnectionInfo() = default;
  // A record's cells never change once made: no assignment, and no move that
  // would leave the source without cells (an rvalue is copied).
  ConnectionInfo(const ConnectionInfo&) = default;
  ConnectionInfo& operator=(const ConnectionInfo&) = delete;

  void set_scan_message(std::string_view text, Where w = Where::current()) const;
  void set_progress(std::uint64_t value, Where w = Where::current()) const;
  void set_scan_info(std::string_view text, Where w = Where::current()) const;
  void set_return_data(std::vector<ScanPoint> points, Where w = Where::current()) const;
  void set_file_name(std::string name, Where w = Where::current()) const;
  void set_connection_status(ConnectionStatus s, Where w = Where::current()) const;
  void set_error_raised(UiError error, Where w = Where::current()) const;

  std::uint64_t get_progress(Where w = Where::current()) const;
  std::string get_scan_message(Where w = Where::current()) const;
  std::string get_scan_info(Where w = Where::current()) const;
  ConnectionStatus get_connection_status(Where w = Where::current()) const;
  // Takes the points out, leaving the cell absent; NoReturnData when absent.
  std::expected<std::vector<ScanPoint>, UiError> take_return_data(Where w = Where::current()) const;
  bool is_error_raised(Where w = Where::current()) const;

  // Direct cell access for the two places that lock a cell themselves (the
  // block reader's progress, the Failure screen's error).
  const SharedCell<std::uint64_t>& progress_cell() const { return progress_; }
  const SharedCell<std::optional<UiError>>& error_cell() const { return error_raised_; }

  // Debug form: thirteen fields in declared order; cells as Mutex { data, poisoned, .. },
  // "<locked>" for a cell whose lock is held elsewhere (never waits).
  friend void debug(DebugWriter& w, const ConnectionInfo& info);

 private:
  SharedCell<std::uint64_t> progress_{0};
  SharedCell<std::optional<std::vector<ScanPoint>>> return_data_{};
  SharedCell<std::string> scan_info_{};
  SharedCell<std::string> scan_message_{};
  SharedCell<std::string> file_name_{};
  SharedCell<ConnectionStatus> connection_status_{ConnectionStatus::Uninitialised};
  SharedCell<std::optional<UiError>> error_raised_{};
};

}  // namespace kestrel
