#include "ui_struct/stateful_list.hpp"

#include "ui_struct/baudrate.hpp"

namespace kestrel {

StatefulList<std::uint32_t> baudrate_values() {
  StatefulList<std::uint32_t> list;
  list.items.reserve(kBaudrates.size());
  for (Baudrate rate : kBaudrates) {
    list.items.push_back(static_cast<std::uint32_t>(rate));
  }
  list.state.select(kDefaultBaudrateIndex);
  return list;
}

std::expected<std::string, UiError> selected_item(const StatefulList<std::string>& list) {
  const std::optional<std::size_t> selected = list.state.selected;
  if (!selected)
    return std::unexpected(UiError(ui_error::NoPortSelected{}));
  if (*selected >= list.items.size())
    return std::unexpected(UiError(ui_error::MenuSelectionError{}));
  return list.items[*selected];
}

std::expected<std::uint32_t, UiError> baudrate_of_selection(std::optional<std::size_t> selected) {
  if (!selected)
    return std::unexpected(UiError::uninitialized("Baudrate"));
  const std::optional<std::uint32_t> rate = baudrate_at(*selected);
  if (!rate)
    return std::unexpected(UiError(ui_error::MenuSelectionError{}));
  return *rate;
}

}  // namespace kestrel
