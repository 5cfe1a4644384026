#include "tui/layout.hpp"

namespace kestrel::tui {
Layout Layout::vertical(std::vector<Constraint> c) {
  return Layout(true, std::move(c));
}
Layout Layout::horizontal(std::vector<Constraint> c) {
  return Layout(false, std::move(c));
}
std::vector<Rect> Layout::split(Rect area) const {
  return std::vector<Rect>(constraints_.size(), Rect{area.x, area.y, 0, 0});
}
}  // namespace kestrel::tui
