// Shared cells: poisoning, the end of the thread that meets a poisoned cell,
// and two threads working the cells of one record at once.

#include <stdexcept>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "structs/connection_info.hpp"
#include "structs/shared_cell.hpp"

namespace kestrel {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

// Fails (throws) while holding the progress lock, as a crashing block reader would.
void poison_progress(const ConnectionInfo& info) {
  try {
    info.progress_cell().with_lock([](std::uint64_t& v) {
      v = 7;
      throw std::runtime_error("reader failed");
    });
  } catch (const std::runtime_error&) {
  }
}

TEST(SharedCell, FailingHolderPoisonsAndLaterAccessNamesItsCaller) {
  SharedCell<int> cell(1);
  EXPECT_THROW(cell.with_lock([](int&) -> int { throw std::logic_error("x"); }), std::logic_error);
  EXPECT_TRUE(cell.is_poisoned());

  const int line = __LINE__ + 2;
  try {
    cell.with_lock([](int& v) { return v; });
    FAIL() << "a poisoned cell was read";
  } catch (const PoisonedCell& e) {
    EXPECT_THAT(e.what(), MatchesRegex("lock poisoned: .*cells_test\\.cpp:" + std::to_string(line) +
                                       ":[0-9]+"));
  }
  // The debug form still reads it, without failing.
  bool seen_poisoned = false;
  EXPECT_TRUE(cell.try_inspect([&](const int& v, bool poisoned) {
    EXPECT_EQ(v, 1);
    seen_poisoned = poisoned;
  }));
  EXPECT_TRUE(seen_poisoned);
}

TEST(PoisonedCell, ScanThreadEndsAndTheOtherCellsStayUsable) {
  ConnectionInfo info;
  poison_progress(info);
  ConnectionInfo scan_copy = info;

  bool went_on = false;
  std::string message;
  std::thread scan([&] {
    try {
      scan_copy.set_progress(50);
      went_on = true;
    } catch (const PoisonedCell& e) {
      message = e.what();
    }
  });
  scan.join();
  EXPECT_FALSE(went_on);
  EXPECT_THAT(message, HasSubstr("lock poisoned: "));
  EXPECT_THAT(message, HasSubstr("cells_test.cpp:"));
  EXPECT_THAT(debug_string(info), HasSubstr("progress: Mutex { data: 7, poisoned: true, .. }"));

  info.set_scan_message("still here");
  EXPECT_EQ(info.get_scan_message(), "still here");
  EXPECT_THROW(info.get_progress(), PoisonedCell);
}

TEST(PoisonedCellDeathTest, InterfaceThreadEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ConnectionInfo info;
  poison_progress(info);
  // Nothing on the interface thread catches it: the program ends in std::terminate.
  EXPECT_DEATH([&]() noexcept { (void)info.get_progress(); }(),
               "lock poisoned: .*cells_test\\.cpp:[0-9]+:[0-9]+");
}

// One thread writes every cell while another reads them through its own
// copy; run under ThreadSanitizer this must stay clean.
TEST(SharedCells, WriterAndReaderThreadsOnTwoCopies) {
  ConnectionInfo ui;
  ConnectionInfo scan = ui;
  constexpr int kRounds = 20000;

  std::thread writer([scan] {
    for (int i = 1; i <= kRounds; ++i) {
      scan.set_progress(static_cast<std::uint64_t>(i));
      scan.set_scan_message("step " + std::to_string(i));
      scan.set_scan_info("tinySA");
      if (i % 100 == 0)
        scan.set_return_data({{240.0 + i, -80.5}});
      if (i % 1000 == 0)
        scan.set_error_raised(ui_error::NoReturnData{});
    }
    scan.set_file_name("scan.csv");
    scan.set_connection_status(ConnectionStatus::ClosedWithSuccess);
  });

  std::uint64_t last = 0;
  bool monotonic = true;
  int taken = 0;
  while (ui.get_connection_status() != ConnectionStatus::ClosedWithSuccess) {
    std::uint64_t now = ui.get_progress();
    monotonic = monotonic && now >= last;
    last = now;
    (void)ui.get_scan_message();
    (void)ui.get_scan_info();
    (void)ui.is_error_raised();
    if (ui.take_return_data())
      ++taken;
    (void)debug_string(ui, true);
  }
  writer.join();
  EXPECT_TRUE(monotonic);
  EXPECT_EQ(ui.get_progress(), static_cast<std::uint64_t>(kRounds));
  EXPECT_EQ(ui.get_scan_message(), "step " + std::to_string(kRounds));
  EXPECT_TRUE(ui.is_error_raised());
  EXPECT_LE(taken, kRounds / 100);
}

}  // namespace
}  // namespace kestrel
