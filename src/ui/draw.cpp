#include "ui/draw.hpp"

#include <array>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "tui/block.hpp"
#include "tui/layout.hpp"
#include "tui/paragraph.hpp"
#include "ui/screens.hpp"

namespace kestrel::ui {

namespace {

constexpr std::string_view kHelpText =
    "Use ↓↑ to move, ←→ to change status widget and ↲ to validate configuration.";

ScreenResult draw_screen(tui::Buffer& buf, tui::Rect area, AppState& app) {
  switch (app.ui_state) {
    case Screen::Selection:
      return draw_selection(buf, area, app);
    case Screen::Parameters:
      return draw_parameters(buf, area, app);
    case Screen::Results:
      return draw_results(buf, area, app);
    case Screen::Scanning:
      return draw_scanning(buf, area, app);
    case Screen::Failure:
      return draw_failure(buf, area, app);
  }
  return {};
}

}  // namespace

void draw_frame(tui::Buffer& buf, tui::Rect area, AppState& app) {
  ScreenResult drawn = draw_screen(buf, area, app);
  if (drawn)
    return;
  const auto info = connection_info_of(app);
  if (!info)
    throw std::runtime_error(info.error().display());
  info->get().set_error_raised(std::move(drawn.error()));
  app.ui_state = Screen::Failure;
}

std::expected<void, tui::TerminalError> draw_ui(tui::Terminal& terminal, AppState& app) {
  return terminal.draw([&app](tui::Buffer& buf, tui::Rect area) { draw_frame(buf, area, app); });
}

void draw_help(tui::Buffer& buf, tui::Rect area) {
  tui::Paragraph(kHelpText).alignment(tui::Alignment::Center).render(area, buf);
}

std::string format_value(std::uint64_t number) {
  return fmt::format("{}", number);
}

tui::Paragraph boxed_paragraph(std::string_view text, std::string title, tui::Style style) {
  tui::Block block;
  block.title(std::move(title));
  tui::Paragraph paragraph(text);
  paragraph.block(std::move(block)).style(style);
  return paragraph;
}

tui::Rect middle_column(tui::Rect area) {
  return tui::Layout::horizontal({tui::Min(7), tui::Percentage(90), tui::Min(7)}).split(area)[1];
}

std::vector<tui::Rect> scan_screen_rows(tui::Rect area) {
  return tui::Layout::vertical(
             {tui::Length(3), tui::Length(1), tui::Min(10), tui::Length(1), tui::Length(1)})
      .split(middle_column(area));
}

ScreenResult draw_selection(tui::Buffer& buf, tui::Rect area, AppState& app) {
  const std::vector<tui::Rect> rows =
      tui::Layout::vertical({tui::Length(2), tui::Min(10), tui::Length(1)}).split(area);
  const std::vector<tui::Rect> columns =
      tui::Layout::horizontal({tui::Min(7), tui::Percentage(50), tui::Percentage(50), tui::Min(7)})
          .split(rows[1]);
  if (!app.port_list_widget)
    return std::unexpected(UiError::uninitialized("Port"));
  if (!app.baud_list_widget)
    return std::unexpected(UiError::uninitialized("Baud"));
  app.port_list_widget->render(columns[1], buf, app.port_list.state);
  app.baud_list_widget->render(columns[2], buf, app.baud_list.state);
  tui::Paragraph(app.header_text).render(rows[0], buf);
  draw_help(buf, rows[2]);
  return {};
}

ScreenResult draw_parameters(tui::Buffer& buf, tui::Rect area, AppState& app) {
  const std::vector<tui::Rect> rows =
      tui::Layout::vertical({tui::Length(2), tui::Length(3), tui::Min(0), tui::Length(1)})
          .split(area);
  const std::vector<tui::Rect> columns =
      tui::Layout::horizontal({tui::Min(7), tui::Percentage(25), tui::Percentage(25),
                               tui::Percentage(25), tui::Percentage(25), tui::Min(7)})
          .split(rows[1]);
  const std::array<std::pair<const NumberInput*, const char*>, 4> inputs{{
      {&app.start_input, "Start Frequency"},
      {&app.stop_input, "Stop Frequency"},
      {&app.points_input, "Points"},
      {&app.repeat_input, "Repeat"},
  }};
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const tui::Color colour = app.focused_widget == i ? tui::Color::White : tui::Color::DarkGray;
    boxed_paragraph(format_value(inputs[i].first->value), inputs[i].second, tui::Style().fg(colour))
        .render(columns[i + 1], buf);
  }
  tui::Paragraph(app.header_text).render(rows[0], buf);
  draw_help(buf, rows[3]);
  return {};
}

}  // namespace kestrel::ui
