// decode_scan_block on arbitrary bytes with arbitrary start, stop and point
// count, in a scratch folder emptied after each run. A failure must be one of
// the block's own errors; a success must give points whose levels come from
// their records' bytes and a CSV file with one line per point.
//
// Input: start, stop and points as three little-endian 64-bit numbers, then
// the block's bytes.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <span>
#include <string>

#include "fuzz_support.hpp"
#include "scan/scan_block.hpp"
#include "structs/logging.hpp"
#include "structs/number_format.hpp"

namespace {

using kestrel::fuzz::check;

std::uint64_t take_u64(const std::uint8_t*& data) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i)
    v |= static_cast<std::uint64_t>(data[i]) << (8 * i);
  data += 8;
  return v;
}

// The CSV file goes to the working directory: each run enters this folder
// for the decoding only, so libFuzzer's own files go where it was started
// (unless the decoding itself crashes: give -artifact_prefix an absolute path).
const kestrel::fuzz::ScratchDir& scratch() {
  static const kestrel::fuzz::ScratchDir dir;
  return dir;
}

void check_success(const kestrel::DecodedScan& scan, std::span<const std::uint8_t> block) {
  const auto open = std::ranges::find(block, '{');
  check(open != block.end(), "a decoded block has its opening brace");
  const std::size_t first = static_cast<std::size_t>(open - block.begin()) + 1;
  check(scan.points.size() <= (block.size() - first) / 3, "no more points than records");

  std::ifstream csv(scratch().path() / scan.file_name, std::ios::binary);
  check(csv.good(), "the CSV file is there");
  std::string line;
  for (std::size_t i = 0; i < scan.points.size(); ++i) {
    const std::uint8_t* record = block.data() + first + 3 * i;
    check(record[0] == 'x', "each point comes from an x record");
    const double level = kestrel::level_dbm(static_cast<std::uint16_t>(record[1] | record[2] << 8));
    check(scan.points[i].level == level, "each level comes from its record's bytes");
    check(std::getline(csv, line).good(), "one CSV line per point");
    check(line == kestrel::float_plain(scan.points[i].frequency) + "," +
                      kestrel::float_plain(scan.points[i].level),
          "the CSV line is the point's frequency and level");
  }
  check(!std::getline(csv, line), "no CSV line beyond the points");
}

}  // namespace

// The scan log records are on, written to /dev/null, so their lines are built too.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!kestrel::log::start("/dev/null", "info"))
    kestrel::fuzz::fail("cannot start logging");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 24)
    return 0;
  const std::uint64_t start = take_u64(data);
  const std::uint64_t stop = take_u64(data);
  const std::uint64_t points = take_u64(data);
  const std::span<const std::uint8_t> block(data, size - 24);

  static const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  check(home >= 0 && ::chdir(scratch().path().c_str()) == 0, "entering the scratch folder");
  auto scan = kestrel::decode_scan_block(block, start, stop, points);
  check(::fchdir(home) == 0, "leaving the scratch folder");
  if (scan) {
    check_success(*scan, block);
  } else {
    const auto& e = scan.error();
    check(e.is<kestrel::app_error::ParseBeggining>() || e.is<kestrel::app_error::ParseEnd>(),
          "a block fails only on its framing");
  }
  scratch().clear();
  return 0;
}
