#include "ui/app_state.hpp"

#include <utility>

#include "tui/block.hpp"

namespace kestrel::ui {

std::expected<std::reference_wrapper<const ConnectionInfo>, UiError> connection_info_of(
    const AppState& app) {
  using Result = std::expected<std::reference_wrapper<const ConnectionInfo>, UiError>;
  if (!app.connection_info)
    return Result(std::unexpect, ui_error::NoConnectionInfoCreated{});
  return std::cref(*app.connection_info);
}

tui::List make_list_widget(std::string title, tui::List widget, tui::Color colour) {
  const tui::Style style = tui::Style().fg(colour);
  tui::Block block;
  block.title(std::move(title)).border_style(style);
  widget.block(std::move(block)).style(style);
  return widget;
}

}  // namespace kestrel::ui
