#pragma once
// The scan operation: range check, port, set-up dialogue with the TinySA,
// the scan block, and publication of the results through ConnectionInfo.

#include <cstdint>
#include <expected>
#include <string_view>

#include "structs/connection_info.hpp"
#include "structs/errors.hpp"

namespace kestrel {

// The instrument's input that a frequency range needs.
enum class InputMode { Low, High };
std::string_view input_mode_name(InputMode mode);  // "low", "high"

// The low input takes ranges that stop below 350 MHz; the high input ranges
// from 240 MHz up within 350 to 960 MHz (Hz, bounds inclusive). Anything else,
// or start above stop, is BadScanFrequencies.
std::expected<InputMode, AppError> check_scan_range(std::uint64_t start, std::uint64_t stop);

// Runs one whole scan with the settings of `info`, publishing its message,
// progress, instrument text, points and file name in the shared cells. The
// port is closed on return. The connection status is left to the caller.
std::expected<void, AppError> run_scan(ConnectionInfo info);

}  // namespace kestrel
