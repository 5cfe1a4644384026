// Enter through the screens: what each step changes, and what a failing
// start of the scan leaves behind.

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <vector>

#include "scan/scan.hpp"
#include "structs/config.hpp"
#include "ui/validation.hpp"
#include "ui_test_support.hpp"

namespace kestrel::ui {
namespace {

using testing::fails_with;
using testing::info_of;
using testing::make_state;

// Records the records handed to the scan instead of starting a thread.
struct FakeScan {
  std::vector<std::pair<ConnectionInfo, ConnectionInfo>> calls;
  ScanSpawner spawner() {
    return [this](ConnectionInfo scan, ConnectionInfo outcome) {
      calls.emplace_back(std::move(scan), std::move(outcome));
    };
  }
};

class Validation : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("kestrel_ui_validation_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    config_ = dir_ / "config.toml";
    std::filesystem::remove(config_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::expected<void, UiError> enter(AppState& app) {
    return validate_configuration(app, scan_.spawner(), config_);
  }

  std::filesystem::path dir_;
  std::filesystem::path config_;
  FakeScan scan_;
};

TEST_F(Validation, SelectionMovesToParametersWithoutTestingTheSelections) {
  AppState app = make_state({}, std::nullopt);
  app.focused_widget = 1;
  ASSERT_TRUE(enter(app));
  EXPECT_EQ(app.ui_state, Screen::Parameters);
  EXPECT_EQ(app.focused_widget, 0);
  EXPECT_FALSE(app.progress_gauge.has_value());
}

TEST_F(Validation, ParametersStartsTheScan) {
  AppState app = make_state({"/dev/ttyS0", "COM3"}, 1);
  app.ui_state = Screen::Parameters;
  ASSERT_TRUE(enter(app));
  EXPECT_EQ(app.ui_state, Screen::Scanning);
  ASSERT_TRUE(app.progress_gauge.has_value());
  EXPECT_EQ(app.progress_gauge->ratio(), 0.0);
  EXPECT_EQ(app.progress_gauge->label(), tui::Line("Progress:"));

  const ConnectionInfo& info = info_of(app);
  EXPECT_EQ(info.port, "COM3");
  EXPECT_EQ(info.baudrate, 115200u);
  EXPECT_EQ(info.start, 240'000'000u);
  EXPECT_EQ(info.stop, 960'000'000u);
  EXPECT_EQ(info.points, 10001u);
  EXPECT_EQ(info.repeat, 1u);

  EXPECT_EQ(load_config(config_), (SavedConfig{"COM3", 115200, 240, 960, 10001, 1}));

  ASSERT_EQ(scan_.calls.size(), 1u);
  auto& [scan_record, outcome_record] = scan_.calls[0];
  EXPECT_EQ(scan_record.port, "COM3");
  EXPECT_EQ(outcome_record.stop, 960'000'000u);
  // Both copies reach the interface's cells.
  scan_record.set_progress(42);
  outcome_record.set_connection_status(ConnectionStatus::ClosedWithSuccess);
  EXPECT_EQ(info.get_progress(), 42u);
  EXPECT_EQ(info.get_connection_status(), ConnectionStatus::ClosedWithSuccess);
}

TEST_F(Validation, FrequenciesAreSavedAsEnteredAndNotTested) {
  AppState app = make_state({"COM3"});
  app.ui_state = Screen::Parameters;
  app.start_input.value = 960;
  app.stop_input.value = 10;
  app.baud_list.state.select(9);
  ASSERT_TRUE(enter(app));
  EXPECT_EQ(info_of(app).start, 960'000'000u);
  EXPECT_EQ(info_of(app).stop, 10'000'000u);
  EXPECT_EQ(info_of(app).baudrate, 3'000'000u);
  EXPECT_EQ(load_config(config_)->start_frequency, 960u);
  EXPECT_EQ(scan_.calls.size(), 1u);
}

// Only an unstepped value from config.toml can be this large. Wrapped into
// Hz, 2^58 + 240 MHz would become exactly 240 MHz and be scanned.
TEST_F(Validation, FrequencyTooLargeForHzIsHeldAtTheLargestValue) {
  constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
  AppState app = make_state({"COM3"});
  app.ui_state = Screen::Parameters;
  app.start_input.value = (std::uint64_t{1} << 58) + 240;
  app.stop_input.value = kLargest / 1'000'000;  // the largest that fits
  ASSERT_TRUE(enter(app));
  EXPECT_EQ(info_of(app).start, kLargest);
  EXPECT_EQ(info_of(app).stop, kLargest / 1'000'000 * 1'000'000);
  EXPECT_EQ(load_config(config_)->start_frequency, (std::uint64_t{1} << 58) + 240);
  const auto checked = check_scan_range(info_of(app).start, info_of(app).stop);
  ASSERT_FALSE(checked);
  EXPECT_TRUE(checked.error().is<app_error::BadScanFrequencies>());
}

// A failed start: the screen is Scanning with a new gauge, no scan runs, and
// config.toml is untouched unless the record was already filled.
void expect_failed_start(const AppState& app, const FakeScan& scan) {
  EXPECT_EQ(app.ui_state, Screen::Scanning);
  EXPECT_TRUE(app.progress_gauge.has_value());
  EXPECT_TRUE(scan.calls.empty());
}

TEST_F(Validation, NoRecordFailsBeforeTheSelectionsAreRead) {
  AppState app = make_state({"COM3"});
  app.ui_state = Screen::Parameters;
  app.connection_info.reset();
  const auto result = enter(app);
  EXPECT_TRUE(fails_with<ui_error::NoConnectionInfoCreated>(result));
  expect_failed_start(app, scan_);
  EXPECT_FALSE(app.connection_info.has_value());
  EXPECT_FALSE(std::filesystem::exists(config_));
}

TEST_F(Validation, BadSelectionsLeaveTheRecordUnchanged) {
  struct Case {
    std::vector<std::string> ports;
    std::optional<std::size_t> port;
    std::optional<std::size_t> baud;
    bool (*expected)(const UiError&);
  };
  const Case cases[] = {
      {{}, std::nullopt, 3, [](const UiError& e) { return e.is<ui_error::NoPortSelected>(); }},
      {{"COM3"}, 1, 3, [](const UiError& e) { return e.is<ui_error::MenuSelectionError>(); }},
      {{"COM3"},
       0,
       std::nullopt,
       [](const UiError& e) { return e.is<ui_error::UninitializedItemList>(); }},
      {{"COM3"}, 0, 10, [](const UiError& e) { return e.is<ui_error::MenuSelectionError>(); }},
  };
  for (const Case& c : cases) {
    AppState app = make_state(c.ports, c.port);
    app.baud_list.state.select(c.baud);
    app.ui_state = Screen::Parameters;
    const auto result = enter(app);
    ASSERT_FALSE(result);
    EXPECT_TRUE(c.expected(result.error())) << result.error().display();
    expect_failed_start(app, scan_);
    EXPECT_EQ(info_of(app).port, "");
    EXPECT_EQ(info_of(app).start, 0u);
    EXPECT_FALSE(std::filesystem::exists(config_));
  }
}

TEST_F(Validation, UnwritableConfigFailsWithKeyPressAfterFillingTheRecord) {
  std::filesystem::create_directories(config_);  // a folder where the file should be
  AppState app = make_state({"COM3"});
  app.ui_state = Screen::Parameters;
  const auto result = enter(app);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is<ui_error::KeyPress>()) << result.error().display();
  expect_failed_start(app, scan_);
  EXPECT_EQ(info_of(app).port, "COM3");
  EXPECT_EQ(info_of(app).start, 240'000'000u);
}

TEST_F(Validation, UnserializableSettingsFailAfterFillingTheRecord) {
  AppState app = make_state({"COM3"});
  app.ui_state = Screen::Parameters;
  app.points_input.value = std::numeric_limits<std::uint64_t>::max();  // beyond TOML integers
  const auto result = enter(app);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is<ui_error::SerializeError>()) << result.error().display();
  expect_failed_start(app, scan_);
  EXPECT_EQ(info_of(app).points, std::numeric_limits<std::uint64_t>::max());
}

TEST_F(Validation, LaterScreens) {
  AppState app = make_state({"COM3"});
  app.ui_state = Screen::Scanning;
  ASSERT_TRUE(enter(app));
  EXPECT_EQ(app.ui_state, Screen::Results);
  EXPECT_FALSE(app.quit_requested);
  for (Screen screen : {Screen::Results, Screen::Failure}) {
    app.ui_state = screen;
    app.quit_requested = false;
    ASSERT_TRUE(enter(app));
    EXPECT_EQ(app.ui_state, screen);
    EXPECT_TRUE(app.quit_requested);
  }
  EXPECT_TRUE(scan_.calls.empty());
}

}  // namespace
}  // namespace kestrel::ui
