#pragma once
// The interactive loop: draw a frame, wait up to 16 ms for one key, hand it
// to the interface's actions, and again, until the user quits.

#include <chrono>
#include <expected>
#include <filesystem>

#include "structs/errors.hpp"
#include "tui/terminal.hpp"
#include "ui/app_state.hpp"
#include "ui/validation.hpp"

namespace kestrel::ui {

// How long one turn waits for a key before the next frame is drawn.
inline constexpr std::chrono::milliseconds kPollTimeout{16};

// Runs the loop on `app` until quit_requested is set after a key, or until a
// termination signal has been recorded (success either way).
// Ends at once with a report owning the error when build_lists fails before
// the first frame, when the terminal fails to draw or read, or when a key
// action fails while the interface holds no ConnectionInfo.
std::expected<void, Report> run_ui(tui::Terminal& terminal, AppState& app);

// One key press, by the key table: Enter validates (ignored while Scanning),
// Left/h and Right/l move the focus, Up/k and Down/j move a selection or step
// an input, Esc and q quit; other keys, upper-case letters included, do
// nothing. A failed action is stored in the error cell of the interface's
// ConnectionInfo, replacing what it held, and the screen becomes Failure.
std::expected<void, Report> handle_key(AppState& app, tui::Key key,
                                       const ScanSpawner& spawn = spawn_scan_thread,
                                       const std::filesystem::path& config_path = "config.toml");

// A terminal failure as the I/O error that a report carries.
IoError terminal_io_error(const tui::TerminalError& error);

}  // namespace kestrel::ui
