#pragma once
// What the arrow keys (and h, j, k, l) do to the interface state.

#include <expected>

#include "structs/errors.hpp"
#include "ui/app_state.hpp"
#include "ui_struct/direction.hpp"

namespace kestrel::ui {

// Up or Down: on Selection moves the focused list's selection (Up to the
// previous item, Down to the next); on Parameters steps the focused input.
// Does nothing on the other screens, and for Left or Right.
void on_vertical_key(AppState& app, Direction direction);

// Right or Left: moves the focus within the screen (Selection: 0 or 1;
// Parameters: 0 to 3, stopping at the ends), then runs build_lists, whose
// error is the result. The focus move stays when build_lists fails.
std::expected<void, UiError> on_horizontal_key(AppState& app, Direction direction);

// On Selection, restyles the two list widgets by the focus: the focused one
// white, the other dark grey ("COM Ports" and "Baudrate"). Does nothing on
// other screens. UninitializedItemList when a widget is absent, leaving both
// as they were.
std::expected<void, UiError> build_lists(AppState& app);

}  // namespace kestrel::ui
