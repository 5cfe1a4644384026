// Frames that change the state: the error rule, the list selections settled
// by the Selection frame, the end of a scan, the failed scan, and the texts
// of the Failure screen.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <thread>

#include "structs/logging.hpp"
#include "ui/failure_texts.hpp"
#include "ui_test_support.hpp"

namespace kestrel::ui {
namespace {

using testing::fails_with;
using testing::frame;
using ::testing::HasSubstr;
using testing::info_of;
using testing::is_blank;
using testing::make_state;

const std::vector<std::string> kPorts{"COM3", "COM5", "COM7"};

std::optional<UiError> stored_error(const AppState& app) {
  return info_of(app).error_cell().with_lock([](const std::optional<UiError>& e) { return e; });
}

std::string row_text(const tui::Buffer& buf, std::uint16_t row) {
  return tui::buffer_rows(buf)[row];
}

// ---- the error rule --------------------------------------------------------

TEST(ErrorRule, MissingPortWidgetBlanksTheFrameAndRecordsTheError) {
  AppState app = make_state(kPorts);
  app.port_list_widget.reset();
  app.baud_list_widget.reset();
  EXPECT_TRUE(is_blank(frame(app)));
  EXPECT_EQ(app.ui_state, Screen::Failure);
  const std::optional<UiError> error = stored_error(app);
  ASSERT_TRUE(error.has_value());
  const auto* uninitialized = error->get<ui_error::UninitializedItemList>();
  ASSERT_NE(uninitialized, nullptr);
  EXPECT_EQ(uninitialized->name, "Port");
  EXPECT_TRUE(uninitialized->file.ends_with("src/ui/draw.cpp")) << uninitialized->file;
  EXPECT_TRUE(testing::raised_at(*uninitialized, "uninitialized(\"Port\")")) << uninitialized->line;

  const tui::Buffer next = frame(app);
  EXPECT_THAT(row_text(next, 2), HasSubstr("│The item Port was left uninitialized "));
}

TEST(ErrorRule, MissingBaudWidgetIsNamedBaud) {
  AppState app = make_state(kPorts);
  app.baud_list_widget.reset();
  frame(app);
  EXPECT_EQ(stored_error(app).value().get<ui_error::UninitializedItemList>()->name, "Baud");
}

TEST(ErrorRule, ReplacesAnErrorStoredByTheScan) {
  AppState app = make_state(kPorts);
  info_of(app).set_error_raised(ui_error::ScanError{app_error::NoVersionFound{}});
  app.port_list_widget.reset();
  frame(app);
  EXPECT_TRUE(stored_error(app).value().is<ui_error::UninitializedItemList>());
}

TEST(ErrorRule, StopsTheProgramWithoutARecord) {
  AppState app = make_state(kPorts);
  app.port_list_widget.reset();
  app.connection_info.reset();
  tui::Buffer buf(tui::Rect{0, 0, 80, 24});
  try {
    draw_frame(buf, buf.area(), app);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "An error occured while trying to acquire the connection info structure");
  }
}

// ---- Selection settles the list selections ---------------------------------

TEST(SelectionFrame, BringsAStaleSelectionBackToTheLastItem) {
  AppState app = make_state(kPorts, 2);
  on_vertical_key(app, Direction::Down);
  EXPECT_EQ(app.port_list.state.selected, 3u);
  frame(app);
  EXPECT_EQ(app.port_list.state.selected, 2u);
  EXPECT_EQ(selected_item(app.port_list), "COM7");

  app.port_list.state.select(std::nullopt);
  on_vertical_key(app, Direction::Up);
  frame(app);
  EXPECT_EQ(app.port_list.state.selected, 2u);
}

TEST(SelectionFrame, EmptyPortListLosesItsSelection) {
  AppState app = make_state({}, 0);
  frame(app);
  EXPECT_EQ(app.port_list.state.selected, std::nullopt);
  EXPECT_TRUE(fails_with<ui_error::NoPortSelected>(selected_item(app.port_list)));
}

TEST(SelectionFrame, TooSmallForTheListsLeavesTheSelectionsAlone) {
  AppState app = make_state(kPorts);
  constexpr std::size_t kBeyond = std::numeric_limits<std::size_t>::max();
  app.port_list.state.select(kBeyond);
  app.baud_list.state.select(kBeyond);
  frame(app, 14, 24);  // the margins take the whole width
  EXPECT_EQ(app.ui_state, Screen::Selection);
  EXPECT_EQ(app.port_list.state.selected, kBeyond);
  EXPECT_TRUE(fails_with<ui_error::MenuSelectionError>(selected_item(app.port_list)));
  EXPECT_TRUE(fails_with<ui_error::MenuSelectionError>(
      baudrate_of_selection(app.baud_list.state.selected)));
}

// ---- Scanning --------------------------------------------------------------

AppState scanning_state() {
  AppState app = make_state(kPorts);
  testing::enter_scanning(app);
  return app;
}

TEST(ScanningFrame, StaysWhileProgressIsAtMost99) {
  AppState app = scanning_state();
  for (std::uint64_t progress : {0, 50, 99}) {
    info_of(app).set_progress(progress);
    frame(app);
    EXPECT_EQ(app.ui_state, Screen::Scanning);
    EXPECT_DOUBLE_EQ(app.progress_gauge->ratio(), progress / 100.0);
  }
}

TEST(ScanningFrame, MovesToResultsWithThePoints) {
  AppState app = scanning_state();
  const std::vector<ScanPoint> points{{240, -80.5}, {960, -90}};
  info_of(app).set_return_data(points);
  info_of(app).set_progress(100);
  frame(app);
  EXPECT_EQ(app.ui_state, Screen::Results);
  EXPECT_EQ(app.chart_data, points);
  EXPECT_TRUE(fails_with<ui_error::NoReturnData>(info_of(app).take_return_data()));
  EXPECT_FALSE(app.quit_requested);
}

// The scan runs on its own thread: it publishes as the scan does (message,
// info, rising progress, the points, 100, the outcome last) while this thread
// draws Scanning frames until the points are taken.
TEST(ScanningFrame, TakesThePointsFromAScanThread) {
  AppState app = scanning_state();
  std::vector<ScanPoint> points(5000);
  for (std::size_t i = 0; i < points.size(); ++i)
    points[i] = {240.0 + static_cast<double>(i) * 0.144, -90.0 + static_cast<double>(i % 40)};
  std::thread scan([record = info_of(app), points] {
    record.set_scan_message("Reading scan data...");
    record.set_scan_info("tinySA4\nHW Version:V0.4.5.1");
    for (std::uint64_t progress = 20; progress <= 99; ++progress) {
      record.set_progress(progress);
      std::this_thread::yield();
    }
    record.set_return_data(points);
    record.set_progress(100);
    record.set_connection_status(ConnectionStatus::ClosedWithSuccess);
  });
  std::uint64_t last_seen = 0;
  for (int frames = 0; app.ui_state == Screen::Scanning && frames < 1'000'000; ++frames) {
    frame(app);
    const std::uint64_t seen =
        static_cast<std::uint64_t>(app.progress_gauge->ratio() * 100.0 + 0.5);
    EXPECT_GE(seen, last_seen);
    last_seen = seen;
  }
  scan.join();
  EXPECT_EQ(app.ui_state, Screen::Results);
  EXPECT_EQ(app.chart_data, points);
  frame(app);
  EXPECT_EQ(app.ui_state, Screen::Results);
}

TEST(ScanningFrame, ProgressOver99WithoutPointsFails) {
  AppState app = scanning_state();
  info_of(app).set_progress(100);
  const tui::Buffer drawn = frame(app);
  EXPECT_FALSE(is_blank(drawn));
  EXPECT_EQ(app.ui_state, Screen::Failure);
  EXPECT_TRUE(stored_error(app).value().is<ui_error::NoReturnData>());
}

TEST(ScanningFrame, FailedScanPassesThroughResultsToFailureWithoutDrawing) {
  AppState app = scanning_state();
  info_of(app).set_progress(40);
  info_of(app).set_error_raised(ui_error::ScanError{app_error::NoVersionFound{}});
  info_of(app).set_connection_status(ConnectionStatus::ConnectionFailure);
  frame(app);
  EXPECT_EQ(app.ui_state, Screen::Results);
  EXPECT_TRUE(is_blank(frame(app)));
  EXPECT_EQ(app.ui_state, Screen::Failure);
  EXPECT_FALSE(app.quit_requested);
  EXPECT_TRUE(stored_error(app).value().is<ui_error::ScanError>());
}

// The end test and the failure test both pass in one frame: the screen
// moves on once, and the program does not quit.
TEST(ScanningFrame, EndAndFailureInOneFrameStillReachFailure) {
  AppState app = scanning_state();
  info_of(app).set_return_data({{240, -80}});
  info_of(app).set_progress(100);
  info_of(app).set_connection_status(ConnectionStatus::ConnectionFailure);
  frame(app);
  EXPECT_EQ(app.ui_state, Screen::Results);
  EXPECT_FALSE(app.quit_requested);
  frame(app);
  EXPECT_EQ(app.ui_state, Screen::Failure);
}

TEST(ScanningFrame, MissingGaugeBlanksTheFrame) {
  AppState app = scanning_state();
  app.progress_gauge.reset();
  EXPECT_TRUE(is_blank(frame(app)));
  EXPECT_EQ(app.ui_state, Screen::Failure);
  const std::optional<UiError> error = stored_error(app);
  ASSERT_TRUE(error && error->is<ui_error::UninitializedItemList>());
  const auto& uninitialized = *error->get<ui_error::UninitializedItemList>();
  EXPECT_EQ(uninitialized.name, "ProgressBar");
  EXPECT_TRUE(testing::raised_at(uninitialized, "uninitialized(\"ProgressBar\")"))
      << uninitialized.file << ":" << uninitialized.line;
}

TEST(ScanningFrame, LogsTheRecordOnceAtTheFirstFrame) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("kestrel_ui_log_" + std::to_string(::getpid()));
  ASSERT_TRUE(log::start(file));
  AppState app = scanning_state();
  frame(app);
  EXPECT_TRUE(app.scan_logged);
  frame(app);
  log::shutdown();
  std::ifstream in(file);
  const std::string log{std::istreambuf_iterator<char>(in), {}};
  std::filesystem::remove(file);
  const std::string head =
      "INFO [kestrel::ui] An error was raised ConnectionInfo {\n    points: 10001,\n";
  EXPECT_TRUE(log.starts_with(head)) << log;
  EXPECT_EQ(log.find("An error was raised", head.size()), std::string::npos) << log;
}

