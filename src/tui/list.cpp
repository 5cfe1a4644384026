#include "tui/list.hpp"

namespace kestrel::tui {
void ListState::select_next() {}
void ListState::select_previous() {}
void ListState::select(std::optional<std::size_t> index) {
  selected = index;
}
void List::render(Rect, Buffer&, ListState&) const {}
}  // namespace kestrel::tui
