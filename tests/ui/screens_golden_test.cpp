// Each screen at 80x24, compared cell by cell with its picture in golden/.

#include <gtest/gtest.h>

#include <cerrno>

#include "ui_test_support.hpp"

namespace kestrel::ui {
namespace {

using testing::expect_golden;
using testing::frame;
using testing::info_of;
using testing::make_state;

const std::vector<std::string> kPorts{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyUSB1"};

TEST(SelectionScreen, PortListFocused) {
  AppState app = make_state(kPorts, 1);
  expect_golden(frame(app), "selection_focus_ports");
}

TEST(SelectionScreen, BaudListFocused) {
  AppState app = make_state(kPorts, 1);
  ASSERT_TRUE(on_horizontal_key(app, Direction::Right));
  on_vertical_key(app, Direction::Down);
  expect_golden(frame(app), "selection_focus_baudrate");
}

TEST(ParametersScreen, EachFocus) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Parameters;
  app.points_input.value = 101;
  for (std::uint8_t focus = 0; focus < 4; ++focus) {
    app.focused_widget = focus;
    expect_golden(frame(app), "parameters_focus_" + std::to_string(focus));
  }
}

AppState scanning_state(std::uint64_t progress) {
  AppState app = make_state(kPorts);
  testing::enter_scanning(app);
  app.scan_logged = true;
  info_of(app).set_scan_message("Reading scan data");
  info_of(app).set_scan_info("tinySA ULTRA\r\nHW Version:V0.4.5.1");
  info_of(app).set_progress(progress);
  return app;
}

TEST(ScanningScreen, Progress) {
  for (std::uint64_t progress : {0, 50, 99}) {
    AppState app = scanning_state(progress);
    expect_golden(frame(app), "scanning_" + std::to_string(progress));
    EXPECT_EQ(app.ui_state, Screen::Scanning);
  }
}

AppState results_state(std::vector<ScanPoint> points) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Results;
  app.start_input.value = 100;
  app.stop_input.value = 556;
  app.points_input.value = 5;
  app.chart_data = std::move(points);
  info_of(app).set_scan_message("Scan finished");
  info_of(app).set_connection_status(ConnectionStatus::ClosedWithSuccess);
  return app;
}

TEST(ResultsScreen, SmallDataSet) {
  // The four corners of the bounds, the middle, and three points outside them.
  AppState app = results_state({{100, -128},
                                {100, 0},
                                {556, -128},
                                {556, 0},
                                {328, -64},
                                {600, -64},
                                {328, 10},
                                {99.5, -64}});
  expect_golden(frame(app), "results_points");
}

TEST(ResultsScreen, EmptyDataSet) {
  AppState app = results_state({});
  expect_golden(frame(app), "results_empty");
}

TEST(FailureScreen, NoError) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Failure;
  expect_golden(frame(app), "failure_no_error");
}

TEST(FailureScreen, KeyPress) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Failure;
  info_of(app).set_error_raised(ui_error::KeyPress{IoError::from_errno(EACCES)});
  expect_golden(frame(app), "failure_key_press");
}

TEST(FailureScreen, PortConnection) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Failure;
  info_of(app).set_scan_message("Opening port /dev/ttyACM0");
  info_of(app).set_error_raised(ui_error::ScanError{app_error::PortConnection{
      SerialError(SerialErrorKind::NoDevice, "No such file or directory")}});
  info_of(app).set_connection_status(ConnectionStatus::ConnectionFailure);
  expect_golden(frame(app), "failure_port_connection");
}

TEST(FailureScreen, TextWiderThanItsBox) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Failure;
  info_of(app).set_error_raised(
      ui_error::ScanError{app_error::InvalidConfig{TomlReadError("expected a value", 3, 9)}});
  expect_golden(frame(app), "failure_wide_text");
}

}  // namespace
}  // namespace kestrel::ui
