#pragma once
// The "scanraw" block: reading it with its progress, decoding its 3-byte
// level records into points, and the CSV file of the points.

#include <chrono>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "serial/serial_port.hpp"
#include "structs/connection_info.hpp"
#include "structs/errors.hpp"
#include "structs/shared_cell.hpp"

namespace kestrel {

// The decoded scan: the CSV file written and the points, in block order.
struct DecodedScan {
  std::string file_name;
  std::vector<ScanPoint> points;
};

// Bytes a complete block of `points` records should take: points × 3 + 6,
// held at the largest value instead of wrapping.
std::uint64_t expected_block_length(std::uint64_t points);

// Progress to publish before a chunk is counted, with `received` of the
// `expected` bytes in: rises from 20 to at most 99.
std::uint64_t block_progress(std::uint64_t received, std::uint64_t expected);

// Reads the block up to the prompt (or until a read fails or times out, or
// until it passes its expected length, counted up to 32 MiB, by 64 KiB) in
// 64-byte chunks, storing the progress in `progress` before each chunk counts.
std::vector<std::uint8_t> read_scan_block(serial::SerialPort& port, std::uint64_t points,
                                          const SharedCell<std::uint64_t>& progress);

// Names tried for one second's CSV file: far more than the runs that share a
// folder and a second, few enough to give up at once in a folder full of them.
inline constexpr unsigned kCsvNameTries = 100;

// "scan_%Y%m%d %H_%M_%S.csv" of `now` in local time; a `copy` of 2 or more
// goes before the extension: "scan_%Y%m%d %H_%M_%S-2.csv".
std::string csv_file_name(std::chrono::system_clock::time_point now, unsigned copy = 1);

// Level in dBm of a record's level code: code × 0.03125 − 128.
double level_dbm(std::uint16_t code);

// Creates the CSV file in the working directory, named after the local time,
// never opening a file that exists: a taken name gives way to the first free
// one of csv_file_name's copies 2, 3, ... Then checks the block's framing,
// decodes each record into a point (frequency in MHz from `start` and the
// step (stop − start) / (points − 1), level in dBm) and writes its CSV line.
// The name returned is the file's. Errors: OpenOutput (the file cannot be
// created, AlreadyExists when all kCsvNameTries names are taken, or a line, the
// last ones included, cannot be written or the file closed), ParseBeggining
// and ParseEnd (framing). The file stays on disk on every failure after its
// creation, with what could be written.
std::expected<DecodedScan, AppError> decode_scan_block(std::span<const std::uint8_t> bytes,
                                                       std::uint64_t start, std::uint64_t stop,
                                                       std::uint64_t points);

}  // namespace kestrel
