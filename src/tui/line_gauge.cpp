#include "tui/line_gauge.hpp"

namespace kestrel::tui {
LineGauge& LineGauge::ratio(double r) {
  ratio_ = r;
  return *this;
}
void LineGauge::render(Rect, Buffer&) const {}
}  // namespace kestrel::tui
