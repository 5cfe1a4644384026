#pragma once
// Lines of text in an area, optionally inside a Block. Drawn in this order:
// the paragraph's style over the whole area, the block, then one line per row
// from the top, left-aligned or centred. No wrapping: a line is cut at the
// right edge of the inner area, and lines below its last row are not shown.

#include <optional>
#include <string_view>
#include <vector>

#include "tui/block.hpp"
#include "tui/buffer.hpp"
#include "tui/text.hpp"

namespace kestrel::tui {

class Paragraph {
 public:
  // The text is split into lines at each line feed.
  explicit Paragraph(std::string_view text) : lines_(split_lines(text)) {}
  explicit Paragraph(std::vector<Line> lines) : lines_(std::move(lines)) {}

  Paragraph& block(Block b) {
    block_ = std::move(b);
    return *this;
  }
  Paragraph& style(Style s) {
    style_ = s;
    return *this;
  }
  // Left or Center (Right also works). A centred line wider than the area is
  // shown from its start and cut at the right.
  Paragraph& alignment(Alignment a) {
    alignment_ = a;
    return *this;
  }

  void render(Rect area, Buffer& buf) const;

 private:
  std::vector<Line> lines_;
  std::optional<Block> block_;
  Style style_;
  Alignment alignment_ = Alignment::Left;
};

}  // namespace kestrel::tui
