// Number inputs, the baud-rate table and the reads of a list selection.

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "ui_struct/baudrate.hpp"
#include "ui_struct/number_input.hpp"
#include "ui_struct/stateful_list.hpp"
#include "ui_test_support.hpp"

namespace kestrel {
namespace {

using ui::testing::fails_with;

constexpr NumberInput kStart{240, 10, 0, 960};
constexpr NumberInput kStop{960, 10, 10, 960};
constexpr NumberInput kPoints{10001, 100, 101, 1000001};
constexpr NumberInput kRepeat{1, 1, 1, 1000};

std::uint64_t stepped(NumberInput input, std::uint64_t value, Direction direction) {
  input.value = value;
  step_input(input, direction);
  return input.value;
}

TEST(StepInput, StaysAtItsBounds) {
  EXPECT_EQ(stepped(kStart, 0, Direction::Down), 0u);
  EXPECT_EQ(stepped(kStart, 960, Direction::Up), 960u);
  EXPECT_EQ(stepped(kStop, 10, Direction::Down), 10u);
  EXPECT_EQ(stepped(kPoints, 1000001, Direction::Up), 1000001u);
  EXPECT_EQ(stepped(kPoints, 101, Direction::Down), 101u);
  EXPECT_EQ(stepped(kRepeat, 1, Direction::Down), 1u);
}

TEST(StepInput, ClampsAValueLoadedOutsideTheBounds) {
  EXPECT_EQ(stepped(kStart, 5000, Direction::Up), 960u);
  EXPECT_EQ(stepped(kStart, 5000, Direction::Down), 960u);
  EXPECT_EQ(stepped(kPoints, 5, Direction::Up), 105u);
  EXPECT_EQ(stepped(kPoints, 5, Direction::Down), 101u);
  EXPECT_EQ(stepped(kStop, 15, Direction::Down), 10u);
}

TEST(StepInput, UpWrapsPastTheLargestValueBeforeClamping) {
  constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
  const NumberInput wide{0, 10, 0, kMax};
  EXPECT_EQ(stepped(wide, kMax - 5, Direction::Up), 4u);
}

TEST(StepInput, BoundsTheWrongWayRoundSettleOnMin) {
  const NumberInput inverted{0, 10, 50, 20};
  for (std::uint64_t value : {0u, 30u, 100u}) {
    EXPECT_EQ(stepped(inverted, value, Direction::Up), 50u) << value;
    EXPECT_EQ(stepped(inverted, value, Direction::Down), 50u) << value;
  }
}

TEST(StepInput, IgnoresLeftAndRight) {
  EXPECT_EQ(stepped(kStart, 240, Direction::Left), 240u);
  EXPECT_EQ(stepped(kStart, 5000, Direction::Right), 5000u);
}

TEST(Baudrate, TableLookups) {
  EXPECT_EQ(baudrate_at(0), 19200u);
  EXPECT_EQ(baudrate_at(9), 3000000u);
  EXPECT_EQ(baudrate_at(10), std::nullopt);
  EXPECT_EQ(baudrate_index(115200), 3u);
  EXPECT_EQ(baudrate_index(3000000), 9u);
  EXPECT_EQ(baudrate_index(9600), std::nullopt);
}

TEST(Baudrate, FreshListHoldsTheTenRatesWith115200Selected) {
  const StatefulList<std::uint32_t> list = baudrate_values();
  EXPECT_EQ(list.items, (std::vector<std::uint32_t>{19200, 38400, 57600, 115200, 230400, 460800,
                                                    921600, 1843200, 2000000, 3000000}));
  EXPECT_EQ(list.state.selected, 3u);
  EXPECT_EQ(list.state.offset, 0u);
  EXPECT_EQ(baudrate_of_selection(list.state.selected), 115200u);
}

TEST(Baudrate, SelectionReads) {
  EXPECT_EQ(baudrate_of_selection(9), 3000000u);
  EXPECT_TRUE(fails_with<ui_error::MenuSelectionError>(baudrate_of_selection(10)));
  EXPECT_TRUE(fails_with<ui_error::MenuSelectionError>(
      baudrate_of_selection(std::numeric_limits<std::size_t>::max())));
}

TEST(Baudrate, MissingSelectionNamesTheCheckThatRaisedIt) {
  const auto result = baudrate_of_selection(std::nullopt);
  ASSERT_FALSE(result);
  const auto* uninitialized = result.error().get<ui_error::UninitializedItemList>();
  ASSERT_NE(uninitialized, nullptr);
  EXPECT_EQ(uninitialized->name, "Baudrate");
  EXPECT_TRUE(uninitialized->file.ends_with("src/ui_struct/stateful_list.cpp"))
      << uninitialized->file;
  EXPECT_TRUE(ui::testing::raised_at(*uninitialized, "uninitialized(\"Baudrate\")"))
      << uninitialized->line;
}

TEST(SelectedItem, ReadsACopyOfTheSelectedPort) {
  StatefulList<std::string> ports;
  ports.items = {"/dev/ttyACM0", "COM3"};
  ports.state.select(1);
  EXPECT_EQ(selected_item(ports), "COM3");
  EXPECT_EQ(ports.items.size(), 2u);
  EXPECT_EQ(ports.state.selected, 1u);
}

TEST(SelectedItem, ReportsAMissingOrStaleSelection) {
  StatefulList<std::string> ports;
  ports.items = {"COM3"};
  ports.state.select(std::nullopt);
  EXPECT_TRUE(fails_with<ui_error::NoPortSelected>(selected_item(ports)));
  ports.state.select(1);
  EXPECT_TRUE(fails_with<ui_error::MenuSelectionError>(selected_item(ports)));
  ports.items.clear();
  ports.state.select(0);
  EXPECT_TRUE(fails_with<ui_error::MenuSelectionError>(selected_item(ports)));
}

}  // namespace
}  // namespace kestrel
