// Whole scans against the simulated TinySA, through the real serial layer,
// with the dialogue's pacing shortened.

#include <sys/resource.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "scan/command.hpp"
#include "scan/pacing.hpp"
#include "scan/scan.hpp"
#include "scan/scan_block.hpp"
#include "scan/scan_thread.hpp"
#include "scan_test_support.hpp"
#include "serial/serial_port.hpp"
#include "sim/simulator.hpp"
#include "structs/number_format.hpp"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

constexpr std::uint64_t kMHz = 1'000'000;
constexpr ScanPacing kFast{1ms, 1ms, 1ms, 250ms};

const std::vector<std::string> kSetUpCommands = {"version",
                                                 "info",
                                                 "repeat 1",
                                                 "zero 128",
                                                 "marker",
                                                 "pause",
                                                 "mode high input",
                                                 "sweep start 240000000",
                                                 "sweep stop 960000000",
                                                 "sweep",
                                                 "scan 240000000 960000000 290 101"};

std::string scan_info_of(const sim::Behaviour& b) {
  return "version\r\n" + b.version_text + "info\r\n" + b.info_text;
}

// The instrument's timings, in force until a test shortens them (the
// ScanDialogue cases put them back): the program runs with nothing else.
TEST(ScanPacing, DefaultsToTheInstrumentsTimings) {
  for (const ScanPacing& pacing : {ScanPacing{}, scan_pacing()}) {
    EXPECT_EQ(pacing.command_wait.count(), 20);
    EXPECT_EQ(pacing.scan_request_wait.count(), 2000);
    EXPECT_EQ(pacing.reply_pause.count(), 200);
    EXPECT_EQ(pacing.read_timeout.count(), 3000);
  }
}

class ScanDialogue : public testing::InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    set_scan_pacing(kFast);
  }
  void TearDown() override {
    set_scan_pacing({});
    InTempDir::TearDown();
  }

  static ConnectionInfo record(const std::string& port, std::uint64_t points = 101,
                               std::uint64_t start = 240 * kMHz, std::uint64_t stop = 960 * kMHz) {
    ConnectionInfo info;
    info.port = port;
    info.baudrate = 115200;
    info.points = points;
    info.repeat = 1;
    info.start = start;
    info.stop = stop;
    return info;
  }

  // Runs the thread body to its end on this thread.
  static void scan(const ConnectionInfo& info) { scan_thread_body(info, info); }

  // The name of the AppError inside the stored ScanError.
  static std::string stored_error(const ConnectionInfo& info) {
    std::string name = "no ScanError";
    info.error_cell().with_lock([&](const std::optional<UiError>& e) {
      if (e && e->is<ui_error::ScanError>())
        name = e->get<ui_error::ScanError>()->error.name();
    });
    return name;
  }

  static void expect_failure(const ConnectionInfo& info, std::string_view error_name) {
    EXPECT_EQ(info.get_connection_status(), ConnectionStatus::ConnectionFailure);
    EXPECT_EQ(stored_error(info), error_name);
  }
};

TEST_F(ScanDialogue, AFullScanPublishesItsPointsAndCsvThenSucceeds) {
  sim::Behaviour behaviour;
  behaviour.chunk_size = 64;
  behaviour.chunk_pause = 2ms;
  sim::Simulator sim(behaviour);
  const ConnectionInfo info = record(sim.port_name(), 1001);

  spawn_scan_thread(info, info);
  std::vector<std::uint64_t> progress;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (info.get_connection_status() == ConnectionStatus::Uninitialised &&
         std::chrono::steady_clock::now() < deadline) {
    const std::uint64_t p = info.get_progress();
    if (progress.empty() || progress.back() != p)
      progress.push_back(p);
    std::this_thread::sleep_for(200us);
  }
  progress.push_back(info.get_progress());

  ASSERT_EQ(info.get_connection_status(), ConnectionStatus::ClosedWithSuccess);
  EXPECT_FALSE(info.is_error_raised());
  std::vector<std::string> expected_commands = kSetUpCommands;
  expected_commands.insert(expected_commands.end(), {"scanraw 240000000 960000000 1001", "resume"});
  EXPECT_EQ(sim.commands(), expected_commands);
  EXPECT_EQ(info.get_scan_message(), "Scan finished");
  EXPECT_EQ(info.get_scan_info(), scan_info_of(behaviour));

  // The progress only goes back once, from the set-up's 22 to the block's
  // start (20, or a little more when the next read came before the poll saw
  // the 20), moves through the block, and ends at 100.
  int drops = 0;
  for (std::size_t i = 1; i < progress.size(); ++i) {
    if (progress[i] < progress[i - 1]) {
      ++drops;
      EXPECT_EQ(progress[i - 1], 22u);
      EXPECT_GE(progress[i], 20u);
    }
  }
  EXPECT_LE(drops, 1);
  EXPECT_EQ(progress.back(), 100u);
  EXPECT_TRUE(std::ranges::any_of(progress, [](auto p) { return p > 20 && p < 99; }))
      << ::testing::PrintToString(progress);

  const auto points = info.take_return_data();
  ASSERT_TRUE(points.has_value());
  ASSERT_EQ(points->size(), 1001u);
  std::string expected_csv;
  for (std::size_t i = 0; i < points->size(); ++i) {
    EXPECT_EQ((*points)[i].level, level_dbm(sim.level_code(i))) << i;
    expected_csv +=
        float_plain((*points)[i].frequency) + "," + float_plain((*points)[i].level) + "\n";
  }
  EXPECT_EQ(points->front().frequency, 240);
  EXPECT_EQ((*points)[1].frequency, 240.72);
  EXPECT_EQ(points->back().frequency, 960);

  const auto files = csv_files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(read_file(dir_ / files.front()), expected_csv);
  EXPECT_THAT(debug_string(info),
              HasSubstr("file_name: Mutex { data: \"" + files.front().string() + "\""));
}

