#include "ui/key_actions.hpp"

#include <utility>

namespace kestrel::ui {

namespace {

NumberInput* focused_input(AppState& app) {
  switch (app.focused_widget) {
    case 0:
      return &app.start_input;
    case 1:
      return &app.stop_input;
    case 2:
      return &app.points_input;
    case 3:
      return &app.repeat_input;
    default:
      return nullptr;
  }
}

}  // namespace

void on_vertical_key(AppState& app, Direction direction) {
  if (direction != Direction::Up && direction != Direction::Down)
    return;
  switch (app.ui_state) {
    case Screen::Selection: {
      tui::ListState& state = app.focused_widget == 0 ? app.port_list.state : app.baud_list.state;
      if (direction == Direction::Up) {
        state.select_previous();
      } else {
        state.select_next();
      }
      break;
    }
    case Screen::Parameters:
      if (NumberInput* input = focused_input(app))
        step_input(*input, direction);
      break;
    case Screen::Results:
    case Screen::Scanning:
    case Screen::Failure:
      break;
  }
}

std::expected<void, UiError> on_horizontal_key(AppState& app, Direction direction) {
  const bool right = direction == Direction::Right;
  const bool left = direction == Direction::Left;
  if (app.ui_state == Screen::Selection) {
    if (right)
      app.focused_widget = 1;
    if (left)
      app.focused_widget = 0;
  } else if (app.ui_state == Screen::Parameters) {
    if (right && app.focused_widget < 3)
      ++app.focused_widget;
    if (left && app.focused_widget > 0)
      --app.focused_widget;
  }
  return build_lists(app);
}

std::expected<void, UiError> build_lists(AppState& app) {
  if (app.ui_state != Screen::Selection)
    return {};
  const bool ports_focused = app.focused_widget == 0;
  const tui::Color port_colour = ports_focused ? tui::Color::White : tui::Color::DarkGray;
  const tui::Color baud_colour = ports_focused ? tui::Color::DarkGray : tui::Color::White;
  if (!app.port_list_widget)
    return std::unexpected(UiError::uninitialized("Port List"));
  if (!app.baud_list_widget)
    return std::unexpected(UiError::uninitialized("Baudrate List"));
  app.port_list_widget =
      make_list_widget("COM Ports", std::move(*app.port_list_widget), port_colour);
  app.baud_list_widget =
      make_list_widget("Baudrate", std::move(*app.baud_list_widget), baud_colour);
  return {};
}

}  // namespace kestrel::ui
