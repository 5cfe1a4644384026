#pragma once
// A rectangle of terminal cells: column x, row y (0 at the top left) and a
// size in cells. Edges saturate at 65535, so a Rect never wraps around.

#include <algorithm>
#include <cstdint>

namespace kestrel::tui {

struct Rect {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;

  constexpr std::uint32_t area() const { return std::uint32_t{width} * height; }
  constexpr bool is_empty() const { return width == 0 || height == 0; }

  constexpr std::uint16_t left() const { return x; }
  constexpr std::uint16_t top() const { return y; }
  // One past the last column / row.
  constexpr std::uint16_t right() const {
    return static_cast<std::uint16_t>(std::min<std::uint32_t>(std::uint32_t{x} + width, 0xFFFF));
  }
  constexpr std::uint16_t bottom() const {
    return static_cast<std::uint16_t>(std::min<std::uint32_t>(std::uint32_t{y} + height, 0xFFFF));
  }

  constexpr bool contains(std::uint16_t col, std::uint16_t row) const {
    return col >= left() && col < right() && row >= top() && row < bottom();
  }

  // The cells both rectangles cover; an empty Rect when they do not meet.
  constexpr Rect intersection(const Rect& other) const {
    const std::uint16_t l = std::max(left(), other.left());
    const std::uint16_t t = std::max(top(), other.top());
    const std::uint16_t r = std::max(l, std::min(right(), other.right()));
    const std::uint16_t b = std::max(t, std::min(bottom(), other.bottom()));
    return Rect{l, t, static_cast<std::uint16_t>(r - l), static_cast<std::uint16_t>(b - t)};
  }

  bool operator==(const Rect&) const = default;
};

}  // namespace kestrel::tui
