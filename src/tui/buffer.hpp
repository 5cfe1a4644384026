#pragma once
// A grid of cells covering a Rect. Widgets draw into a Buffer; only the
// Terminal copies one to the screen.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tui/rect.hpp"
#include "tui/style.hpp"
#include "tui/text.hpp"

namespace kestrel::tui {

// One terminal cell: the UTF-8 text shown in it (one character, perhaps with
// combining marks) and its style. A wide character sits in the left cell of
// its two; the right one holds an empty symbol.
struct Cell {
  std::string symbol = " ";
  Style style;
  bool operator==(const Cell&) const = default;
};

class Buffer {
 public:
  // A blank buffer (spaces, default style) over `area`.
  explicit Buffer(Rect area = {});

  const Rect& area() const { return area_; }

  // The cell at absolute column x, row y; the position must lie inside area().
  Cell& at(std::uint16_t x, std::uint16_t y) { return cells_[index(x, y)]; }
  const Cell& at(std::uint16_t x, std::uint16_t y) const { return cells_[index(x, y)]; }

  // Patches `style` over every cell of `area` that lies inside the buffer.
  void set_style(Rect area, const Style& style);

  // Writes `text` on row y from column x, at most `max_width` columns and never
  // past the buffer's right edge; each written cell gets `style` patched over
  // its own. Control characters are skipped (a line feed too), invalid UTF-8 is
  // drawn as U+FFFD, a wide character that does not fit whole is left out.
  // Returns the column after the last one written (x when nothing was).
  std::uint16_t set_string(std::uint16_t x, std::uint16_t y, std::string_view text,
                           const Style& style, std::uint16_t max_width = 0xFFFF);

  // Writes the spans of `line` one after the other, as set_string does.
  std::uint16_t set_line(std::uint16_t x, std::uint16_t y, const Line& line,
                         std::uint16_t max_width = 0xFFFF);

  // Blank every cell again.
  void reset();

  bool operator==(const Buffer&) const = default;

 private:
  std::size_t index(std::uint16_t x, std::uint16_t y) const {
    return std::size_t{static_cast<std::uint16_t>(y - area_.y)} * area_.width +
           static_cast<std::uint16_t>(x - area_.x);
  }
  Rect area_;
  std::vector<Cell> cells_;
};

// The buffer's text, one string per row (continuation cells of wide
// characters add nothing). Meant for tests that compare pictures.
std::vector<std::string> buffer_rows(const Buffer& buffer);

}  // namespace kestrel::tui
