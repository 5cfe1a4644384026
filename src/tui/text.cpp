#include "tui/text.hpp"

namespace kestrel::tui {
std::size_t display_width(std::string_view) {
  return 0;
}
std::size_t Line::width() const {
  return 0;
}
std::vector<Line> split_lines(std::string_view) {
  return {};
}
}  // namespace kestrel::tui
