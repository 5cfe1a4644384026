#include "ui/event_loop.hpp"

#include <utility>

#include "ui/draw.hpp"
#include "ui/key_actions.hpp"
#include "ui/shell_crash.hpp"

namespace kestrel::ui {

namespace {

// The letters that stand for keys: h, j, k, l for the arrows and q for Esc.
// Compared exactly, so "Q" or "H" is no key of the table.
tui::KeyCode twin_of(char32_t ch) {
  switch (ch) {
    case U'h':
      return tui::KeyCode::Left;
    case U'l':
      return tui::KeyCode::Right;
    case U'k':
      return tui::KeyCode::Up;
    case U'j':
      return tui::KeyCode::Down;
    case U'q':
      return tui::KeyCode::Esc;
    default:
      return tui::KeyCode::Other;
  }
}

}  // namespace

IoError terminal_io_error(const tui::TerminalError& error) {
  return IoError::custom(IoErrorKind::Other, error.message);
}

std::expected<void, Report> handle_key(AppState& app, tui::Key key, const ScanSpawner& spawn,
                                       const std::filesystem::path& config_path) {
  const tui::KeyCode code = key.code == tui::KeyCode::Char ? twin_of(key.ch) : key.code;
  std::expected<void, UiError> done;
  switch (code) {
    case tui::KeyCode::Enter:
      if (app.ui_state != Screen::Scanning) {
        done = validate_configuration(app, spawn, config_path);
      }
      break;
    case tui::KeyCode::Left:
      done = on_horizontal_key(app, Direction::Left);
      break;
    case tui::KeyCode::Right:
      done = on_horizontal_key(app, Direction::Right);
      break;
    case tui::KeyCode::Up:
      on_vertical_key(app, Direction::Up);
      break;
    case tui::KeyCode::Down:
      on_vertical_key(app, Direction::Down);
      break;
    case tui::KeyCode::Esc:
      app.quit_requested = true;
      break;
    case tui::KeyCode::Char:
    case tui::KeyCode::Other:
      break;
  }
  if (done) {
    return {};
  }
  auto info = connection_info_of(app);
  if (!info) {
    return std::unexpected(Report(std::move(info.error())));
  }
  info->get().set_error_raised(std::move(done.error()));
  app.ui_state = Screen::Failure;
  return {};
}

std::expected<void, Report> run_ui(tui::Terminal& terminal, AppState& app) {
  if (auto built = build_lists(app); !built) {
    return std::unexpected(Report(std::move(built.error())));
  }
  for (;;) {
    if (shell::termination_signal() != 0) {
      return {};  // the shut-down runs, then the process ends by the signal
    }
    if (auto drawn = draw_ui(terminal, app); !drawn) {
      return std::unexpected(Report(terminal_io_error(drawn.error())));
    }
    auto key = terminal.read_key(kPollTimeout);
    if (!key) {
      return std::unexpected(Report(terminal_io_error(key.error())));
    }
    if (!*key) {
      continue;  // no key within the time-out: the next frame
    }
    if (auto handled = handle_key(app, **key); !handled) {
      return std::unexpected(std::move(handled.error()));
    }
    if (app.quit_requested) {
      return {};
    }
  }
}

}  // namespace kestrel::ui
