#include "tui/buffer.hpp"

#include <algorithm>

#include "tui/glyphs.hpp"

namespace kestrel::tui {

namespace {
// Combining marks kept per cell; the terminal can show no more.
constexpr std::size_t kMaxMarks = 4;

std::size_t mark_count(const std::string& symbol) {
  std::size_t count = 0;
  detail::GlyphReader reader(symbol);
  while (const auto g = reader.next())
    count += g->width == 0 ? 1 : 0;
  return count;
}
}  // namespace

Buffer::Buffer(Rect area) : area_(area), cells_(area.area()) {}

void Buffer::set_style(Rect area, const Style& style) {
  const Rect r = area_.intersection(area);
  for (std::uint16_t y = r.top(); y < r.bottom(); ++y) {
    for (std::uint16_t x = r.left(); x < r.right(); ++x) {
      Cell& c = at(x, y);
      c.style = c.style.patch(style);
    }
  }
}

std::uint16_t Buffer::set_string(std::uint16_t x, std::uint16_t y, std::string_view text,
                                 const Style& style, std::uint16_t max_width) {
  if (y < area_.top() || y >= area_.bottom() || x < area_.left())
    return x;
  const std::uint32_t limit = std::min<std::uint32_t>(area_.right(), std::uint32_t{x} + max_width);
  std::uint32_t col = x;
  Cell* last = nullptr;  // the cell of the last character written, for marks
  detail::GlyphReader reader(text);
  while (const auto g = reader.next()) {
    if (g->width == 0) {
      if (last != nullptr && mark_count(last->symbol) < kMaxMarks)
        last->symbol.append(g->bytes);
      continue;
    }
    if (col + g->width > limit)
      break;
    Cell& c = at(static_cast<std::uint16_t>(col), y);
    // Overwriting half of a wide character blanks its other half.
    if (c.symbol.empty() && col > area_.left())
      at(static_cast<std::uint16_t>(col - 1), y).symbol = " ";
    const std::uint32_t after = col + g->width;
    if (after < area_.right() && at(static_cast<std::uint16_t>(after), y).symbol.empty()) {
      at(static_cast<std::uint16_t>(after), y).symbol = " ";
    }
    c.symbol.assign(g->bytes);
    c.style = c.style.patch(style);
    for (std::uint32_t i = 1; i < g->width; ++i) {
      Cell& rest = at(static_cast<std::uint16_t>(col + i), y);
      rest.symbol.clear();
      rest.style = rest.style.patch(style);
    }
    last = &c;
    col += g->width;
  }
  return static_cast<std::uint16_t>(col);
}

std::uint16_t Buffer::set_line(std::uint16_t x, std::uint16_t y, const Line& line,
                               std::uint16_t max_width) {
  std::uint16_t col = x;
  for (const Span& span : line.spans) {
    const auto used = static_cast<std::uint16_t>(col - x);
    if (used >= max_width)
      break;
    col =
        set_string(col, y, span.content, span.style, static_cast<std::uint16_t>(max_width - used));
  }
  return col;
}

void Buffer::reset() {
  std::fill(cells_.begin(), cells_.end(), Cell{});
}

std::vector<std::string> buffer_rows(const Buffer& buffer) {
  const Rect a = buffer.area();
  std::vector<std::string> rows;
  rows.reserve(a.height);
  for (std::uint16_t y = a.top(); y < a.bottom(); ++y) {
    std::string row;
    for (std::uint16_t x = a.left(); x < a.right(); ++x)
      row += buffer.at(x, y).symbol;
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace kestrel::tui
