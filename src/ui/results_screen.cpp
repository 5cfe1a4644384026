// The Results screen: the summary of a finished scan, the chart of its
// points and the last scan message.

#include <algorithm>
#include <span>

#include <fmt/format.h>

#include "tui/chart.hpp"
#include "ui/draw.hpp"
#include "ui/screens.hpp"

namespace kestrel::ui {

namespace {

std::string frequency_label(std::uint64_t mhz) {
  return format_value(mhz) + "MHz";
}

// The chart of chart_data, read in place: the points are never copied.
tui::Chart make_chart(const AppState& app) {
  const std::uint64_t start = app.start_input.value;
  const std::uint64_t stop = app.stop_input.value;
  // Never below start nor past stop, and free of overflow.
  const std::uint64_t middle = start + (stop - std::min(start, stop)) / 2;
  const tui::Style gray = tui::Style().fg(tui::Color::Gray);

  tui::Dataset data(std::span<const ScanPoint>(app.chart_data), &ScanPoint::frequency,
                    &ScanPoint::level);
  data.style(tui::Style().fg(tui::Color::Yellow));
  tui::Axis x_axis;
  x_axis.bounds(static_cast<double>(start), static_cast<double>(stop))
      .labels({frequency_label(start), frequency_label(middle), frequency_label(stop)})
      .style(gray);
  tui::Axis y_axis;
  y_axis.bounds(-128.0, 0.0).labels({"-128dbm", "-64dbm", "0dbm"}).style(gray);
  tui::Chart chart(data);
  chart.x_axis(std::move(x_axis)).y_axis(std::move(y_axis));
  return chart;
}

}  // namespace

ScreenResult draw_results(tui::Buffer& buf, tui::Rect area, AppState& app) {
  const std::vector<tui::Rect> rows = scan_screen_rows(area);
  const auto found = connection_info_of(app);
  if (!found)
    return std::unexpected(found.error());
  const ConnectionInfo& info = found->get();
  if (info.get_connection_status() == ConnectionStatus::ConnectionFailure) {
    app.ui_state = Screen::Failure;
    return {};
  }

  const tui::Paragraph summary = boxed_paragraph(
      fmt::format("The scan of {} points in the range ({}Mhz - {}Mhz) finished sucessfuly",
                  format_value(app.points_input.value), format_value(app.start_input.value),
                  format_value(app.stop_input.value)),
      "Status", tui::Style().fg(tui::Color::White));
  make_chart(app).plot_cache(&app.chart_cache).render(rows[2], buf);

  tui::Paragraph bottom(fmt::format("{}, press ↲ or q to exit", info.get_scan_message()));
  bottom.alignment(tui::Alignment::Center);
  summary.render(rows[0], buf);
  bottom.render(rows[4], buf);
  return {};
}

}  // namespace kestrel::ui
