#pragma once
// Selectable lists: items plus the toolkit's selection state (selected index
// and first row shown), and the reads of a selection that the validation
// step makes.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "structs/errors.hpp"
#include "tui/list.hpp"

namespace kestrel {

template <class T>
struct StatefulList {
  tui::ListState state;
  std::vector<T> items;
};

// A new baud-rate list: the ten rates in table order, 115200 selected, offset 0.
StatefulList<std::uint32_t> baudrate_values();

// A copy of the selected item's text. NoPortSelected without a selection,
// MenuSelectionError for an index beyond the items. The list is not changed.
std::expected<std::string, UiError> selected_item(const StatefulList<std::string>& list);

// The rate at the selected index of the baud-rate list. UninitializedItemList
// ("Baudrate") without a selection, MenuSelectionError for an index past the
// table.
std::expected<std::uint32_t, UiError> baudrate_of_selection(std::optional<std::size_t> selected);

}  // namespace kestrel
