// The Scanning screen: the current operation, the progress line and the
// instrument's text, and the test for the end of the scan.

#include <utility>

#include "structs/logging.hpp"
#include "ui/screens.hpp"
#include "ui/validation.hpp"

namespace kestrel::ui {

namespace {

// One Info record with the whole scan record, at the first Scanning frame.
ScreenResult log_scan_record_once(AppState& app) {
  if (app.scan_logged)
    return {};
  if (log::enabled(log::Level::Info, log::kUi)) {
    const auto info = connection_info_of(app);
    if (!info)
      return std::unexpected(info.error());
    log::write(log::Level::Info, log::kUi,
               "An error was raised " + debug_string(info->get(), /*pretty=*/true));
  }
  app.scan_logged = true;
  return {};
}

}  // namespace

ScreenResult draw_scanning(tui::Buffer& buf, tui::Rect area, AppState& app) {
  if (ScreenResult logged = log_scan_record_once(app); !logged)
    return logged;

  const std::vector<tui::Rect> rows = scan_screen_rows(area);
  const auto found = connection_info_of(app);
  if (!found)
    return std::unexpected(found.error());
  const ConnectionInfo& info = found->get();
  const tui::Style white = tui::Style().fg(tui::Color::White);
  const tui::Paragraph operation = boxed_paragraph(info.get_scan_message(), "Operation", white);
  const tui::Paragraph instrument = boxed_paragraph(info.get_scan_info(), "TinySA Info", white);

  std::optional<tui::LineGauge> gauge = std::exchange(app.progress_gauge, std::nullopt);
  if (!gauge)
    return std::unexpected(UiError::uninitialized("ProgressBar"));
  gauge->ratio(static_cast<double>(info.get_progress()) / 100.0);
  gauge->render(rows[1], buf);
  operation.render(rows[0], buf);
  instrument.render(rows[2], buf);
  app.progress_gauge = std::move(gauge);

  // A second read: the scan may have finished since the gauge was drawn.
  if (info.get_progress() > 99) {
    std::expected<std::vector<ScanPoint>, UiError> points = info.take_return_data();
    if (!points)
      return std::unexpected(std::move(points.error()));
    app.chart_data = std::move(*points);
    app.chart_cache = {};
    if (ScreenResult moved = validate_configuration(app); !moved)
      return moved;
  }
  // Only while still Scanning: validating again on Results would quit.
  if (app.ui_state == Screen::Scanning &&
      info.get_connection_status() == ConnectionStatus::ConnectionFailure) {
    return validate_configuration(app);
  }
  return {};
}

}  // namespace kestrel::ui
