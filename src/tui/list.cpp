#include "tui/list.hpp"

#include <algorithm>
#include <limits>

namespace kestrel::tui {

void ListState::select_next() {
  selected =
      selected ? (*selected == std::numeric_limits<std::size_t>::max() ? *selected : *selected + 1)
               : 0;
}

void ListState::select_previous() {
  selected =
      selected ? (*selected == 0 ? 0 : *selected - 1) : std::numeric_limits<std::size_t>::max();
}

void ListState::select(std::optional<std::size_t> index) {
  selected = index;
  if (!index)
    offset = 0;
}

void List::render(Rect area, Buffer& buf, ListState& state) const {
  buf.set_style(area, style_);
  Rect inner = area;
  if (block_) {
    block_->render(area, buf);
    inner = Block::inner(area);
  }
  if (inner.is_empty())
    return;
  if (items_.empty()) {
    state.select(std::nullopt);
    return;
  }
  const std::size_t last = items_.size() - 1;
  if (state.selected && *state.selected > last)
    state.selected = last;
  const std::size_t rows = inner.bottom() - inner.top();
  state.offset = std::min(state.offset, last);
  if (state.selected) {
    const std::size_t sel = *state.selected;
    if (sel < state.offset)
      state.offset = sel;
    if (sel >= state.offset + rows)
      state.offset = sel - rows + 1;
  }
  const std::uint16_t width = inner.right() - inner.left();
  for (std::size_t i = state.offset; i < items_.size() && i - state.offset < rows; ++i) {
    const auto y = static_cast<std::uint16_t>(inner.top() + (i - state.offset));
    buf.set_string(inner.left(), y, items_[i], {}, width);
    if (state.selected == i)
      buf.set_style(Rect{inner.left(), y, width, 1}, highlight_style_);
  }
}

}  // namespace kestrel::tui