TEST_F(ScanDialogue, EachStepShowsItsMessageDuringItsCommandsAndItsProgressAfter) {
  // Waits long enough to read the cells while the scan waits after a command.
  set_scan_pacing({100ms, 300ms, 1ms, 250ms});
  sim::Simulator sim;
  const ConnectionInfo info = record(sim.port_name());
  using Seen = std::tuple<std::string, std::string, std::uint64_t>;  // command, message, progress
  const std::vector<Seen> expected = {
      {"version", "Acquiring version & info", 15},
      {"info", "Acquiring version & info", 15},
      {"repeat 1", "Setting up repeat", 15},
      {"zero 128", "Setting zero...", 16},
      {"marker", "Setting up marker", 17},
      {"pause", "Setting up marker", 17},
      {"mode high input", "Setting up scan & mode", 18},
      {"sweep start 240000000", "Setting up sweep", 19},
      {"sweep stop 960000000", "Setting up sweep", 19},
      {"sweep", "Starting scan...", 20},
      {"scan 240000000 960000000 290 101", "Starting scan...", 20},
      {"scanraw 240000000 960000000 101", "Starting scan...", 22},
      {"resume", "Scan finished", 99},
  };
  std::thread scan_thread([&] { scan(info); });
  std::vector<Seen> seen;
  std::vector<std::chrono::steady_clock::time_point> arrived;
  while (seen.size() < expected.size() && sim.wait_for_commands(seen.size() + 1, 5s)) {
    seen.emplace_back(sim.commands()[seen.size()], info.get_scan_message(), info.get_progress());
    arrived.push_back(std::chrono::steady_clock::now());
  }
  scan_thread.join();
  EXPECT_EQ(seen, expected);
  // The scan request is given its own, longer wait before its reply is read.
  ASSERT_EQ(arrived.size(), expected.size());
  EXPECT_GE(arrived[11] - arrived[10], 200ms);
  EXPECT_EQ(info.get_progress(), 100u);
  EXPECT_EQ(info.get_connection_status(), ConnectionStatus::ClosedWithSuccess);
}

TEST_F(ScanDialogue, SetUpFailuresLeaveTheirCells) {
  {  // A refused range opens no port and writes no cell but the outcome.
    sim::Simulator sim;
    const ConnectionInfo info = record(sim.port_name(), 101, 500 * kMHz, 400 * kMHz);
    scan(info);
    expect_failure(info, "BadScanFrequencies");
    EXPECT_EQ(info.get_scan_message(), "");
    EXPECT_EQ(info.get_progress(), 0u);
    EXPECT_TRUE(sim.commands().empty());
  }
  {  // An unknown port: the scan stores its error itself, and that one stays.
    testing::LogCapture log;
    const ConnectionInfo info = record("/dev/kestrel-no-such-port");
    auto result = run_scan(info);
    EXPECT_EQ(log.lines().back(),
              "ERROR [kestrel::scan] Connection error No such file or directory");
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().is<app_error::PortConnection>());
    EXPECT_EQ(stored_error(info), "PortConnection");
    EXPECT_EQ(info.get_scan_message(), "Opening connection");
    EXPECT_EQ(info.get_progress(), 0u);
    report_scan_outcome(info, std::unexpected(AppError(app_error::NoVersionFound{})));
    expect_failure(info, "PortConnection");
  }
  {  // A silent instrument: each read waits out the time-out, then NoVersionFound.
    sim::Simulator sim({.silent = true});
    const ConnectionInfo info = record(sim.port_name());
    const auto begin = std::chrono::steady_clock::now();
    scan(info);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 3 * kFast.read_timeout);
    expect_failure(info, "NoVersionFound");
    EXPECT_THAT(sim.commands(), ElementsAre("version", "info"));
    EXPECT_EQ(info.get_scan_message(), "Acquiring version & info");
    EXPECT_EQ(info.get_progress(), 15u);
    EXPECT_EQ(info.get_scan_info(), "");
  }
  {  // An instrument that answers "version" but not "info".
    sim::Simulator sim({.answer_info = false});
    const ConnectionInfo info = record(sim.port_name());
    scan(info);
    expect_failure(info, "NoVersionFound");
    EXPECT_EQ(info.get_scan_info(), "");
  }
}

