// One Results frame over the largest scan (1,000,001 points), drawn into a
// buffer: the chart reads chart_data in place. The first frame at a size
// (warm 0: the chart's cache emptied before each) costs one pass over the
// points; the frames after it (warm 1) reuse the cached plot cells.

#include <benchmark/benchmark.h>

#include <cmath>

#include "tui/buffer.hpp"
#include "ui/app_state.hpp"
#include "ui/draw.hpp"

namespace {

using kestrel::ConnectionStatus;
using kestrel::ScanPoint;
using kestrel::ui::AppState;
using kestrel::ui::Screen;

constexpr std::size_t kPoints = 1'000'001;

AppState results_state() {
  AppState app;
  app.ui_state = Screen::Results;
  app.start_input = {240, 10, 0, 960};
  app.stop_input = {960, 10, 10, 960};
  app.points_input = {kPoints, 100, 101, 1000001};
  app.repeat_input = {1, 1, 1, 1000};
  app.connection_info.emplace();
  app.connection_info->set_scan_message("Scan finished");
  app.connection_info->set_connection_status(ConnectionStatus::ClosedWithSuccess);
  app.chart_data.reserve(kPoints);
  const double step = (960.0 - 240.0) / static_cast<double>(kPoints - 1);
  for (std::size_t i = 0; i < kPoints; ++i) {
    const double level = -90.0 + 30.0 * std::sin(static_cast<double>(i) * 1e-4);
    app.chart_data.push_back({240.0 + step * static_cast<double>(i), level});
  }
  return app;
}

void BM_ResultsFrame(benchmark::State& state) {
  AppState app = results_state();
  const kestrel::tui::Rect area{0, 0, static_cast<std::uint16_t>(state.range(0)),
                                static_cast<std::uint16_t>(state.range(1))};
  const bool warm = state.range(2) != 0;
  const auto frame = [&] {
    kestrel::tui::Buffer buf(area);
    kestrel::ui::draw_frame(buf, area, app);
    return buf;
  };
  frame();  // fills the cache
  for (auto _ : state) {
    if (!warm)
      app.chart_cache = {};
    benchmark::DoNotOptimize(frame());
  }
  if (app.ui_state != Screen::Results)
    state.SkipWithError("the frame left the Results screen");
  if (!warm)
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kPoints));
}
BENCHMARK(BM_ResultsFrame)
    ->ArgNames({"width", "height", "warm"})
    ->ArgsProduct({{80}, {24}, {0, 1}})
    ->ArgsProduct({{250}, {70}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
