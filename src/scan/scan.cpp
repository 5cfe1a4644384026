#include "scan/scan.hpp"

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "scan/command.hpp"
#include "scan/pacing.hpp"
#include "scan/scan_block.hpp"
#include "scan/utf8.hpp"
#include "serial/serial_port.hpp"
#include "structs/logging.hpp"

namespace kestrel {

namespace {

using std::chrono::milliseconds;
using std::this_thread::sleep_for;
using Result = std::expected<void, AppError>;

constexpr std::uint64_t kHighInputLowest = 240'000'000;
constexpr std::uint64_t kInputSplit = 350'000'000;
constexpr std::uint64_t kHighInputHighest = 960'000'000;

std::unexpected<AppError> fail(AppError error) {
  return std::unexpected(std::move(error));
}

// Logs whatever the instrument sent before it was asked anything.
void read_unasked_output(serial::SerialPort& port, const ConnectionInfo& info,
                         const ScanPacing& pacing) {
  info.set_scan_message("Initialisation...");
  info.set_progress(5);
  sleep_for(pacing.command_wait);
  const std::vector<std::uint8_t> unasked = read_reply(port);
  if (!unasked.empty()) {
    log::info(log::kScan, "Pre-init data found");
    log::info(log::kScan, "{}", debug_string(decode_utf8_lossy(unasked)));
  }
  sleep_for(pacing.command_wait);
}

// Asks for "version" and "info" and publishes them together.
Result identify(serial::SerialPort& port, const ConnectionInfo& info, const ScanPacing& pacing) {
  info.set_progress(15);
  info.set_scan_message("Acquiring version & info");
  const auto version = send_command(port, "version\r", pacing.command_wait);
  if (!version)
    return fail(version.error());
  const auto details = send_command(port, "info\r", pacing.command_wait);
  if (!details)
    return fail(details.error());
  if (version->empty() || details->empty())
    return fail(app_error::NoVersionFound{});
  info.set_scan_info(*version + *details);
  return {};
}

struct Command {
  std::string text;
  milliseconds wait;
};

struct SetupStep {
  std::string_view message;
  std::vector<Command> commands;
  std::uint64_t progress;
};

// Sets the instrument up and requests the measurement, step by step.
Result set_up(serial::SerialPort& port, const ConnectionInfo& info, InputMode mode,
              const ScanPacing& pacing) {
  const milliseconds wait = pacing.command_wait;
  const SetupStep steps[] = {
      {"Setting up repeat", {{fmt::format("repeat {}\r", info.repeat), wait}}, 16},
      {"Setting zero...", {{"zero 128\r", wait}}, 17},
      {"Setting up marker", {{"marker\r", wait}, {"pause\r", wait}}, 18},
      {"Setting up scan & mode",
       {{fmt::format("mode {} input\r", input_mode_name(mode)), wait}},
       19},
      {"Setting up sweep",
       {{fmt::format("sweep start {}\r", info.start), wait},
        {fmt::format("sweep stop {}\r", info.stop), wait}},
       20},
      {"Starting scan...",
       {{"sweep\r", wait},
        {fmt::format("scan {} {} 290 101\r", info.start, info.stop), pacing.scan_request_wait}},
       22},
  };
  for (const SetupStep& step : steps) {
    info.set_scan_message(step.message);
    for (const Command& command : step.commands) {
      if (auto reply = send_command(port, command.text, command.wait); !reply) {
        return fail(std::move(reply.error()));
      }
    }
    info.set_progress(step.progress);
  }
  return {};
}

// Requests the levels, decodes them into the CSV file and publishes the
// results; progress 100 comes last.
Result collect_scan(serial::SerialPort& port, const ConnectionInfo& info,
                    const ScanPacing& pacing) {
  const std::string request = fmt::format("scanraw {} {} {}\r", info.start, info.stop, info.points);
  if (auto written = write_command(port, request); !written)
    return written;
  sleep_for(pacing.command_wait);
  const std::vector<std::uint8_t> block = read_scan_block(port, info.points, info.progress_cell());
  auto decoded = decode_scan_block(block, info.start, info.stop, info.points);
  if (!decoded)
    return fail(std::move(decoded.error()));

  info.set_return_data(std::move(decoded->points));
  sleep_for(pacing.reply_pause);
  info.set_file_name(std::move(decoded->file_name));
  info.set_scan_message("Scan finished");
  if (auto reply = send_command(port, "resume\r", pacing.command_wait); !reply) {
    return fail(std::move(reply.error()));
  }
  info.set_progress(100);
  return {};
}

}  // namespace

std::string_view input_mode_name(InputMode mode) {
  return mode == InputMode::Low ? "low" : "high";
}

std::expected<InputMode, AppError> check_scan_range(std::uint64_t start, std::uint64_t stop) {
  if (start > stop) {
    return fail(app_error::BadScanFrequencies{
        fmt::format("Start frequency {}Hz is higher than stop frequency {}Hz", start, stop)});
  }
  if (stop < kInputSplit)
    return InputMode::Low;
  if (start >= kHighInputLowest && stop <= kHighInputHighest)
    return InputMode::High;
  return fail(app_error::BadScanFrequencies{
      "Scan frequencies must either be in range (0MHz-240MHz) or (240MHz-960MHz)"});
}

std::expected<void, AppError> run_scan(ConnectionInfo info) {
  log::info(log::kScan, "Initializying connection: {}", debug_string(info, true));
  const auto mode = check_scan_range(info.start, info.stop);
  if (!mode)
    return fail(mode.error());

  info.set_scan_message("Opening connection");
  const ScanPacing pacing = scan_pacing();
  auto port = serial::SerialPort::open(info.port, info.baudrate, pacing.read_timeout);
  if (!port) {
    log::error(log::kScan, "Connection error {}", port.error().description());
    // Stored at once: this is the error the Failure screen shows.
    info.set_error_raised(ui_error::ScanError{app_error::PortConnection{port.error()}});
    return fail(app_error::PortConnection{std::move(port.error())});
  }

  read_unasked_output(*port, info, pacing);
  if (auto identified = identify(*port, info, pacing); !identified)
    return identified;
  if (auto ready = set_up(*port, info, *mode, pacing); !ready)
    return ready;
  return collect_scan(*port, info, pacing);
}

}  // namespace kestrel
