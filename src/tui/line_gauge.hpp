#pragma once
// A one-row progress line: the label, one blank, then a horizontal line whose
// first share (ratio of the remaining width, rounded down) is drawn in the
// filled style and the rest in the unfilled style.

#include "tui/buffer.hpp"
#include "tui/symbols.hpp"
#include "tui/text.hpp"

namespace kestrel::tui {

class LineGauge {
 public:
  // Clamped into [0, 1]; NaN counts as 0.
  LineGauge& ratio(double r);
  LineGauge& label(Line l) {
    label_ = std::move(l);
    return *this;
  }
  LineGauge& line_set(const LineSet& s) {
    line_set_ = s;
    return *this;
  }
  // Base style, patched over the whole area first.
  LineGauge& style(Style s) {
    style_ = s;
    return *this;
  }
  LineGauge& filled_style(Style s) {
    filled_style_ = s;
    return *this;
  }
  LineGauge& unfilled_style(Style s) {
    unfilled_style_ = s;
    return *this;
  }

  double ratio() const { return ratio_; }
  const Line& label() const { return label_; }

  // Draws on the top row of `area`.
  void render(Rect area, Buffer& buf) const;

  bool operator==(const LineGauge&) const = default;

 private:
  double ratio_ = 0.0;
  Line label_;
  LineSet line_set_ = kNormalLines;
  Style style_;
  Style filled_style_;
  Style unfilled_style_;
};

}  // namespace kestrel::tui
