// The Failure screen: a short sentence for the recorded error, and the last
// status, the last message and the error's debug form and text.

#include <fmt/format.h>

#include "tui/layout.hpp"
#include "ui/failure_texts.hpp"
#include "ui/screens.hpp"

namespace kestrel::ui {

ScreenResult draw_failure(tui::Buffer& buf, tui::Rect area, const AppState& app) {
  const std::vector<tui::Rect> rows =
      tui::Layout::vertical({tui::Length(1), tui::Length(3), tui::Length(1), tui::Min(10),
                             tui::Length(1), tui::Length(1)})
          .split(middle_column(area));
  const auto found = connection_info_of(app);
  if (!found)
    return std::unexpected(found.error());
  const ConnectionInfo& info = found->get();
  const ConnectionStatus status = info.get_connection_status();

  // The error is read in place, under its lock, and left in the cell.
  const std::string short_text = info.error_cell().with_lock(
      [](const std::optional<UiError>& error) { return failure_short_text(error); });
  const std::string error_part =
      info.error_cell().with_lock([](const std::optional<UiError>& error) -> std::string {
        if (!error)
          return {};
        return fmt::format("Error: {} \n => {}\n", debug_string(*error), error->display());
      });
  const std::string details =
      fmt::format("Last status: {}\nLast message: {}\n{}", debug_string(status),
                  info.get_scan_message(), error_part);

  tui::Paragraph bottom("Press ↲ or q to exit");
  bottom.alignment(tui::Alignment::Center);
  boxed_paragraph(short_text, "Status", tui::Style().fg(tui::Color::Red)).render(rows[1], buf);
  boxed_paragraph(details, "Status", tui::Style()).render(rows[3], buf);
  bottom.render(rows[5], buf);
  return {};
}

}  // namespace kestrel::ui
