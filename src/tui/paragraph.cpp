#include "tui/paragraph.hpp"

namespace kestrel::tui {
void Paragraph::render(Rect, Buffer&) const {}
}  // namespace kestrel::tui