TEST_F(ScanDialogue, BlockFailuresLeaveTheirCellsAndTheCsvFile) {
  struct Case {
    sim::Framing framing;
    std::string_view error;
    std::size_t csv_lines;
  };
  for (const Case c : {Case{sim::Framing::NoStart, "ParseBeggining", 0},
                       Case{sim::Framing::WrongEnd, "ParseEnd", 0},
                       Case{sim::Framing::BadRecordMarker, "ParseEnd", 10}}) {
    sim::Simulator sim({.framing = c.framing});
    const ConnectionInfo info = record(sim.port_name());
    scan(info);
    expect_failure(info, c.error);
    EXPECT_EQ(sim.commands().back(), "scanraw 240000000 960000000 101");  // no "resume"
    EXPECT_EQ(info.get_scan_message(), "Starting scan...");
    EXPECT_GE(info.get_progress(), 20u);
    EXPECT_LE(info.get_progress(), 99u);
    EXPECT_FALSE(info.take_return_data().has_value());
    const std::string csv = only_csv();
    EXPECT_EQ(static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')), c.csv_lines);
    for (const auto& file : csv_files())
      std::filesystem::remove(dir_ / file);
  }
}

// A device that sends on and on without its prompt: a read stops once past
// its cap, as at a silence, and the scan fails on what was read. The floods
// are far longer than the caps but end, so that reads without caps end too.
TEST_F(ScanDialogue, AFloodWithoutThePromptIsCutAtTheCap) {
  constexpr std::size_t kFlood = 64 << 20;
  struct Case {
    std::string command;
    std::string_view error;
  };
  // The block read after a flood that began at "version" holds no "{".
  for (const Case& c : {Case{"version", "ParseBeggining"}, Case{"scanraw", "ParseEnd"}}) {
    sim::Simulator sim({.flood_after = c.command, .flood_length = kFlood});
    const ConnectionInfo info = record(sim.port_name());
    scan(info);
    expect_failure(info, c.error);
    EXPECT_EQ(only_csv(), "");
    for (const auto& file : csv_files())
      std::filesystem::remove(dir_ / file);
  }

  // What each read keeps: its cap and at most one chunk more.
  const auto flooded_port = [](const sim::Simulator& sim, std::string_view command) {
    auto port = serial::SerialPort::open(sim.port_name(), 115200, kFast.read_timeout);
    EXPECT_TRUE(port && write_command(*port, command));
    return std::move(port).value();
  };
  {
    sim::Simulator sim({.flood_after = "version", .flood_length = kFlood});
    auto port = flooded_port(sim, "version\r");
    const std::size_t kept = read_reply(port).size();
    EXPECT_GT(kept, 1u << 20);
    EXPECT_LE(kept, (1u << 20) + 256);
  }
  // The expected length plus 64 KiB, the expected length counted up to
  // 32 MiB for a points count that no scan asks for.
  for (const auto& [points, cap] :
       {std::pair<std::uint64_t, std::size_t>{101, 309 + (64 << 10)},
        {std::numeric_limits<std::uint64_t>::max(), (32 << 20) + (64 << 10)}}) {
    sim::Simulator sim({.flood_after = "scanraw", .flood_length = kFlood});
    auto port = flooded_port(sim, "scanraw 240000000 960000000 101\r");
    const std::size_t kept = read_scan_block(port, points, ConnectionInfo{}.progress_cell()).size();
    EXPECT_GT(kept, cap) << points;
    EXPECT_LE(kept, cap + 64) << points;
  }
}

// The line is lost after some commands were answered: the next write fails,
// the scan ends with SendError, and no block is read or CSV file made.
TEST_F(ScanDialogue, ALostLineDuringSetUpFailsAtTheNextWrite) {
  // The pause after each reply gives the instrument time to hang up first.
  set_scan_pacing({1ms, 1ms, 100ms, 250ms});
  struct Case {
    std::size_t answered;
    std::string_view message;
  };
  for (const Case c : {Case{2, "Setting up repeat"}, Case{11, "Starting scan..."}}) {
    sim::Simulator sim({.hang_up_after_commands = c.answered});
    const ConnectionInfo info = record(sim.port_name());
    scan(info);
    expect_failure(info, "SendError");
    EXPECT_EQ(sim.commands().size(), c.answered);
    EXPECT_EQ(info.get_scan_message(), c.message);
    EXPECT_FALSE(info.take_return_data().has_value());
    EXPECT_TRUE(csv_files().empty());
  }
}

TEST_F(ScanDialogue, ALostLineAtResumeFailsAfterThePublication) {
  // The instrument hangs up once the whole block is sent, before its prompt.
  sim::Simulator sim({.hang_up_after = 101 * 3 + 2});
  const ConnectionInfo info = record(sim.port_name());
  scan(info);
  expect_failure(info, "SendError");
  EXPECT_EQ(info.get_scan_message(), "Scan finished");
  EXPECT_LT(info.get_progress(), 100u);
  const auto points = info.take_return_data();
  ASSERT_TRUE(points.has_value());
  EXPECT_EQ(points->size(), 101u);
  EXPECT_EQ(csv_files().size(), 1u);
}

TEST_F(ScanDialogue, APromptSplitAcrossReadsEndsTheReply) {
  set_scan_pacing({1ms, 1ms, 1ms, 3000ms});
  sim::Behaviour behaviour{.greeting = "ready\r\nch> ", .split_prompt = true, .prompt_pause = 30ms};
  sim::Simulator sim(behaviour);
  const ConnectionInfo info = record(sim.port_name());
  const auto begin = std::chrono::steady_clock::now();
  scan(info);
  // Not a single read waited for its time-out.
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 3000ms);
  EXPECT_EQ(info.get_connection_status(), ConnectionStatus::ClosedWithSuccess);
  EXPECT_EQ(info.get_scan_info(), scan_info_of(behaviour));
  const auto points = info.take_return_data();
  ASSERT_TRUE(points.has_value());
  EXPECT_EQ(points->size(), 101u);
}

