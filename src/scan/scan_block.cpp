#include "scan/scan_block.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <limits>

#include <fmt/chrono.h>
#include <fmt/format.h>

#include "scan/command.hpp"
#include "structs/logging.hpp"
#include "structs/number_format.hpp"

namespace kestrel {

namespace {

constexpr std::uint8_t kBlockStart = '{';
constexpr std::uint8_t kBlockEnd = '}';
constexpr std::uint8_t kRecordMarker = 'x';
constexpr std::size_t kRecordSize = 3;
// Room past the expected length for the echo, the prompt and stray bytes.
constexpr std::uint64_t kBlockMargin = 64 * 1024;
// The expected length counted at most: over ten times the largest block the
// Parameters screen asks for, as config.toml may hold any points count.
constexpr std::uint64_t kMaxExpectedBlock = 32 * 1024 * 1024;

// The CSV file behind a write buffer of 8192 bytes. close() writes out what
// is still buffered and reports a failure; on a failure path the destructor
// writes it out as far as it goes, so the file keeps what was decoded.
class CsvFile {
 public:
  static constexpr std::size_t kBufferSize = 8192;

  // Creates the file only where none exists, so another scan's file, a FIFO
  // or a link is never opened; an existing name is AlreadyExists (EEXIST).
  static std::expected<CsvFile, IoError> create(const std::string& name) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
      return std::unexpected(IoError::from_errno(errno));
    return CsvFile(fd);
  }

  CsvFile(CsvFile&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)), buffer_(std::move(other.buffer_)) {}
  CsvFile& operator=(CsvFile&&) = delete;
  ~CsvFile() {
    if (fd_ >= 0)
      (void)close();
  }

  // Writes out the buffered lines and closes the file; a failed or short
  // write, or a failed close, is the error.
  std::expected<void, IoError> close() {
    auto flushed = flush();
    if (::close(std::exchange(fd_, -1)) != 0 && flushed)
      return std::unexpected(IoError::from_errno(errno));
    return flushed;
  }

  // Appends one line; the buffer goes to the file once it is full.
  std::expected<void, IoError> write_line(std::string_view values) {
    buffer_.append(values);
    buffer_.push_back('\n');
    if (buffer_.size() < kBufferSize)
      return {};
    return flush();
  }

 private:
  explicit CsvFile(int fd) : fd_(fd) { buffer_.reserve(2 * kBufferSize); }

  std::expected<void, IoError> flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
      const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0) {
        buffer_.erase(0, done);
        return std::unexpected(
            n < 0 ? IoError::from_errno(errno)
                  : IoError::custom(IoErrorKind::WriteZero, "failed to write whole buffer"));
      }
      done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
    return {};
  }

  int fd_;
  std::string buffer_;
};

void append_decimal(std::string& out, std::uint64_t v) {
  std::array<char, std::numeric_limits<std::uint64_t>::digits10 + 1> digits;
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), v).ptr;
  out.append(digits.data(), end);
}

// Creates the CSV file of `now` under the first free name of
// csv_file_name(now, 1), (now, 2), ... and sets `name` to it.
std::expected<CsvFile, IoError> create_csv_file(std::chrono::system_clock::time_point now,
                                                std::string& name) {
  for (unsigned copy = 1;; ++copy) {
    name = csv_file_name(now, copy);
    auto file = CsvFile::create(name);
    if (file || file.error().os_code() != EEXIST || copy == kCsvNameTries)
      return file;
  }
}

AppError parse_end(std::string text) {
  return AppError(app_error::ParseEnd{std::move(text)});
}

}  // namespace

std::uint64_t expected_block_length(std::uint64_t points) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  if (points > (kMax - 6) / 3)
    return kMax;
  return points * 3 + 6;
}

std::uint64_t block_progress(std::uint64_t received, std::uint64_t expected) {
  const std::uint64_t remaining = received < expected ? expected - received : 0;
  // The product in 128 bits keeps a huge expected length from wrapping, and
  // expected_block_length never gives 0.
  const auto share = static_cast<std::uint64_t>(static_cast<unsigned __int128>(remaining) * 80 /
                                                std::max<std::uint64_t>(expected, 1));
  return std::clamp<std::uint64_t>(100 - share, 20, 99);
}

