#pragma once
// A box around an area: all four borders in the plain line set, with an
// optional title on the top border.

#include <string>

#include "tui/buffer.hpp"
#include "tui/rect.hpp"
#include "tui/style.hpp"

namespace kestrel::tui {

class Block {
 public:
  // The title is drawn on the top border from the column after the corner,
  // cut before the right corner, in the style already in those cells.
  Block& title(std::string text) {
    title_ = std::move(text);
    return *this;
  }
  // Patched over the border cells (the title's cells included).
  Block& border_style(Style s) {
    border_style_ = s;
    return *this;
  }

  const std::string& title() const { return title_; }
  const Style& border_style() const { return border_style_; }

  // The area inside the borders: one cell less on every side (never
  // negative, always inside `area`).
  static Rect inner(Rect area);

  // Draws the borders and the title, clipped to `area` and to the buffer.
  void render(Rect area, Buffer& buf) const;

  bool operator==(const Block&) const = default;

 private:
  std::string title_;
  Style border_style_;
};

}  // namespace kestrel::tui
