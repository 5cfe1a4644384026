#include "tui/line_gauge.hpp"

#include <algorithm>
#include <cmath>

namespace kestrel::tui {

LineGauge& LineGauge::ratio(double r) {
  ratio_ = std::isnan(r) ? 0.0 : std::clamp(r, 0.0, 1.0);
  return *this;
}

void LineGauge::render(Rect area, Buffer& buf) const {
  buf.set_style(area, style_);
  if (area.is_empty())
    return;
  const std::uint16_t row = area.top();
  const std::uint16_t end = area.right();
  const std::uint16_t after_label =
      buf.set_line(area.left(), row, label_, static_cast<std::uint16_t>(end - area.left()));
  if (after_label + 1 >= end)
    return;
  const auto start = static_cast<std::uint16_t>(after_label + 1);
  const auto filled_end = static_cast<std::uint16_t>(start + std::floor((end - start) * ratio_));
  for (std::uint16_t x = start; x < end; ++x) {
    buf.set_string(x, row, line_set_.horizontal, x < filled_end ? filled_style_ : unfilled_style_,
                   1);
  }
}

}  // namespace kestrel::tui