TEST(ScanningFrame, SetsTheLogFlagAlsoWhenInfoIsNotAdmitted) {
  AppState app = scanning_state();
  frame(app);
  EXPECT_TRUE(app.scan_logged);
}

// ---- Results ---------------------------------------------------------------

TEST(ResultsFrame, Texts) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Results;
  app.start_input.value = 241;
  const tui::Buffer buf = frame(app, 120, 24);
  EXPECT_THAT(row_text(buf, 1),
              HasSubstr("│The scan of 10001 points in the range (241Mhz - 960Mhz) finished "
                        "sucessfuly      "));
  EXPECT_THAT(row_text(buf, 21), HasSubstr(" 600MHz "));
  EXPECT_THAT(row_text(buf, 23), HasSubstr(" , press ↲ or q to exit "));
}

TEST(ResultsFrame, MiddleLabelWithStartAtOrAboveStop) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Results;
  app.start_input.value = 700;
  app.stop_input.value = 300;
  const std::string labels = row_text(frame(app), 21);
  EXPECT_EQ(labels,
            "       700MHz                           700MHz                     300MHz       ");
  app.stop_input.value = 700;
  EXPECT_EQ(row_text(frame(app), 21),
            "       700MHz                           700MHz                     700MHz       ");
}

TEST(ResultsFrame, StaysWhileTheOutcomeIsOutstanding) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Results;
  frame(app);
  EXPECT_EQ(app.ui_state, Screen::Results);
}

