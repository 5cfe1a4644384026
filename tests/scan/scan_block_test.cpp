// Decoding of the scan block, its CSV file and log lines, the block's
// progress, and the frequency range check.

#include "scan/scan_block.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "scan/scan.hpp"
#include "scan_test_support.hpp"

namespace kestrel {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::uint64_t kMHz = 1'000'000;

// "{", one 'x' record per level code, "}", then `trailer`.
std::vector<std::uint8_t> block(const std::vector<std::uint16_t>& codes, std::string trailer = "",
                                std::string preamble = "") {
  std::vector<std::uint8_t> bytes(preamble.begin(), preamble.end());
  bytes.push_back('{');
  for (const std::uint16_t code : codes) {
    bytes.insert(bytes.end(), {'x', static_cast<std::uint8_t>(code & 0xFF),
                               static_cast<std::uint8_t>(code >> 8)});
  }
  bytes.push_back('}');
  bytes.insert(bytes.end(), trailer.begin(), trailer.end());
  return bytes;
}

std::vector<std::uint16_t> codes(std::size_t count, std::uint16_t code = 0x0513) {
  return std::vector<std::uint16_t>(count, code);
}

std::string parse_end_text(const AppError& e) {
  const auto* end = e.get<app_error::ParseEnd>();
  return end ? end->text : "not ParseEnd: " + e.display();
}

class DecodeScanBlock : public testing::InTempDir {};

TEST_F(DecodeScanBlock, DecodesTheRecordsIntoPointsCsvLinesAndLogLines) {
  testing::LogCapture log;
  const auto bytes = block(codes(101));
  ASSERT_EQ(bytes.size(), 305u);
  const auto scan = decode_scan_block(bytes, 240 * kMHz, 960 * kMHz, 101);
  ASSERT_TRUE(scan.has_value()) << scan.error().display();

  ASSERT_EQ(scan->points.size(), 101u);
  const double first[] = {240, 247.2, 254.4, 261.6, 268.8, 276};
  for (std::size_t i = 0; i < 6; ++i)
    EXPECT_EQ(scan->points[i].frequency, first[i]) << i;
  EXPECT_EQ(scan->points.back(), (ScanPoint{960, -87.40625}));

  EXPECT_THAT(scan->file_name,
              ::testing::MatchesRegex("scan_[0-9]{8} [0-9]{2}_[0-9]{2}_[0-9]{2}\\.csv"));
  EXPECT_EQ(csv_files(), std::vector<std::filesystem::path>{scan->file_name});
  const std::string csv = only_csv();
  EXPECT_TRUE(csv.starts_with("240,-87.40625\n247.2,-87.40625\n254.4,-87.40625\n")) << csv;
  EXPECT_TRUE(csv.ends_with("\n960,-87.40625\n"));
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 101);

  const auto lines = log.lines();
  EXPECT_THAT(lines, Contains("INFO [kestrel::scan] 1,7200000,240000000 : 247.2,-87.40625"));
  EXPECT_EQ(lines.back(), "INFO [kestrel::scan] End at 305 125");
  EXPECT_EQ(lines.size(), 102u);
}

TEST_F(DecodeScanBlock, AcceptsOneTrailingByteAndAPreamble) {
  const auto scan = decode_scan_block(block(codes(101), "\r", "scanraw 1 2 101\r\n"), 0, 100, 101);
  ASSERT_TRUE(scan.has_value());
  EXPECT_EQ(scan->points.size(), 101u);
}

TEST_F(DecodeScanBlock, RefusesBadFramingBeforeAnyRecordAndLeavesAnEmptyFile) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::string text;
  };
  const std::string empty = "The data received doesn't have a end char (empty)";
  const std::string wrong_end = "The returned data doesn't have the right end char";
  auto no_end = block(codes(3));
  no_end.back() = ']';
  const Case cases[] = {
      {block(codes(101), "\r\n"), empty},  // two bytes after the end marker
      {{'a', 'b', '{'}, empty},            // nothing after the start marker
      {no_end, wrong_end},                 // "]" in place of "}"
  };
  for (const Case& c : cases) {
    const auto scan = decode_scan_block(c.bytes, 0, 100, 101);
    ASSERT_FALSE(scan.has_value());
    EXPECT_EQ(parse_end_text(scan.error()), c.text);
    EXPECT_EQ(only_csv(), "");
    std::filesystem::remove(dir_ / csv_files().front());
  }

  const std::vector<std::uint8_t> no_start = {'x', 0, 0, '}'};
  const auto scan = decode_scan_block(no_start, 0, 100, 101);
  ASSERT_FALSE(scan.has_value());
  ASSERT_TRUE(scan.error().is<app_error::ParseBeggining>());
  EXPECT_EQ(scan.error().get<app_error::ParseBeggining>()->text, "{");
  EXPECT_EQ(only_csv(), "");
}

