#pragma once
// A selectable list: one item per row, the selected row highlighted, scrolled
// so that the selection stays visible. The selection lives in a ListState that
// the caller keeps between frames.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tui/block.hpp"
#include "tui/buffer.hpp"

namespace kestrel::tui {

struct ListState {
  std::optional<std::size_t> selected;  // index into the items, if any
  std::size_t offset = 0;               // index of the first item shown

  // No selection becomes 0; i becomes i + 1, except that SIZE_MAX stays.
  // Does not look at the number of items; offset is left alone.
  void select_next();
  // No selection becomes SIZE_MAX; i becomes i - 1, except that 0 stays 0.
  // Does not look at the number of items; offset is left alone.
  void select_previous();
  // Sets the selection; clearing it also returns the offset to 0.
  void select(std::optional<std::size_t> index);

  bool operator==(const ListState&) const = default;
};

class List {
 public:
  List() = default;
  explicit List(std::vector<std::string> items) : items_(std::move(items)) {}

  // Replaces the block (nullopt removes it).
  List& block(std::optional<Block> b) {
    block_ = std::move(b);
    return *this;
  }
  // Base style, patched over the whole area before anything else is drawn.
  List& style(Style s) {
    style_ = s;
    return *this;
  }
  // Patched over the selected row, across the whole inner width.
  List& highlight_style(Style s) {
    highlight_style_ = s;
    return *this;
  }

  const std::vector<std::string>& items() const { return items_; }
  const std::optional<Block>& block() const { return block_; }
  const Style& style() const { return style_; }
  const Style& highlight_style() const { return highlight_style_; }

  // Draws the list into `area` and settles `state` first, unless the area
  // inside the block is empty (then the state is left untouched):
  //   - no items: the selection is cleared and the offset returns to 0;
  //   - a selection at or past the items moves to the last item;
  //   - the offset (at most the last item) moves just enough to show the
  //     selected row.
  void render(Rect area, Buffer& buf, ListState& state) const;

  bool operator==(const List&) const = default;

 private:
  std::vector<std::string> items_;
  std::optional<Block> block_;
  Style style_;
  Style highlight_style_;
};

}  // namespace kestrel::tui