// ---- Failure texts -----------------------------------------------------------

TEST(FailureShortText, OneSentencePerError) {
  EXPECT_EQ(failure_short_text(std::nullopt), "An unspecified error occured");
  EXPECT_EQ(failure_short_text(UiError(ui_error::NoErrorSpecified{})),
            UiError(ui_error::NoErrorSpecified{}).display());
  EXPECT_EQ(failure_short_text(UiError(ui_error::MenuSelectionError{})),
            "An error occured while trying to select a menu item");
  EXPECT_EQ(failure_short_text(UiError::uninitialized("ProgressBar")),
            "The item ProgressBar was left uninitialized");
  EXPECT_EQ(failure_short_text(UiError(ui_error::KeyPress{IoError::from_errno(EACCES)})),
            "An error occured while processing key events");
  EXPECT_EQ(failure_short_text(UiError(ui_error::NoPortSelected{})),
            "No connection port was selected");
  EXPECT_EQ(failure_short_text(UiError(ui_error::NoConnectionInfoCreated{})),
            "An error occured when tring to acquire connection info with the TinySA");
  EXPECT_EQ(failure_short_text(UiError(ui_error::NoReturnData{})),
            "An error occured when trying to acquire the return data with the TinySA");
  EXPECT_EQ(failure_short_text(UiError(ui_error::SerializeError{TomlWriteError("x")})),
            "An error occured while tring to save the current config");
}