TEST_F(DecodeScanBlock, AnEndRecordStopsDecodingSuccessfully) {
  testing::LogCapture log;
  // "{", one record, a record that starts with "}", the end marker.
  const std::vector<std::uint8_t> bytes = {'{', 'x', 0x00, 0x10, '}', 'x', 'x', '}'};
  const auto scan = decode_scan_block(bytes, 100 * kMHz, 200 * kMHz, 101);
  ASSERT_TRUE(scan.has_value());
  EXPECT_THAT(scan->points, ElementsAre(ScanPoint{100, 0}));
  EXPECT_EQ(only_csv(), "100,0\n");
  const auto lines = log.lines();
  // The byte before the end position is counted from the block's first byte.
  EXPECT_THAT(lines, ElementsAre(HasSubstr("0,1000000,100000000 : 100,0"),
                                 "INFO [kestrel::scan] Found an end at 3",
                                 "INFO [kestrel::scan] End at 3 0"));
}

TEST_F(DecodeScanBlock, AWrongRecordMarkerFailsAfterWritingTheRecordsBeforeIt) {
  testing::LogCapture log;
  auto bytes = block(codes(20));
  bytes[1 + 10 * 3] = 'y';
  const auto scan = decode_scan_block(bytes, 0, 19 * kMHz, 20);
  ASSERT_FALSE(scan.has_value());
  EXPECT_EQ(parse_end_text(scan.error()), "Wrong alignement char");
  const std::string csv = only_csv();
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 10);
  EXPECT_TRUE(csv.ends_with("9,-87.40625\n"));
  EXPECT_EQ(log.lines().back(), "ERROR [kestrel::scan] Wrong alignment char");
}

TEST_F(DecodeScanBlock, LevelsAndOddPointCounts) {
  // Level codes at both ends of the range, and more records than asked for.
  auto scan = decode_scan_block(block({0, 4096, 65535}), 0, 1 * kMHz, 2);
  ASSERT_TRUE(scan.has_value());
  EXPECT_EQ(only_csv(), "0,-128\n1,0\n2,1919.96875\n");

  // One point: the step is infinite, or not a number for an empty range.
  std::filesystem::remove(dir_ / scan->file_name);
  scan = decode_scan_block(block(codes(3)), 240 * kMHz, 960 * kMHz, 1);
  ASSERT_TRUE(scan.has_value());
  EXPECT_EQ(only_csv(), "NaN,-87.40625\ninf,-87.40625\ninf,-87.40625\n");
  scan = decode_scan_block(block(codes(1)), 240 * kMHz, 240 * kMHz, 1);
  ASSERT_TRUE(scan.has_value());
  EXPECT_TRUE(std::isnan(scan->points[0].frequency));

  // Point counts only a hand-edited config.toml brings: no crash, no huge
  // reservation, every record decoded.
  for (const std::uint64_t points :
       {std::uint64_t{0}, std::numeric_limits<std::uint64_t>::max() - 1,
        std::numeric_limits<std::uint64_t>::max()}) {
    scan = decode_scan_block(block(codes(4)), 240 * kMHz, 960 * kMHz, points);
    ASSERT_TRUE(scan.has_value()) << points;
    EXPECT_EQ(scan->points.size(), 4u);
    EXPECT_LE(scan->points.capacity(), 4u);
  }
}

