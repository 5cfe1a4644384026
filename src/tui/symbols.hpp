#pragma once
// Glyphs shared by the widgets.

#include <string_view>

namespace kestrel::tui {

// Box-drawing characters of one line style.
struct LineSet {
  std::string_view vertical;
  std::string_view horizontal;
  std::string_view top_right;
  std::string_view top_left;
  std::string_view bottom_right;
  std::string_view bottom_left;
  std::string_view vertical_left;
  std::string_view vertical_right;
  std::string_view horizontal_down;
  std::string_view horizontal_up;
  std::string_view cross;
  bool operator==(const LineSet&) const = default;
};

// The plain single-line set: │ ─ ┐ ┌ ┘ └ ┤ ├ ┬ ┴ ┼.
inline constexpr LineSet kNormalLines{"│", "─", "┐", "┌", "┘", "└", "┤", "├", "┬", "┴", "┼"};

// The chart's point marker.
inline constexpr std::string_view kDot = "•";

}  // namespace kestrel::tui
