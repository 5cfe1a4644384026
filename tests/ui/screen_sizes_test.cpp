// Every screen at every size from 0x0 to 100x40: no crash, and nothing
// written outside the area it was given, nor, on the screens drawn in the
// middle column, in the blank columns beside it.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "ui/screens.hpp"
#include "ui_test_support.hpp"

namespace kestrel::ui {
namespace {

using testing::info_of;
using testing::make_state;

constexpr std::uint16_t kMargin = 3;

AppState selection(bool empty_ports) {
  if (empty_ports)
    return make_state({}, 0);
  AppState app =
      make_state({"/dev/ttyACM0", "a port with a very long name, longer than the box"}, 1);
  app.focused_widget = 1;
  app.baud_list.state.select(9);
  EXPECT_TRUE(build_lists(app));
  return app;
}

AppState parameters(bool wide_values) {
  AppState app = make_state({"COM3"});
  app.ui_state = Screen::Parameters;
  app.focused_widget = 3;
  if (wide_values)
    app.points_input.value = std::numeric_limits<std::uint64_t>::max();
  return app;
}

// The gauge that entering Scanning makes, made once: every entry saves config.toml.
const tui::LineGauge& scan_gauge() {
  static const tui::LineGauge gauge = [] {
    AppState app = make_state({"COM3"});
    testing::enter_scanning(app);
    return *app.progress_gauge;
  }();
  return gauge;
}

AppState scanning(bool finished) {
  AppState app = make_state({"COM3"});
  app.ui_state = Screen::Scanning;
  app.progress_gauge = scan_gauge();
  info_of(app).set_scan_message("Reading scan data\n\twith a second line");
  info_of(app).set_scan_info(
      "tinySA ULTRA\r\nHW Version:V0.4.5.1\r\n\xe4\xb8\xad\xe6\x96\x87 wide");
  info_of(app).set_progress(finished ? 100 : 37);
  if (finished)
    info_of(app).set_return_data({{240, -50}});
  return app;
}

AppState results(bool many_points) {
  AppState app = make_state({"COM3"});
  app.ui_state = Screen::Results;
  app.stop_input.value = many_points ? 960 : 240;  // equal bounds on the second pass
  for (int i = 0; i < (many_points ? 500 : 3); ++i) {
    app.chart_data.push_back({240.0 + i * 1.44, -128.0 + (i % 129)});
  }
  app.chart_data.push_back({std::nan(""), -5});
  return app;
}

AppState failure(bool with_error) {
  AppState app = make_state({"COM3"});
  app.ui_state = Screen::Failure;
  if (with_error) {
    info_of(app).set_error_raised(
        ui_error::ScanError{app_error::ParseEnd{"a text\nwith \"quotes\" and\x07 a bell"}});
  }
  return app;
}

tui::Rect whole(tui::Rect area) {
  return area;
}

// `drawn_in(area)`: the part of the area the screen may write to.
void check_every_size(const std::function<AppState(bool)>& make, bool variant,
                      tui::Rect (*drawn_in)(tui::Rect) = whole) {
  const tui::Cell sentinel{"#", tui::Style().bg(tui::Color::Yellow)};
  for (std::uint16_t height = 0; height <= 40; ++height) {
    for (std::uint16_t width = 0; width <= 100; ++width) {
      AppState app = make(variant);
      tui::Buffer buf(tui::Rect{0, 0, static_cast<std::uint16_t>(width + 2 * kMargin),
                                static_cast<std::uint16_t>(height + 2 * kMargin)});
      for (std::uint16_t y = 0; y < buf.area().height; ++y) {
        for (std::uint16_t x = 0; x < buf.area().width; ++x)
          buf.at(x, y) = sentinel;
      }
      const tui::Rect area{kMargin, kMargin, width, height};
      draw_frame(buf, area, app);
      const tui::Rect drawn = drawn_in(area);
      for (std::uint16_t y = 0; y < buf.area().height; ++y) {
        for (std::uint16_t x = 0; x < buf.area().width; ++x) {
          if (drawn.contains(x, y))
            continue;
          ASSERT_EQ(buf.at(x, y), sentinel)
              << "cell " << x << "," << y << " written at size " << width << "x" << height;
        }
      }
    }
  }
}

TEST(ScreenSizes, Selection) {
  check_every_size(selection, false);
  check_every_size(selection, true);
}

TEST(ScreenSizes, Parameters) {
  check_every_size(parameters, false);
  check_every_size(parameters, true);
}

TEST(ScreenSizes, Scanning) {
  check_every_size(scanning, false, middle_column);
  check_every_size(scanning, true, middle_column);
}

TEST(ScreenSizes, Results) {
  check_every_size(results, false, middle_column);
  check_every_size(results, true, middle_column);
}

TEST(ScreenSizes, Failure) {
  check_every_size(failure, false, middle_column);
  check_every_size(failure, true, middle_column);
}

}  // namespace
}  // namespace kestrel::ui