TEST_F(ScanDialogue, APoisonedCellEndsOnlyTheScanThreadAndRecordsNoOutcome) {
  testing::LogCapture log;
  sim::Simulator sim;
  const ConnectionInfo info = record(sim.port_name());
  EXPECT_ANY_THROW(info.progress_cell().with_lock([](std::uint64_t&) { throw 1; }));
  scan(info);  // returns instead of ending the process
  EXPECT_EQ(info.get_scan_message(), "Initialisation...");
  EXPECT_EQ(info.get_connection_status(), ConnectionStatus::Uninitialised);
  EXPECT_FALSE(info.is_error_raised());
  EXPECT_THAT(log.lines().back(), HasSubstr("ERROR [kestrel::ui] The scan thread stopped: "));
}

TEST_F(ScanDialogue, LogsTheSettingsTheUnaskedOutputAndTheFailure) {
  testing::LogCapture log;
  sim::Simulator sim({.answer_info = false, .greeting = "boot \"ok\"\r\n\xFF"});
  scan(record(sim.port_name()));
  const auto lines = log.lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines.front(), "INFO [kestrel::scan] Initializying connection: ConnectionInfo {");
  EXPECT_THAT(lines, ::testing::Contains("    points: 101,"));
  EXPECT_THAT(std::vector(lines.end() - 3, lines.end()),
              ElementsAre("INFO [kestrel::scan] Pre-init data found",
                          "INFO [kestrel::scan] \"boot \\\"ok\\\"\\r\\n\uFFFD\"",
                          "INFO [kestrel::ui] An error occured during thread exec: Couldn't "
                          "acquire the version of the device connected to the specified port"));
}

// Address space for what is mapped now and one more MiB: no thread stack fits.
void leave_no_room_for_a_thread() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  statm >> pages;
  const rlim_t limit = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (1 << 20);
  const rlimit address_space{limit, limit};
  ::setrlimit(RLIMIT_AS, &address_space);
}

TEST(SpawnScanThreadDeathTest, ARefusedThreadStopsTheProgramWithTheSystemsError) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers need address space of their own to start a thread";
#endif
  // Nothing catches the error: it ends the program with its text.
  const auto validate = []() noexcept {
    leave_no_room_for_a_thread();
    spawn_scan_thread(ConnectionInfo{}, ConnectionInfo{});
  };
  EXPECT_DEATH(validate(), "failed to spawn thread: ");
}

}  // namespace
}  // namespace kestrel
