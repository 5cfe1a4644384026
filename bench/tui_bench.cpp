// Drawing costs of the terminal toolkit: the Results chart over a full scan
// of points, and a complete boxed screen at 80 x 24.
#include <benchmark/benchmark.h>

#include <utility>
#include <vector>

#include "tui/chart.hpp"
#include "tui/layout.hpp"
#include "tui/list.hpp"
#include "tui/paragraph.hpp"

namespace {

using namespace kestrel::tui;

void BM_ChartPoints(benchmark::State& state) {
  std::vector<std::pair<double, double>> points(static_cast<std::size_t>(state.range(0)));
  for (std::size_t i = 0; i < points.size(); ++i) {
    points[i] = {240.0 + 720.0 * static_cast<double>(i) / static_cast<double>(points.size()),
                 -128.0 + static_cast<double>(i % 1000) * 0.128};
  }
  Chart chart(Dataset(points).style(Style{}.fg(Color::Yellow)));
  chart.x_axis(Axis().bounds(240, 960).labels({"240MHz", "600MHz", "960MHz"}))
      .y_axis(Axis().bounds(-128, 0).labels({"-128dbm", "-64dbm", "0dbm"}));
  Buffer buf(Rect{0, 0, 66, 18});
  for (auto _ : state) {
    buf.reset();
    chart.render(buf.area(), buf);
    benchmark::DoNotOptimize(buf);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ChartPoints)->Arg(10'001)->Arg(1'000'001)->Unit(benchmark::kMillisecond);

// Layouts, two lists, a boxed paragraph and a help line: a typical frame.
void BM_BoxedScreen(benchmark::State& state) {
  List ports({"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyS0"});
  ports.block(Block().title("COM Ports").border_style(Style{}.fg(Color::White)))
      .style(Style{}.fg(Color::White))
      .highlight_style(Style{}.bg(Color::Blue).add_modifier(Modifier::Italic));
  ListState selection{1, 0};
  const Rect screen{0, 0, 80, 24};
  for (auto _ : state) {
    Buffer buf(screen);
    const auto rows = Layout::vertical({Length(2), Min(10), Length(1)}).split(screen);
    const auto cols =
        Layout::horizontal({Min(7), Percentage(50), Percentage(50), Min(7)}).split(rows[1]);
    ports.render(cols[1], buf, selection);
    Paragraph("tinySA4\nHW Version:V0.4.5.1\n")
        .block(Block().title("TinySA Info"))
        .render(cols[2], buf);
    Paragraph("Use ↓↑ to move, ←→ to change status widget and ↲ to validate configuration.")
        .alignment(Alignment::Center)
        .render(rows[2], buf);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_BoxedScreen)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