std::vector<std::uint8_t> read_scan_block(serial::SerialPort& port, std::uint64_t points,
                                          const SharedCell<std::uint64_t>& progress) {
  std::array<std::uint8_t, 64> chunk{};
  const std::uint64_t expected = expected_block_length(points);
  return read_until_prompt(port, chunk, std::min(expected, kMaxExpectedBlock) + kBlockMargin,
                           [&](std::uint64_t received) {
                             const std::uint64_t value = block_progress(received, expected);
                             progress.with_lock([value](std::uint64_t& p) { p = value; });
                           });
}

std::string csv_file_name(std::chrono::system_clock::time_point now, unsigned copy) {
  const auto local = fmt::localtime(std::chrono::system_clock::to_time_t(now));
  if (copy < 2)
    return fmt::format("scan_{:%Y%m%d %H_%M_%S}.csv", local);
  return fmt::format("scan_{:%Y%m%d %H_%M_%S}-{}.csv", local, copy);
}

double level_dbm(std::uint16_t code) {
  return static_cast<double>(code) * 0.03125 + -128.0;
}

std::expected<DecodedScan, AppError> decode_scan_block(std::span<const std::uint8_t> bytes,
                                                       std::uint64_t start, std::uint64_t stop,
                                                       std::uint64_t points) {
  // Unsigned wrapping is intended: points 0 gives the largest divisor,
  // points 1 a zero divisor and so an infinite or NaN step.
  const double step = static_cast<double>(stop - start) / static_cast<double>(points - 1);
  DecodedScan scan;
  auto file = create_csv_file(std::chrono::system_clock::now(), scan.file_name);
  if (!file)
    return std::unexpected(AppError(app_error::OpenOutput{std::move(file.error())}));
  // A hand-edited points count may be absurd: reserve no more than the block can hold.
  scan.points.reserve(std::min<std::uint64_t>(points, bytes.size() / kRecordSize));

  const auto open = std::ranges::find(bytes, kBlockStart);
  if (open == bytes.end())
    return std::unexpected(AppError(app_error::ParseBeggining{"{"}));
  const std::size_t s = static_cast<std::size_t>(open - bytes.begin()) + 1;
  const std::size_t rest = bytes.size() - s;
  const std::size_t m = rest % kRecordSize;
  if (m == 0)
    return std::unexpected(parse_end("The data received doesn't have a end char (empty)"));
  if (bytes[s + rest - m] != kBlockEnd) {
    return std::unexpected(parse_end("The returned data doesn't have the right end char"));
  }

  // Each record gives an Info line "i,step,start : frequency,level" and a CSV
  // line "frequency,level"; both are built in reused strings.
  const bool log_records = log::enabled(log::Level::Info, log::kScan);
  std::string record_tail = ",";
  append_float_plain(record_tail, step);
  record_tail += ',';
  append_decimal(record_tail, start);
  record_tail += " : ";
  std::string values;
  std::string line;

  const std::size_t records = (rest - m) / kRecordSize;
  std::size_t end = bytes.size();
  for (std::size_t i = 0; i < records; ++i) {
    const std::uint8_t* record = bytes.data() + s + i * kRecordSize;
    if (record[0] == kBlockEnd) {
      end = i * kRecordSize;
      log::info(log::kScan, "Found an end at {}", end);
      break;
    }
    if (record[0] != kRecordMarker) {
      log::error(log::kScan, "Wrong alignment char");
      return std::unexpected(parse_end("Wrong alignement char"));
    }
    const double frequency = (static_cast<double>(start) + static_cast<double>(i) * step) / 1e6;
    const double level = level_dbm(static_cast<std::uint16_t>(record[1] | record[2] << 8));
    values.clear();
    append_float_plain(values, frequency);
    values += ',';
    append_float_plain(values, level);
    if (log_records) {
      line.clear();
      append_decimal(line, i);
      line += record_tail;
      line += values;
      log::write(log::Level::Info, log::kScan, line);
    }
    scan.points.push_back({frequency, level});
    if (auto written = file->write_line(values); !written) {
      return std::unexpected(AppError(app_error::OpenOutput{std::move(written.error())}));
    }
  }
  // The byte before the end position, counted from the block's first byte;
  // an end at 0 has none.
  if (end > 0) {
    log::info(log::kScan, "End at {} {}", end, bytes[end - 1]);
  } else {
    log::info(log::kScan, "End at {}", end);
  }
  // Every line is on disk before the points are published.
  if (auto closed = file->close(); !closed)
    return std::unexpected(AppError(app_error::OpenOutput{std::move(closed.error())}));
  return scan;
}

}  // namespace kestrel
