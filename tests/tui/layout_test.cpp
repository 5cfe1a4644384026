#include "tui/layout.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace kestrel::tui {
namespace {

std::vector<std::uint16_t> widths(const std::vector<Rect>& areas) {
  std::vector<std::uint16_t> out;
  for (const Rect& r : areas)
    out.push_back(r.width);
  return out;
}

std::vector<std::uint16_t> heights(const std::vector<Rect>& areas) {
  std::vector<std::uint16_t> out;
  for (const Rect& r : areas)
    out.push_back(r.height);
  return out;
}

using V = std::vector<std::uint16_t>;

// The screen layouts at 80 x 24 (and the wide screen at 200 columns).
TEST(Layout, ReferenceScreens) {
  const Rect screen{0, 0, 80, 24};
  EXPECT_EQ(heights(Layout::vertical({Length(2), Min(10), Length(1)}).split(screen)),
            (V{2, 21, 1}));
  const auto lists =
      Layout::horizontal({Min(7), Percentage(50), Percentage(50), Min(7)}).split(screen);
  EXPECT_EQ(widths(lists), (V{7, 33, 33, 7}));
  EXPECT_EQ(lists[1].x, 7);
  EXPECT_EQ(lists[2].x, 40);
  EXPECT_EQ(lists[2].right(), 73);

  EXPECT_EQ(heights(Layout::vertical({Length(2), Length(3), Min(0), Length(1)}).split(screen)),
            (V{2, 3, 18, 1}));
  const auto inputs = Layout::horizontal({Min(7), Percentage(25), Percentage(25), Percentage(25),
                                          Percentage(25), Min(7)})
                          .split(screen);
  EXPECT_EQ(widths(inputs), (V{7, 17, 17, 16, 16, 7}));

  const auto columns = Layout::horizontal({Min(7), Percentage(90), Min(7)});
  EXPECT_EQ(widths(columns.split(screen)), (V{7, 66, 7}));
  EXPECT_EQ(widths(columns.split(Rect{0, 0, 200, 24})), (V{10, 180, 10}));
  EXPECT_EQ(
      heights(
          Layout::vertical({Length(3), Length(1), Min(10), Length(1), Length(1)}).split(screen)),
      (V{3, 1, 18, 1, 1}));
  EXPECT_EQ(
      heights(Layout::vertical({Length(1), Length(3), Length(1), Min(10), Length(1), Length(1)})
                  .split(screen)),
      (V{1, 3, 1, 17, 1, 1}));
}

TEST(Layout, SharesSpaceAndLoss) {
  const Rect r{0, 0, 10, 1};
  // Without a Min area the rest stays blank at the end.
  EXPECT_EQ(widths(Layout::horizontal({Length(3), Percentage(20)}).split(r)), (V{3, 2}));
  // Spare cells are shared equally by the Min areas, the first takes the odd one.
  EXPECT_EQ(widths(Layout::horizontal({Min(0), Length(3), Min(0)}).split(r)), (V{4, 3, 3}));
  // Percentages give way first, then lengths, then the minimums.
  EXPECT_EQ(widths(Layout::horizontal({Length(6), Percentage(50), Min(2)}).split(r)), (V{6, 2, 2}));
  EXPECT_EQ(widths(Layout::horizontal({Length(6), Percentage(50), Min(8)}).split(r)), (V{2, 0, 8}));
  EXPECT_EQ(widths(Layout::horizontal({Min(8), Min(8)}).split(r)), (V{5, 5}));
  // Percentages above 100 count as 100.
  EXPECT_EQ(widths(Layout::horizontal({Percentage(250)}).split(r)), (V{10}));
}

TEST(Layout, StaysInsideTheParentAtEverySize) {
  const std::vector<std::vector<Constraint>> layouts = {
      {Length(2), Min(10), Length(1)},
      {Min(7), Percentage(50), Percentage(50), Min(7)},
      {Min(7), Percentage(25), Percentage(25), Percentage(25), Percentage(25), Min(7)},
      {Length(1), Length(3), Length(1), Min(10), Length(1), Length(1)},
      {Percentage(33), Percentage(33), Percentage(34)},
  };
  for (const auto& constraints : layouts) {
    for (std::uint16_t size = 0; size <= 120; ++size) {
      const Rect parent{5, 3, size, static_cast<std::uint16_t>(size / 2)};
      // Areas follow each other from the parent's start, across its whole
      // other side, and end inside it.
      std::uint32_t x = parent.x, y = parent.y;
      for (const Rect& a : Layout::horizontal(constraints).split(parent)) {
        EXPECT_EQ(a, (Rect{static_cast<std::uint16_t>(x), parent.y, a.width, parent.height}));
        x += a.width;
      }
      for (const Rect& a : Layout::vertical(constraints).split(parent)) {
        EXPECT_EQ(a, (Rect{parent.x, static_cast<std::uint16_t>(y), parent.width, a.height}));
        y += a.height;
      }
      EXPECT_LE(x, parent.right()) << "width " << size;
      EXPECT_LE(y, parent.bottom()) << "height " << size / 2;
    }
  }
  // Same input, same output.
  const auto l = Layout::horizontal({Percentage(33), Percentage(33), Percentage(34)});
  EXPECT_EQ(l.split(Rect{0, 0, 7, 1}), l.split(Rect{0, 0, 7, 1}));
}

}  // namespace
}  // namespace kestrel::tui
