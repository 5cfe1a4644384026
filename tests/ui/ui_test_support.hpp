#pragma once
// Shared by the interface tests: an interface state as the program starts
// it, and golden pictures of a drawn buffer.

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tui/buffer.hpp"
#include "tui/list.hpp"
#include "ui/app_state.hpp"
#include "ui/draw.hpp"
#include "ui/key_actions.hpp"
#include "ui/validation.hpp"
#include "ui_struct/stateful_list.hpp"

namespace kestrel::ui::testing {

// The start-up state: the given ports (the one at `port_index` selected),
// the default inputs, the ten rates with 115200 selected, fresh cells, and
// both list widgets restyled for focus 0.
inline AppState make_state(std::vector<std::string> ports,
                           std::optional<std::size_t> port_index = 0) {
  AppState app;
  app.baud_list = baudrate_values();
  app.port_list.items = std::move(ports);
  app.port_list.state.select(port_index);
  const tui::Style highlight =
      tui::Style().bg(tui::Color::Blue).add_modifier(tui::Modifier::Italic);
  std::vector<std::string> rates;
  for (std::uint32_t rate : app.baud_list.items)
    rates.push_back(format_value(rate));
  app.port_list_widget = tui::List(app.port_list.items).highlight_style(highlight);
  app.baud_list_widget = tui::List(std::move(rates)).highlight_style(highlight);
  app.connection_info.emplace();
  app.start_input = {240, 10, 0, 960};
  app.stop_input = {960, 10, 10, 960};
  app.points_input = {10001, 100, 101, 1000001};
  app.repeat_input = {1, 1, 1, 1000};
  EXPECT_TRUE(build_lists(app).has_value());
  return app;
}

// Whether `result` failed with the UiError variant V.
template <class V, class T>
bool fails_with(const std::expected<T, UiError>& result) {
  return !result && result.error().template is<V>();
}

// Enter on Parameters with no scan started, saving the settings to a file of
// this process that is removed again.
inline void enter_scanning(AppState& app) {
  app.ui_state = Screen::Parameters;
  const std::filesystem::path config =
      std::filesystem::temp_directory_path() / ("kestrel_ui_config_" + std::to_string(::getpid()));
  EXPECT_TRUE(validate_configuration(
      app, [](ConnectionInfo, ConnectionInfo) {}, config));
  std::filesystem::remove(config);
  EXPECT_EQ(app.ui_state, Screen::Scanning);
}

// Whether the source line that `error` names holds `code`: the error points
// at the check that raised it.
inline bool raised_at(const ui_error::UninitializedItemList& error, std::string_view code) {
  std::ifstream in(error.file);
  std::string line;
  for (std::uint32_t n = 0; n < error.line; ++n) {
    if (!std::getline(in, line))
      return false;
  }
  return line.find(code) != std::string::npos;
}

inline const ConnectionInfo& info_of(const AppState& app) {
  return *app.connection_info;
}

// One frame of `app` into a fresh buffer of the given size.
inline tui::Buffer frame(AppState& app, std::uint16_t width = 80, std::uint16_t height = 24) {
  tui::Buffer buf(tui::Rect{0, 0, width, height});
  draw_frame(buf, buf.area(), app);
  return buf;
}

inline bool is_blank(const tui::Buffer& buf) {
  return buf == tui::Buffer(buf.area());
}

// A picture of a buffer, made to be read: the symbols row by row between
// bars, then one letter per cell for the foreground colour, then one for the
// background (lower case when the cell is italic).
inline char colour_letter(const std::optional<tui::Color>& colour) {
  if (!colour)
    return '.';
  switch (*colour) {
    case tui::Color::White:
      return 'W';
    case tui::Color::Gray:
      return 'G';
    case tui::Color::DarkGray:
      return 'D';
    case tui::Color::Blue:
      return 'B';
    case tui::Color::Red:
      return 'R';
    case tui::Color::Yellow:
      return 'Y';
  }
  return '?';
}

inline std::string picture(const tui::Buffer& buf) {
  const tui::Rect a = buf.area();
  std::ostringstream out;
  out << "symbols\n";
  for (const std::string& row : tui::buffer_rows(buf))
    out << '|' << row << "|\n";
  out << "foreground: . default, W white, G gray, D dark gray, B blue, R red, Y yellow\n";
  for (std::uint16_t y = a.top(); y < a.bottom(); ++y) {
    out << '|';
    for (std::uint16_t x = a.left(); x < a.right(); ++x) {
      out << colour_letter(buf.at(x, y).style.foreground);
    }
    out << "|\n";
  }
  out << "background: the same letters, lower case when italic\n";
  for (std::uint16_t y = a.top(); y < a.bottom(); ++y) {
    out << '|';
    for (std::uint16_t x = a.left(); x < a.right(); ++x) {
      const tui::Style& s = buf.at(x, y).style;
      char c = colour_letter(s.background);
      if (tui::has(s.modifiers, tui::Modifier::Italic))
        c = c == '.' ? 'i' : std::tolower(c);
      out << c;
    }
    out << "|\n";
  }
  return out.str();
}

// Compares `buf` with golden/<name>.txt beside the tests. With
// KESTREL_UPDATE_GOLDEN set, writes the file instead (look at it before
// committing it).
inline void expect_golden(const tui::Buffer& buf, const std::string& name) {
  const char* dir = std::getenv("KESTREL_TEST_DATA");
  ASSERT_NE(dir, nullptr) << "KESTREL_TEST_DATA names the test folder";
  const std::filesystem::path path = std::filesystem::path(dir) / "golden" / (name + ".txt");
  const std::string actual = picture(buf);
  if (std::getenv("KESTREL_UPDATE_GOLDEN") != nullptr) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "missing golden picture " << path;
  const std::string expected{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(actual, expected) << "golden picture " << path;
}

}  // namespace kestrel::ui::testing
