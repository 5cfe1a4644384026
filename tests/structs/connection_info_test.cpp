// The scan record: accessors, copies sharing the cells, and its debug forms.

#include <atomic>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "structs/connection_info.hpp"

namespace kestrel {
namespace {

using ::testing::HasSubstr;

TEST(ConnectionInfo, FreshRecord) {
  ConnectionInfo info;
  EXPECT_EQ(info.get_progress(), 0u);
  EXPECT_EQ(info.get_scan_message(), "");
  EXPECT_EQ(info.get_scan_info(), "");
  EXPECT_EQ(info.get_connection_status(), ConnectionStatus::Uninitialised);
  EXPECT_FALSE(info.is_error_raised());
  auto taken = info.take_return_data();
  ASSERT_FALSE(taken);
  EXPECT_TRUE(taken.error().is<ui_error::NoReturnData>());
}

TEST(ConnectionInfo, ReturnDataIsTakenOnceAndTheLastStoredWins) {
  ConnectionInfo info;
  info.set_return_data({{240.0, -80.5}});
  info.set_return_data({{247.2, -87.40625}, {254.4, -90.0}});
  auto first = info.take_return_data();
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, (std::vector<ScanPoint>{{247.2, -87.40625}, {254.4, -90.0}}));
  auto second = info.take_return_data();
  ASSERT_FALSE(second);
  EXPECT_TRUE(second.error().is<ui_error::NoReturnData>());
}

TEST(ConnectionInfo, ErrorCellKeepsTheLastError) {
  ConnectionInfo info;
  info.set_error_raised(ui_error::NoPortSelected{});
  info.set_error_raised(ui_error::MenuSelectionError{});
  EXPECT_TRUE(info.is_error_raised());
  info.error_cell().with_lock([](const std::optional<UiError>& e) {
    ASSERT_TRUE(e.has_value());
    EXPECT_TRUE(e->is<ui_error::MenuSelectionError>());
  });
}

TEST(ConnectionInfo, CopiesShareCellsButNotPlainFields) {
  ConnectionInfo a;
  a.port = "COM3";
  ConnectionInfo b = a;  // made before the writes
  a.set_progress(42);
  a.set_scan_message("Opening connection");
  a.set_scan_info("tinySA v1.4");
  a.set_connection_status(ConnectionStatus::ConnectionFailure);
  a.set_error_raised(ui_error::NoErrorSpecified{});
  ConnectionInfo c = a;  // made after them
  for (const ConnectionInfo* copy : {&b, &c}) {
    EXPECT_EQ(copy->get_progress(), 42u);
    EXPECT_EQ(copy->get_scan_message(), "Opening connection");
    EXPECT_EQ(copy->get_scan_info(), "tinySA v1.4");
    EXPECT_EQ(copy->get_connection_status(), ConnectionStatus::ConnectionFailure);
    EXPECT_TRUE(copy->is_error_raised());
    EXPECT_TRUE(copy->progress_cell().shares_with(a.progress_cell()));
  }
  b.port = "COM4";
  EXPECT_EQ(a.port, "COM3");
  EXPECT_EQ(c.port, "COM3");

  a.set_scan_message("");
  EXPECT_EQ(b.get_scan_message(), "");
}

// A record's cells never change: it cannot be assigned, and a move copies,
// leaving the source whole.
static_assert(!std::is_copy_assignable_v<ConnectionInfo>);
static_assert(!std::is_move_assignable_v<ConnectionInfo>);
TEST(ConnectionInfo, MovedFromRecordKeepsItsCells) {
  ConnectionInfo a;
  a.set_progress(7);
  ConnectionInfo b = std::move(a);
  EXPECT_EQ(a.get_progress(), 7u);
  EXPECT_TRUE(b.progress_cell().shares_with(a.progress_cell()));
}

TEST(ConnectionInfoDebug, FreshRecordCompact) {
  EXPECT_EQ(debug_string(ConnectionInfo{}),
            "ConnectionInfo { points: 0, baudrate: 0, port: \"\", "
            "progress: Mutex { data: 0, poisoned: false, .. }, repeat: 0, "
            "return_data: Mutex { data: None, poisoned: false, .. }, "
            "scan_info: Mutex { data: \"\", poisoned: false, .. }, "
            "scan_message: Mutex { data: \"\", poisoned: false, .. }, start: 0, stop: 0, "
            "file_name: Mutex { data: \"\", poisoned: false, .. }, "
            "connection_status: Mutex { data: Uninitialised, poisoned: false, .. }, "
            "error_raised: Mutex { data: None, poisoned: false, .. } }");
}

TEST(ConnectionInfoDebug, FilledRecordPretty) {
  ConnectionInfo info;
  info.points = 101;
  info.baudrate = 115200;
  info.port = "COM\"3";
  info.repeat = 1;
  info.start = 240000000;
  info.stop = 960000000;
  info.set_progress(42);
  info.set_return_data({{240.0, -80.5}});
  info.set_scan_message("Scan finished");
  info.set_connection_status(ConnectionStatus::ClosedWithSuccess);
  info.set_error_raised(ui_error::NoReturnData{});
  EXPECT_EQ(debug_string(info, true),
            R"(ConnectionInfo {
    points: 101,
    baudrate: 115200,
    port: "COM\"3",
    progress: Mutex {
        data: 42,
        poisoned: false,
        ..
    },
    repeat: 1,
    return_data: Mutex {
        data: Some(
            [
                (
                    240.0,
                    -80.5,
                ),
            ],
        ),
        poisoned: false,
        ..
    },
    scan_info: Mutex {
        data: "",
        poisoned: false,
        ..
    },
    scan_message: Mutex {
        data: "Scan finished",
        poisoned: false,
        ..
    },
    start: 240000000,
    stop: 960000000,
    file_name: Mutex {
        data: "",
        poisoned: false,
        ..
    },
    connection_status: Mutex {
        data: ClosedWithSuccess,
        poisoned: false,
        ..
    },
    error_raised: Mutex {
        data: Some(
            NoReturnData,
        ),
        poisoned: false,
        ..
    },
})");
}

TEST(ConnectionInfoDebug, HeldLockShowsLockedWithoutWaiting) {
  ConnectionInfo info;
  std::atomic<bool> held = false, release = false;
  std::thread scan([&] {
    info.progress_cell().with_lock([&](std::uint64_t&) {
      held = true;
      while (!release)
        std::this_thread::yield();
    });
  });
  while (!held)
    std::this_thread::yield();
  std::string form = debug_string(info);
  release = true;
  scan.join();
  EXPECT_THAT(form, HasSubstr("progress: Mutex { data: <locked>, poisoned: false, .. }"));
  EXPECT_THAT(form, HasSubstr("scan_info: Mutex { data: \"\", poisoned: false, .. }"));
}

}  // namespace
}  // namespace kestrel
