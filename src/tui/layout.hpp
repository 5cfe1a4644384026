#pragma once
// Splits a Rect into consecutive areas along one axis, one area per
// constraint, with no margin and no spacing.
//
// Sizing, over the length L of the axis being divided:
//   Length(n)     wants n cells;
//   Percentage(p) wants floor(L * p / 100) cells (p above 100 counts as 100);
//   Min(n)        wants at least n cells.
// When the wants exceed L, Percentage areas shrink first (sharing the loss in
// proportion to their size), then Length areas, then Min areas, until the
// areas fit. Space left over goes to the Min areas, shared equally (earlier
// areas take the odd cells); with no Min area it stays blank at the end.
// Rounding uses largest remainders with ties to the earlier area, so a split
// is deterministic; areas never overlap and never leave the parent.

#include <cstdint>
#include <vector>

#include "tui/rect.hpp"

namespace kestrel::tui {

struct Constraint {
  enum class Kind : std::uint8_t { Length, Min, Percentage };
  Kind kind;
  std::uint16_t value;
  bool operator==(const Constraint&) const = default;
};

constexpr Constraint Length(std::uint16_t n) {
  return {Constraint::Kind::Length, n};
}
constexpr Constraint Min(std::uint16_t n) {
  return {Constraint::Kind::Min, n};
}
constexpr Constraint Percentage(std::uint16_t p) {
  return {Constraint::Kind::Percentage, p};
}

class Layout {
 public:
  // Areas stacked top to bottom (full width) or left to right (full height).
  static Layout vertical(std::vector<Constraint> constraints);
  static Layout horizontal(std::vector<Constraint> constraints);

  // Exactly one Rect per constraint, in order.
  std::vector<Rect> split(Rect area) const;

 private:
  Layout(bool vertical, std::vector<Constraint> constraints)
      : vertical_(vertical), constraints_(std::move(constraints)) {}
  bool vertical_;
  std::vector<Constraint> constraints_;
};

}  // namespace kestrel::tui
