#include "ui/validation.hpp"

#include <limits>
#include <string>
#include <utility>

#include "structs/config.hpp"

namespace kestrel::ui {

namespace {

constexpr std::uint64_t kHzPerMHz = 1'000'000;

// A frequency too large for Hz is held at the largest value, which the scan's
// range check rejects, rather than wrapping into a range nobody entered. A
// step clamps both inputs to 960 MHz, so only an unstepped value loaded from
// config.toml gets here.
std::uint64_t mhz_to_hz(std::uint64_t mhz) {
  constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
  return mhz > kLargest / kHzPerMHz ? kLargest : mhz * kHzPerMHz;
}

// The progress line of the Scanning screen, empty until the scan reports.
tui::LineGauge make_progress_gauge() {
  tui::LineGauge gauge;
  gauge.ratio(0.0)
      .label(tui::Line("Progress:"))
      .line_set(tui::kNormalLines)
      .style(tui::Style())
      .filled_style(tui::Style().fg(tui::Color::Blue))
      .unfilled_style(tui::Style().fg(tui::Color::Red));
  return gauge;
}

std::expected<void, UiError> start_scan(AppState& app, const ScanSpawner& spawn,
                                        const std::filesystem::path& config_path) {
  app.ui_state = Screen::Scanning;
  app.progress_gauge = make_progress_gauge();
  if (!app.connection_info)
    return std::unexpected(UiError(ui_error::NoConnectionInfoCreated{}));
  std::expected<std::string, UiError> port = selected_item(app.port_list);
  if (!port)
    return std::unexpected(std::move(port.error()));
  const std::expected<std::uint32_t, UiError> baudrate =
      baudrate_of_selection(app.baud_list.state.selected);
  if (!baudrate)
    return std::unexpected(baudrate.error());

  ConnectionInfo& info = *app.connection_info;
  info.port = *port;
  info.baudrate = *baudrate;
  info.start = mhz_to_hz(app.start_input.value);
  info.stop = mhz_to_hz(app.stop_input.value);
  info.points = app.points_input.value;
  info.repeat = app.repeat_input.value;
  ConnectionInfo scan_record = info;
  ConnectionInfo outcome_record = info;

  const SavedConfig config{
      .port = std::move(*port),
      .baudrate = *baudrate,
      .start_frequency = app.start_input.value,
      .stop_frequency = app.stop_input.value,
      .points = app.points_input.value,
      .repeat = app.repeat_input.value,
  };
  if (std::expected<void, UiError> saved = save_config(config, config_path); !saved) {
    return saved;
  }
  spawn(std::move(scan_record), std::move(outcome_record));
  return {};
}

}  // namespace

std::expected<void, UiError> validate_configuration(AppState& app, const ScanSpawner& spawn,
                                                    const std::filesystem::path& config_path) {
  switch (app.ui_state) {
    case Screen::Selection:
      app.ui_state = Screen::Parameters;
      app.focused_widget = 0;
      return {};
    case Screen::Parameters:
      return start_scan(app, spawn, config_path);
    case Screen::Scanning:
      app.ui_state = Screen::Results;
      return {};
    case Screen::Results:
    case Screen::Failure:
      app.quit_requested = true;
      return {};
  }
  return {};
}

}  // namespace kestrel::ui