// The table is looked up by the variant's position, so a variant list and a
// table that drift apart would show another error's sentence.
TEST(FailureShortText, EachScanErrorHasTheSentenceOfItsVariant) {
  const IoError io = IoError::from_errno(EIO);
  const std::vector<std::pair<AppError, std::string_view>> cases{
      {app_error::ParseBeggining{"x"},
       "An error occured while receiving data, the scan never sent back any valid data"},
      {app_error::ParseEnd{"x"},
       "An error occured while receiving data, scan was interupted before ending properly"},
      {app_error::PortConnection{SerialError(SerialErrorKind::NoDevice, "x")},
       "An error occured while trying to connect, check the selected port and baudrate"},
      {app_error::OpenOutput{io}, "An error occured while trying to export the scan"},
      {app_error::TUIInitialization{Report(io)}, "An error occured while trying to create the TUI"},
      {app_error::TUIRuntimeError{Report(io)}, "An error occured during runtime"},
      {app_error::TUIPackingError{PackingError("x")},
       "An error occured while trying to parse the data points"},
      {app_error::ConfigNotFound{}, "An error occured while trying to open the config file"},
      {app_error::InvalidConfig{TomlReadError("x")},
       "An error forbid to read the config as it seems invalid, please delete config.toml and "
       "retry"},
      {app_error::InvalidDataForConfig{TomlWriteError("x")}, "An error forbit to write the config"},
      {app_error::NoVersionFound{},
       "An error forbid the gathering of the version, check your TinySA is connected and powered "
       "on"},
      {app_error::BadScanFrequencies{"x"},
       "An error occured because the scan frequencies weren't set correctly"},
      {app_error::LoggerError{LogInitError("x")}, "Couldn't initialize the error logger"},
      {app_error::SendError{io}, "Couldn't finish sending data to TinySA"},
  };
  ASSERT_EQ(cases.size(), ERROR_SCREEN_TEXTS.size());
  for (const auto& [error, sentence] : cases) {
    EXPECT_EQ(failure_short_text(UiError(ui_error::ScanError{error})), sentence) << error.name();
  }
}

TEST(FailureFrame, DetailsFollowTheCellsAtEachFrame) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Failure;
  info_of(app).set_scan_message("Sending\x1b[2J \"version\"\r");
  EXPECT_THAT(row_text(frame(app), 7), HasSubstr("│Last message: Sending[2J \"version\"   "));
  info_of(app).set_connection_status(ConnectionStatus::ClosedWithSuccess);
  EXPECT_THAT(row_text(frame(app), 6), HasSubstr("│Last status: ClosedWithSuccess "));
  EXPECT_EQ(app.ui_state, Screen::Failure);
}

}  // namespace
}  // namespace kestrel::ui
