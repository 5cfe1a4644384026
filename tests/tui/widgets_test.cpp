#include <gtest/gtest.h>

#include <limits>

#include "tui/block.hpp"
#include "tui/chart.hpp"
#include "tui/line_gauge.hpp"
#include "tui/list.hpp"
#include "tui/paragraph.hpp"

namespace kestrel::tui {
namespace {

using Rows = std::vector<std::string>;
constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();

const Style kWhite = Style{}.fg(Color::White);

// Renders `draw` into a w x h buffer framed by a border of '#' cells, wide
// enough to catch a write a few cells past the area, and checks that nothing
// outside the area was touched.
template <class Draw>
Rows render_framed(std::uint16_t w, std::uint16_t h, Draw&& draw) {
  constexpr std::uint16_t kFrame = 3;
  const auto outer_w = static_cast<std::uint16_t>(w + 2 * kFrame);
  const auto outer_h = static_cast<std::uint16_t>(h + 2 * kFrame);
  Buffer b(Rect{0, 0, outer_w, outer_h});
  for (std::uint16_t y = 0; y < outer_h; ++y) {
    for (std::uint16_t x = 0; x < outer_w; ++x)
      b.at(x, y).symbol = "#";
  }
  const Rect area{kFrame, kFrame, w, h};
  draw(area, b);
  for (std::uint16_t y = 0; y < outer_h; ++y) {
    for (std::uint16_t x = 0; x < outer_w; ++x) {
      if (!area.contains(x, y)) {
        EXPECT_EQ(b.at(x, y).symbol, "#") << "drawn outside at " << x << "," << y;
      }
    }
  }
  return buffer_rows(b);
}

TEST(Block, BordersTitleAndInner) {
  Buffer b(Rect{0, 0, 10, 3});
  Block().title("Operation").border_style(kWhite).render(b.area(), b);
  EXPECT_EQ(buffer_rows(b), (Rows{"┌Operatio┐", "│        │", "└────────┘"}));
  EXPECT_EQ(b.at(0, 0).style, kWhite);
  EXPECT_EQ(b.at(3, 0).style, kWhite);  // title cells keep the border style
  EXPECT_EQ(b.at(3, 1).style, Style{});
  EXPECT_EQ(Block::inner(Rect{2, 3, 10, 3}), (Rect{3, 4, 8, 1}));
  EXPECT_EQ(Block::inner(Rect{2, 3, 1, 1}), (Rect{3, 4, 0, 0}));
  EXPECT_EQ(Block::inner(Rect{2, 3, 0, 0}), (Rect{2, 3, 0, 0}));
}

TEST(Paragraph, StyleBlockThenLines) {
  Buffer b(Rect{0, 0, 12, 4});
  Paragraph("TinySA v0.3\nsecond line is cut\nthird\nfourth")
      .block(Block().title("Info"))
      .style(kWhite)
      .render(b.area(), b);
  EXPECT_EQ(buffer_rows(b), (Rows{"┌Info──────┐", "│TinySA v0.│", "│second lin│", "└──────────┘"}));
  // The paragraph's colour covers border, title, text and blanks alike.
  for (std::uint16_t y = 0; y < 4; ++y) {
    for (std::uint16_t x = 0; x < 12; ++x)
      EXPECT_EQ(b.at(x, y).style, kWhite);
  }
}

TEST(Paragraph, CentredAndWithoutBlock) {
  Buffer b(Rect{0, 0, 9, 2});
  Paragraph("↲ ok\nmuch too long").alignment(Alignment::Center).render(b.area(), b);
  EXPECT_EQ(buffer_rows(b), (Rows{"  ↲ ok   ", "much too "}));
  b.reset();
  Paragraph(std::vector<Line>{Line(std::vector<Span>{{"a", {}}, {"b", kWhite}})})
      .render(Rect{3, 1, 6, 1}, b);
  EXPECT_EQ(buffer_rows(b), (Rows{"         ", "   ab    "}));
  EXPECT_EQ(b.at(4, 1).style, kWhite);
}

TEST(Paragraph, InstrumentTextCannotEscape) {
  Buffer b(Rect{0, 0, 20, 2});
  Paragraph(
      "tinySA\x1b[2J\x1b]52;c;ZXZpbA==\x07\r\nHW\x1b"
      "c")
      .render(b.area(), b);
  EXPECT_EQ(buffer_rows(b), (Rows{"tinySA[2J]52;c;ZXZpb", "HWc                 "}));
}

TEST(ListState, SelectNextAndPrevious) {
  ListState s;
  s.select_next();
  EXPECT_EQ(s.selected, 0u);
  s.select_next();
  EXPECT_EQ(s.selected, 1u);
  s.select_previous();
  s.select_previous();
  EXPECT_EQ(s.selected, 0u);
  s.select(std::nullopt);
  s.select_previous();
  EXPECT_EQ(s.selected, kMax);
  s.select_next();
  EXPECT_EQ(s.selected, kMax);
  s.offset = 4;
  s.select_next();
  EXPECT_EQ(s.offset, 4u);  // moves leave the offset alone
  s.select(std::nullopt);
  EXPECT_EQ(s, ListState{});
}

List port_list(std::vector<std::string> items) {
  List l(std::move(items));
  l.block(Block().title("COM Ports").border_style(kWhite))
      .style(kWhite)
      .highlight_style(Style{}.bg(Color::Blue).add_modifier(Modifier::Italic));
  return l;
}

TEST(List, DrawsAndHighlightsTheSelectedRow) {
  Buffer b(Rect{0, 0, 12, 4});
  ListState s{1, 0};
  port_list({"/dev/ttyACM0", "COM3", "COM5"}).render(b.area(), b, s);
  EXPECT_EQ(buffer_rows(b), (Rows{"┌COM Ports─┐", "│/dev/ttyAC│", "│COM3      │", "└──────────┘"}));
  const Style highlighted = kWhite.bg(Color::Blue).add_modifier(Modifier::Italic);
  for (std::uint16_t x = 1; x < 11; ++x)
    EXPECT_EQ(b.at(x, 2).style, highlighted);
  EXPECT_EQ(b.at(0, 2).style, kWhite);
  EXPECT_EQ(b.at(1, 1).style, kWhite);
  EXPECT_EQ(s, (ListState{1, 0}));
}

TEST(List, SettlesTheStateWhenDrawn) {
  const List list = port_list({"a", "b", "c", "d", "e"});
  Buffer b(Rect{0, 0, 5, 4});
  ListState past{kMax, 0};
  list.render(b.area(), b, past);
  EXPECT_EQ(past, (ListState{4, 3}));
  EXPECT_EQ(buffer_rows(b), (Rows{"┌COM┐", "│d  │", "│e  │", "└───┘"}));

  ListState above{1, 3};
  list.render(b.area(), b, above);
  EXPECT_EQ(above, (ListState{1, 1}));

  ListState stale_offset{std::nullopt, 9};
  list.render(b.area(), b, stale_offset);
  EXPECT_EQ(stale_offset, (ListState{std::nullopt, 4}));

  ListState on_empty{2, 5};
  port_list({}).render(b.area(), b, on_empty);
  EXPECT_EQ(on_empty, ListState{});

  // No room inside the border: nothing is settled.
  for (const Rect tiny : {Rect{0, 0, 2, 4}, Rect{0, 0, 5, 2}}) {
    ListState untouched{kMax, 7};
    port_list({}).render(tiny, b, untouched);
    list.render(tiny, b, untouched);
    EXPECT_EQ(untouched, (ListState{kMax, 7}));
  }
}

TEST(List, RestylingKeepsItemsAndHighlight) {
  List l = port_list({"a"});
  List restyled = l;
  restyled.block(Block().title("Baudrate").border_style(Style{}.fg(Color::DarkGray)))
      .style(Style{}.fg(Color::DarkGray));
  EXPECT_EQ(restyled.items(), l.items());
  EXPECT_EQ(restyled.highlight_style(), l.highlight_style());
  EXPECT_NE(restyled, l);
}

LineGauge progress() {
  LineGauge g;
  g.label("Progress:").filled_style(Style{}.fg(Color::Blue)).unfilled_style(Style{}.fg(Color::Red));
  return g;
}

TEST(LineGauge, LabelBlankThenFilledShare) {
  Buffer b(Rect{0, 0, 20, 1});
  progress().ratio(0.5).render(b.area(), b);
  EXPECT_EQ(buffer_rows(b), (Rows{"Progress: ──────────"}));
  EXPECT_EQ(b.at(9, 0).style, Style{});
  for (std::uint16_t x = 10; x < 15; ++x)
    EXPECT_EQ(b.at(x, 0).style.foreground, Color::Blue);
  for (std::uint16_t x = 15; x < 20; ++x)
    EXPECT_EQ(b.at(x, 0).style.foreground, Color::Red);

  // Rounded down: 99% of 10 cells fills 9.
  b.reset();
  progress().ratio(0.99).render(b.area(), b);
  EXPECT_EQ(b.at(18, 0).style.foreground, Color::Blue);
  EXPECT_EQ(b.at(19, 0).style.foreground, Color::Red);

  EXPECT_EQ(progress().ratio(1.7).ratio(), 1.0);
  EXPECT_EQ(progress().ratio(-2).ratio(), 0.0);
  EXPECT_EQ(progress().ratio(std::numeric_limits<double>::quiet_NaN()).ratio(), 0.0);
}

TEST(LineGauge, TooNarrowForTheLine) {
  Buffer b(Rect{0, 0, 10, 2});
  progress().ratio(1).render(b.area(), b);
  EXPECT_EQ(buffer_rows(b), (Rows{"Progress: ", "          "}));
}

Chart results_chart(std::span<const std::pair<double, double>> points) {
  Chart c(Dataset(points).style(Style{}.fg(Color::Yellow)));
  c.x_axis(Axis()
               .bounds(240, 960)
               .labels({"240MHz", "600MHz", "960MHz"})
               .style(Style{}.fg(Color::Gray)))
      .y_axis(Axis()
                  .bounds(-128, 0)
                  .labels({"-128dbm", "-64dbm", "0dbm"})
                  .style(Style{}.fg(Color::Gray)));
  return c;
}

TEST(Chart, AxesLabelsAndDots) {
  const std::vector<std::pair<double, double>> points{
      {240, -128}, {960, 0}, {600, -64}, {500, -200}, {100, -10}, {961, -5}, {700, 0.5}};
  Buffer b(Rect{0, 0, 30, 10});
  results_chart(points).render(b.area(), b);
  EXPECT_EQ(buffer_rows(b), (Rows{
                                "0dbm   │                     •",
                                "       │                      ",
                                "       │                      ",
                                "       │          •           ",
                                "-64dbm │                      ",
                                "       │                      ",
                                "       │                      ",
                                "-128dbm│•                     ",
                                "       └──────────────────────",
                                "240MHz         600MHz   960MHz",
                            }));
  EXPECT_EQ(b.at(18, 3).style.foreground, Color::Yellow);
  EXPECT_EQ(b.at(7, 3).style.foreground, Color::Gray);
  EXPECT_EQ(b.at(7, 8).style.foreground, Color::Gray);
  EXPECT_EQ(b.at(12, 8).style.foreground, Color::Gray);
  EXPECT_EQ(b.at(0, 0).style, Style{});
}

// The x labels keep their places where they fit and never touch: the middle
// one is cut, or left out where less than half of it would show, and the
// first gives way to the last.
TEST(Chart, XLabelsKeepABlankBetweenThem) {
  const auto bottom_row = [](Chart chart, std::uint16_t w) {
    Buffer b(Rect{0, 0, w, 3});
    chart.render(b.area(), b);
    return buffer_rows(b)[2];
  };
  const std::vector<std::pair<std::uint16_t, std::string>> three{
      {30, "240MHz         600MHz   960MHz"},
      {26, "240MHz       600MHz 960MHz"},
      {24, "240MHz      600MH 960MHz"},
      {20, "240MHz    600 960MHz"},
      {16, "240MHz    960MHz"},
      {12, "240MH 960MHz"},
      {9, "   960MHz"},
      {4, "960M"},
  };
  for (const auto& [w, row] : three)
    EXPECT_EQ(bottom_row(results_chart({}), w), row) << "width " << w;

  Chart five{Dataset()};
  five.x_axis(Axis().labels({"0", "250MHz", "500MHz", "750MHz", "1000MHz"}));
  const std::vector<std::pair<std::uint16_t, std::string>> five_rows{
      {40, "0      250MHz    500MHz   750MHz 1000MHz"},
      {30, "0    250MHz 500MHz 750 1000MHz"},
      {26, "0   250MH 500MHz   1000MHz"},
  };
  for (const auto& [w, row] : five_rows)
    EXPECT_EQ(bottom_row(five, w), row) << "five labels, width " << w;
}

TEST(Chart, EqualBoundsAndRecordViews) {
  struct Sample {
    double when;
    double level;
  };
  const std::vector<Sample> samples{{5, 1}, {5, 2}, {6, 1}};
  Chart c(Dataset(std::span<const Sample>(samples), &Sample::when, &Sample::level));
  c.x_axis(Axis().bounds(5, 5)).y_axis(Axis().bounds(1, 2));
  Buffer b(Rect{0, 0, 4, 3});
  c.render(b.area(), b);
  EXPECT_EQ(buffer_rows(b), (Rows{"│•  ", "│•  ", "└───"}));
}

// Points on the upper bounds land in the last column and the top row at every
// width, also where the scale's rounding falls just short of a whole cell.
TEST(Chart, UpperBoundsLandOnTheLastCell) {
  const std::vector<std::pair<double, double>> points{{500, 1}, {960, 1}};
  for (const double low : {100.0, 240.0}) {
    for (std::uint16_t w = 3; w <= 200; ++w) {
      Chart c(Dataset(
          std::span<const std::pair<double, double>>(points).subspan(low == 100.0 ? 0 : 1, 1)));
      c.x_axis(Axis().bounds(low, low == 100.0 ? 500 : 960)).y_axis(Axis().bounds(0, 1));
      Buffer b(Rect{0, 0, w, 3});
      c.render(b.area(), b);
      EXPECT_EQ(b.at(w - 1, 0).symbol, "•") << "from " << low << " at width " << w;
    }
  }
}

// A chart lent a cache draws what an uncached one draws, on the first render
// and on the repeated ones, and follows a change of plot size, bounds or
// viewed points.
TEST(Chart, CachedCellsMatchAFreshRender) {
  using Points = std::vector<std::pair<double, double>>;
  const Points first{{240, -128}, {600, -64}, {960, 0}};
  const Points other{{300, -100}, {700, -20}, {900, -120}};
  PlotCache cache;
  const auto check = [&](std::span<const std::pair<double, double>> points, std::uint16_t w,
                         std::uint16_t h, double x_max) {
    SCOPED_TRACE(testing::Message()
                 << points.size() << " points, " << w << "x" << h << ", x up to " << x_max);
    Chart chart = results_chart(points);
    chart.x_axis(Axis().bounds(240, x_max));
    Buffer fresh(Rect{0, 0, w, h});
    chart.render(fresh.area(), fresh);
    Buffer cached(fresh.area());
    chart.plot_cache(&cache).render(cached.area(), cached);
    EXPECT_EQ(cached, fresh);
  };
  check(first, 30, 10, 960);  // empty cache
  check(first, 30, 10, 960);  // the cached cells
  check(first, 44, 10, 960);
  check(first, 44, 14, 960);
  check(other, 44, 14, 960);
  check(std::span(other).first(2), 44, 14, 960);  // fewer points at the same address
  check(std::span(other).first(2), 44, 14, 600);
}

// A million points draw in one pass (their speed is measured by the benchmark).
TEST(Chart, MillionPointsDraw) {
  std::vector<std::pair<double, double>> points(1'000'001);
  for (std::size_t i = 0; i < points.size(); ++i) {
    points[i] = {240.0 + 720.0 * static_cast<double>(i) / 1e6,
                 -128.0 + static_cast<double>(i % 1000) * 0.128};
  }
  Buffer b(Rect{0, 0, 66, 18});
  results_chart(points).render(b.area(), b);
  EXPECT_EQ(b.at(10, 0).symbol, "•");
}

// Every widget at every size up to 14 x 6: no crash, nothing outside its area.
TEST(Widgets, ClipToTheirAreaAtEverySize) {
  const std::vector<std::pair<double, double>> points{{240, -128}, {600, -64}, {960, 0}};
  for (std::uint16_t w = 0; w <= 14; ++w) {
    for (std::uint16_t h = 0; h <= 6; ++h) {
      render_framed(w, h, [](Rect a, Buffer& b) { Block().title("Status").render(a, b); });
      render_framed(w, h, [](Rect a, Buffer& b) {
        Paragraph("The scan 世界 finished\nLast").block(Block().title("T")).render(a, b);
      });
      render_framed(w, h, [](Rect a, Buffer& b) {
        Paragraph("centred 世界").alignment(Alignment::Center).render(a, b);
      });
      render_framed(w, h, [](Rect a, Buffer& b) {
        ListState s{kMax, 3};
        port_list({"COM1", "世界世界世界世界", "COM3"}).render(a, b, s);
      });
      render_framed(w, h, [](Rect a, Buffer& b) { progress().ratio(0.5).render(a, b); });
      render_framed(w, h, [&](Rect a, Buffer& b) { results_chart(points).render(a, b); });
    }
  }
}

}  // namespace
}  // namespace kestrel::tui