TEST_F(DecodeScanBlock, TakesTheNextFreeNameAndReportsAFileThatCannotBeCreated) {
  // The file is named after the current second. In this second and the next
  // few, the name is a FIFO (held open for reading, so that a write would not
  // block) and the name with "-2" an older scan's file.
  const auto now = std::chrono::system_clock::now();
  constexpr int kSeconds = 5;
  std::vector<int> readers;
  for (int s = 0; s < kSeconds; ++s) {
    const auto second = now + std::chrono::seconds(s);
    ASSERT_EQ(::mkfifo(csv_file_name(second).c_str(), 0644), 0);
    readers.push_back(::open(csv_file_name(second).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    std::ofstream(csv_file_name(second, 2)) << "older scan\n";
  }
  auto scan = decode_scan_block(block(codes(1)), 0, 0, 101);
  ASSERT_TRUE(scan.has_value());
  ASSERT_THAT(scan->file_name,
              ::testing::MatchesRegex("scan_[0-9]{8} [0-9]{2}_[0-9]{2}_[0-9]{2}-3\\.csv"));
  EXPECT_EQ(read_file(dir_ / scan->file_name), "0,-87.40625\n");
  for (int s = 0; s < kSeconds; ++s) {
    char byte = 0;
    EXPECT_EQ(::read(readers[s], &byte, 1), 0) << "no byte went into the FIFO";
    ::close(readers[s]);
    EXPECT_EQ(read_file(csv_file_name(now + std::chrono::seconds(s), 2)), "older scan\n");
  }

  // Every name tried is taken.
  for (int s = 0; s < kSeconds; ++s) {
    for (unsigned copy = 3; copy <= kCsvNameTries; ++copy)
      std::ofstream(csv_file_name(now + std::chrono::seconds(s), copy), std::ios::app);
  }
  scan = decode_scan_block(block(codes(1)), 0, 0, 101);
  ASSERT_FALSE(scan.has_value());
  ASSERT_TRUE(scan.error().is<app_error::OpenOutput>());
  EXPECT_EQ(scan.error().get<app_error::OpenOutput>()->error.os_code(), EEXIST);

  // No file can be created in a working directory that was removed.
  std::filesystem::remove_all(dir_);
  scan = decode_scan_block(block(codes(1)), 0, 0, 101);
  ASSERT_FALSE(scan.has_value());
  EXPECT_TRUE(scan.error().is<app_error::OpenOutput>());
}

TEST_F(DecodeScanBlock, ALastBufferCutByTheFileSizeLimitIsAnErrorAndKeepsWhatWasWritten) {
  // 101 lines fit in the last, partly filled buffer. The limit and the
  // ignored SIGXFSZ (as the program has it) stay in a child process.
  const auto bytes = block(codes(101));
  const auto fails_as_efbig = [&bytes] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit fsize{1024, 1024};
    ::setrlimit(RLIMIT_FSIZE, &fsize);
    const auto scan = decode_scan_block(bytes, 100 * kMHz, 200 * kMHz, 101);
    const auto* failed = scan ? nullptr : scan.error().get<app_error::OpenOutput>();
    return failed != nullptr && failed->error.os_code() == EFBIG;
  };
  EXPECT_EXIT(std::_Exit(fails_as_efbig() ? 0 : 1), ::testing::ExitedWithCode(0), "");
  const std::string cut = only_csv();
  EXPECT_EQ(cut.size(), 1024u);
  for (const auto& file : csv_files())
    std::filesystem::remove(file);

  ASSERT_TRUE(decode_scan_block(bytes, 100 * kMHz, 200 * kMHz, 101).has_value());
  const std::string whole = only_csv();
  EXPECT_GT(whole.size(), 1024u);
  EXPECT_TRUE(whole.starts_with(cut));
}

TEST(BlockProgress, RisesFrom20AndStaysBelow100) {
  const std::uint64_t expected = expected_block_length(101);
  ASSERT_EQ(expected, 309u);
  std::vector<std::uint64_t> values;
  for (std::uint64_t received = 0; received <= 384; received += 64) {
    values.push_back(block_progress(received, expected));
  }
  EXPECT_THAT(values, ElementsAre(20, 37, 54, 70, 87, 99, 99));

  // Point counts far outside the interface's bounds neither wrap nor divide by zero.
  constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
  EXPECT_EQ(expected_block_length(kMax - 1), kMax);
  EXPECT_EQ(expected_block_length(0), 6u);
  EXPECT_EQ(block_progress(0, kMax), 20u);
  EXPECT_EQ(block_progress(kMax / 2, kMax), 60u);
  EXPECT_EQ(block_progress(kMax, kMax), 99u);
}

TEST(CheckScanRange, ChoosesTheInputOrRefusesTheRange) {
  const std::string range_text =
      "Scan frequencies must either be in range (0MHz-240MHz) or (240MHz-960MHz)";
  struct Case {
    std::uint64_t start_mhz, stop_mhz;
    std::string expected;  // "low", "high" or the error text
  };
  const Case cases[] = {
      {300, 340, "low"},
      {0, 0, "low"},
      {240, 960, "high"},
      {239, 960, range_text},
      {200, 400, range_text},
      {300, 349, "low"},
      {300, 350, "high"},
      {960, 960, "high"},
      {961, 961, range_text},
      {500, 400, "Start frequency 500000000Hz is higher than stop frequency 400000000Hz"},
  };
  for (const Case& c : cases) {
    const auto mode = check_scan_range(c.start_mhz * kMHz, c.stop_mhz * kMHz);
    const std::string got = mode ? std::string(input_mode_name(*mode))
                                 : mode.error().get<app_error::BadScanFrequencies>()->text;
    EXPECT_EQ(got, c.expected) << c.start_mhz << "-" << c.stop_mhz;
  }
  // Bounds to the hertz.
  EXPECT_EQ(check_scan_range(0, 349'999'999), InputMode::Low);
  EXPECT_EQ(check_scan_range(240'000'000, 960'000'000), InputMode::High);
  EXPECT_FALSE(check_scan_range(239'999'999, 350'000'000).has_value());
  EXPECT_FALSE(check_scan_range(350'000'000, 960'000'001).has_value());
}

}  // namespace
}  // namespace kestrel
