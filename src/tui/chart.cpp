#include "tui/chart.hpp"

namespace kestrel::tui {
void Chart::render(Rect, Buffer&) const {}
}  // namespace kestrel::tui
