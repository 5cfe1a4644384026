#include "tui/block.hpp"

#include "tui/symbols.hpp"

namespace kestrel::tui {

Rect Block::inner(Rect area) {
  const std::uint16_t w = area.right() - area.left();
  const std::uint16_t h = area.bottom() - area.top();
  const auto dx = static_cast<std::uint16_t>(w > 0 ? 1 : 0);
  const auto dy = static_cast<std::uint16_t>(h > 0 ? 1 : 0);
  return Rect{static_cast<std::uint16_t>(area.x + dx), static_cast<std::uint16_t>(area.y + dy),
              static_cast<std::uint16_t>(w > 2 ? w - 2 : 0),
              static_cast<std::uint16_t>(h > 2 ? h - 2 : 0)};
}

void Block::render(Rect area, Buffer& buf) const {
  if (area.is_empty())
    return;
  const Style& s = border_style_;
  const std::uint16_t last_col = area.right() - 1;
  const std::uint16_t last_row = area.bottom() - 1;
  auto put = [&](std::uint16_t x, std::uint16_t y, std::string_view symbol) {
    if (buf.area().contains(x, y))
      buf.set_string(x, y, symbol, s, 1);
  };
  for (std::uint16_t x = area.left(); x <= last_col; ++x) {
    put(x, area.top(), kNormalLines.horizontal);
    put(x, last_row, kNormalLines.horizontal);
  }
  for (std::uint16_t y = area.top(); y <= last_row; ++y) {
    put(area.left(), y, kNormalLines.vertical);
    put(last_col, y, kNormalLines.vertical);
  }
  put(area.left(), area.top(), kNormalLines.top_left);
  put(last_col, area.top(), kNormalLines.top_right);
  put(area.left(), last_row, kNormalLines.bottom_left);
  put(last_col, last_row, kNormalLines.bottom_right);
  if (area.right() - area.left() > 2) {
    buf.set_string(static_cast<std::uint16_t>(area.left() + 1), area.top(), title_, {},
                   static_cast<std::uint16_t>(area.right() - area.left() - 2));
  }
}

}  // namespace kestrel::tui
