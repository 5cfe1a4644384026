#include "tui/block.hpp"

namespace kestrel::tui {
Rect Block::inner(Rect area) {
  return area;
}
void Block::render(Rect, Buffer&) const {}
}  // namespace kestrel::tui
