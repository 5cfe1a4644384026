#pragma once
// Drawing one frame of the interface. Drawing may change the state: the
// Scanning screen moves on to Results at the end of a scan, Results moves to
// Failure after a failed scan, and an error raised while a screen is drawn is
// stored in the error cell and turns the screen into Failure. Every change
// shows from the next frame on.

#include <cstdint>
#include <expected>
#include <string>

#include "tui/buffer.hpp"
#include "tui/rect.hpp"
#include "tui/terminal.hpp"
#include "ui/app_state.hpp"

namespace kestrel::ui {

// Draws the screen named by app.ui_state into `area` of `buf`. A UiError met
// while drawing stops that screen (what it drew stays), is stored in the
// error cell of app.connection_info, replacing what was there, and sets the
// screen to Failure. Without a connection_info to store it in, the program
// stops: this throws std::runtime_error, which nothing is meant to catch.
void draw_frame(tui::Buffer& buf, tui::Rect area, AppState& app);

// One frame on the terminal, drawn by draw_frame over the whole window. The
// result is the terminal's error, if writing the frame failed.
std::expected<void, tui::TerminalError> draw_ui(tui::Terminal& terminal, AppState& app);

// The key-help line of the Selection and Parameters screens, centred in `area`.
void draw_help(tui::Buffer& buf, tui::Rect area);

// Plain decimal digits: 960 gives "960".
std::string format_value(std::uint64_t number);

}  // namespace kestrel::ui
