#include "tui/paragraph.hpp"

namespace kestrel::tui {

void Paragraph::render(Rect area, Buffer& buf) const {
  buf.set_style(area, style_);
  Rect text_area = area;
  if (block_) {
    block_->render(area, buf);
    text_area = Block::inner(area);
  }
  const std::uint16_t width = text_area.right() - text_area.left();
  std::uint16_t y = text_area.top();
  for (const Line& line : lines_) {
    if (y >= text_area.bottom())
      break;
    const std::size_t line_width = line.width();
    std::uint16_t indent = 0;
    if (line_width < width && alignment_ != Alignment::Left) {
      const auto spare = static_cast<std::uint16_t>(width - line_width);
      indent = alignment_ == Alignment::Center ? spare / 2 : spare;
    }
    buf.set_line(static_cast<std::uint16_t>(text_area.left() + indent), y, line,
                 static_cast<std::uint16_t>(width - indent));
    ++y;
  }
}

}  // namespace kestrel::tui
