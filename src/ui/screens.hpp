#pragma once
// The five screens, each drawn into an area of a buffer. A screen either
// completes or stops at the first UiError, which draw_frame then handles.

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "structs/errors.hpp"
#include "tui/buffer.hpp"
#include "tui/paragraph.hpp"
#include "tui/rect.hpp"
#include "tui/style.hpp"
#include "ui/app_state.hpp"

namespace kestrel::ui {

using ScreenResult = std::expected<void, UiError>;

ScreenResult draw_selection(tui::Buffer& buf, tui::Rect area, AppState& app);
ScreenResult draw_parameters(tui::Buffer& buf, tui::Rect area, AppState& app);
ScreenResult draw_scanning(tui::Buffer& buf, tui::Rect area, AppState& app);
ScreenResult draw_results(tui::Buffer& buf, tui::Rect area, AppState& app);
ScreenResult draw_failure(tui::Buffer& buf, tui::Rect area, const AppState& app);

// `text` in a bordered box titled `title`; `style` colours border, title and
// text alike. Not wrapped: long lines are cut at the right border.
tui::Paragraph boxed_paragraph(std::string_view text, std::string title, tui::Style style);

// The wide middle column ([Min(7), Percentage(90), Min(7)]) that the
// Scanning, Results and Failure screens draw in.
tui::Rect middle_column(tui::Rect area);

// The five rows ([Length(3), Length(1), Min(10), Length(1), Length(1)]) of
// the middle column that the Scanning and Results screens share: a box, a
// line, the large area, a line, a line.
std::vector<tui::Rect> scan_screen_rows(tui::Rect area);

}  // namespace kestrel::ui
