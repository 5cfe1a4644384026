#include "ui/validation.hpp"

#include <string>
#include <utility>

#include "structs/config.hpp"

namespace kestrel::ui {

namespace {

constexpr std::uint64_t kHzPerMHz = 1'000'000;

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
  // A step clamps both frequencies to 960 MHz; only an unstepped value loaded
  // from config.toml can make these products wrap.
  info.start = app.start_input.value * kHzPerMHz;
  info.stop = app.stop_input.value * kHzPerMHz;
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
