// The arrow-key actions and the restyling of the two list widgets.

#include <gtest/gtest.h>

#include <limits>

#include "ui_test_support.hpp"

namespace kestrel::ui {
namespace {

using testing::make_state;

const std::vector<std::string> kPorts{"COM3", "COM5"};

struct ListLook {
  std::string title;
  tui::Color colour;
};

void expect_look(const std::optional<tui::List>& widget, const ListLook& look) {
  ASSERT_TRUE(widget.has_value());
  ASSERT_TRUE(widget->block().has_value());
  EXPECT_EQ(widget->block()->title(), look.title);
  EXPECT_EQ(widget->block()->border_style(), tui::Style().fg(look.colour));
  EXPECT_EQ(widget->style(), tui::Style().fg(look.colour));
}

TEST(HorizontalKey, SelectionMovesTheFocusAndRestylesTheLists) {
  AppState app = make_state(kPorts);
  ASSERT_TRUE(on_horizontal_key(app, Direction::Left));
  EXPECT_EQ(app.focused_widget, 0);
  expect_look(app.port_list_widget, {"COM Ports", tui::Color::White});
  expect_look(app.baud_list_widget, {"Baudrate", tui::Color::DarkGray});

  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(on_horizontal_key(app, Direction::Right));
    EXPECT_EQ(app.focused_widget, 1);
    expect_look(app.port_list_widget, {"COM Ports", tui::Color::DarkGray});
    expect_look(app.baud_list_widget, {"Baudrate", tui::Color::White});
  }
  ASSERT_TRUE(on_horizontal_key(app, Direction::Left));
  EXPECT_EQ(app.focused_widget, 0);
  expect_look(app.port_list_widget, {"COM Ports", tui::Color::White});
}

TEST(HorizontalKey, ParametersFocusStopsAtBothEnds) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Parameters;
  ASSERT_TRUE(on_horizontal_key(app, Direction::Left));
  EXPECT_EQ(app.focused_widget, 0);
  for (int expected : {1, 2, 3, 3}) {
    ASSERT_TRUE(on_horizontal_key(app, Direction::Right));
    EXPECT_EQ(app.focused_widget, expected);
  }
  ASSERT_TRUE(on_horizontal_key(app, Direction::Left));
  EXPECT_EQ(app.focused_widget, 2);
}

TEST(HorizontalKey, KeepsTheFocusMoveWhenRestylingFails) {
  AppState app = make_state(kPorts);
  app.port_list_widget.reset();
  const auto result = on_horizontal_key(app, Direction::Right);
  ASSERT_FALSE(result);
  const auto* error = result.error().get<ui_error::UninitializedItemList>();
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->name, "Port List");
  EXPECT_TRUE(error->file.ends_with("src/ui/key_actions.cpp")) << error->file;
  EXPECT_TRUE(testing::raised_at(*error, "uninitialized(\"Port List\")")) << error->line;
  EXPECT_EQ(app.focused_widget, 1);
  // The baud-rate widget was left as it was (styled for focus 0).
  expect_look(app.baud_list_widget, {"Baudrate", tui::Color::DarkGray});
}

TEST(BuildLists, MissingBaudWidgetLeavesThePortWidgetAlone) {
  AppState app = make_state(kPorts);
  app.focused_widget = 1;
  app.baud_list_widget.reset();
  ASSERT_FALSE(build_lists(app));
  expect_look(app.port_list_widget, {"COM Ports", tui::Color::White});
}

TEST(BuildLists, KeepsItemsAndHighlightAndIsIdempotent) {
  AppState app = make_state(kPorts);
  const tui::List before = *app.port_list_widget;
  ASSERT_TRUE(build_lists(app));
  EXPECT_EQ(*app.port_list_widget, before);
  EXPECT_EQ(app.port_list_widget->items(), kPorts);
  EXPECT_EQ(app.port_list_widget->highlight_style(),
            tui::Style().bg(tui::Color::Blue).add_modifier(tui::Modifier::Italic));
}

TEST(BuildLists, DoesNothingOffTheSelectionScreen) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Parameters;
  app.port_list_widget.reset();
  EXPECT_TRUE(build_lists(app));
  EXPECT_FALSE(app.port_list_widget.has_value());
}

TEST(VerticalKey, MovesOnlyTheFocusedList) {
  AppState app = make_state(kPorts);
  on_vertical_key(app, Direction::Down);
  EXPECT_EQ(app.port_list.state.selected, 1u);
  EXPECT_EQ(app.baud_list.state.selected, 3u);

  app.focused_widget = 1;
  on_vertical_key(app, Direction::Up);
  on_vertical_key(app, Direction::Up);
  EXPECT_EQ(app.baud_list.state.selected, 1u);
  EXPECT_EQ(app.port_list.state.selected, 1u);
}

TEST(VerticalKey, ListMovesIgnoreTheNumberOfItems) {
  AppState app = make_state(kPorts, 1);
  on_vertical_key(app, Direction::Down);
  EXPECT_EQ(app.port_list.state.selected, 2u);
  app.port_list.state.select(std::nullopt);
  on_vertical_key(app, Direction::Up);
  EXPECT_EQ(app.port_list.state.selected, std::numeric_limits<std::size_t>::max());
}

TEST(VerticalKey, StepsTheFocusedInput) {
  AppState app = make_state(kPorts);
  app.ui_state = Screen::Parameters;
  app.focused_widget = 1;
  on_vertical_key(app, Direction::Down);
  EXPECT_EQ(app.stop_input.value, 950u);
  app.focused_widget = 2;
  on_vertical_key(app, Direction::Up);
  EXPECT_EQ(app.points_input.value, 10101u);
  app.focused_widget = 3;
  on_vertical_key(app, Direction::Up);
  EXPECT_EQ(app.repeat_input.value, 2u);
  app.focused_widget = 0;
  on_vertical_key(app, Direction::Down);
  EXPECT_EQ(app.start_input.value, 230u);
}

TEST(KeyActions, ChangeNothingOnScanningResultsAndFailure) {
  for (Screen screen : {Screen::Scanning, Screen::Results, Screen::Failure}) {
    AppState app = make_state(kPorts);
    app.ui_state = screen;
    app.focused_widget = 2;
    const tui::List widget = *app.port_list_widget;
    for (Direction d : {Direction::Up, Direction::Down})
      on_vertical_key(app, d);
    for (Direction d : {Direction::Left, Direction::Right}) {
      EXPECT_TRUE(on_horizontal_key(app, d));
    }
    EXPECT_EQ(app.ui_state, screen);
    EXPECT_EQ(app.focused_widget, 2);
    EXPECT_EQ(app.port_list.state.selected, 0u);
    EXPECT_EQ(app.baud_list.state.selected, 3u);
    EXPECT_EQ(app.start_input.value, 240u);
    EXPECT_EQ(*app.port_list_widget, widget);
  }
}

}  // namespace
}  // namespace kestrel::ui
