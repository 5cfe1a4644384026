#include "tui/chart.hpp"

#include <algorithm>

#include "tui/symbols.hpp"

namespace kestrel::tui {

namespace {

std::uint16_t widest(const std::vector<std::string>& labels, std::uint16_t cap) {
  std::size_t w = 0;
  for (const auto& l : labels)
    w = std::max(w, display_width(l));
  return static_cast<std::uint16_t>(std::min<std::size_t>(w, cap));
}

// Draws an x label of `w` columns from column x, cut to end before column
// `limit`. A label cut to less than half of its columns is left out: so short
// a start of it (the "6" of "600MHz", say) reads as another label. Returns the
// column after what was drawn, x when nothing was.
std::uint16_t draw_cut_label(Buffer& buf, std::uint16_t x, std::uint16_t y, int limit,
                             const std::string& label, std::size_t w) {
  const auto room = static_cast<std::size_t>(std::max(limit - x, 0));
  if (2 * room < w)
    return x;
  return buf.set_string(x, y, label, {}, static_cast<std::uint16_t>(std::min(room, w)));
}

// Marks the plot cell of every point inside the bounds, in one pass.
std::vector<std::uint8_t> plotted_cells(const Dataset& data, const Axis& xa, const Axis& ya,
                                        std::uint16_t width, std::uint16_t height) {
  std::vector<std::uint8_t> cells(std::size_t{width} * height);
  const double x0 = xa.min(), x1 = xa.max(), y0 = ya.min(), y1 = ya.max();
  // Cells per unit; equal bounds put every point in the first column / top row.
  const double sx = x1 > x0 ? (width - 1) / (x1 - x0) : 0.0;
  const double sy = y1 > y0 ? (height - 1) / (y1 - y0) : 0.0;
  std::uint8_t* const grid = cells.data();
  const std::int64_t row_length = width;
  const std::int64_t last_col = width - 1, last_row = height - 1;
  constexpr double kNudge = 1e-9;
  data.for_each_point([=](double x, double y) {
    if (!(x >= x0 && x <= x1 && y >= y0 && y <= y1))
      return;  // NaN fails too
    // Inside the bounds the products lie in [0, width - 1] and [0, height - 1];
    // the nudge keeps a product that rounding left just below a whole cell
    // (the upper bound itself, say) from dropping into the cell before.
    const auto col = std::min(static_cast<std::int64_t>((x - x0) * sx + kNudge), last_col);
    const auto row = std::min(static_cast<std::int64_t>((y1 - y) * sy + kNudge), last_row);
    grid[row * row_length + col] = 1;
  });
  return cells;
}

}  // namespace

void Chart::render(Rect area, Buffer& buf) const {
  buf.set_style(area, style_);
  if (area.is_empty())
    return;
  const std::uint16_t left = area.left(), right = area.right(), top = area.top();
  const std::uint16_t width = right - left;

  // Rows from the bottom: the x labels (if any), then the x axis line.
  std::uint16_t free_bottom = area.bottom();
  const bool x_labels = !x_axis_.labels().empty();
  const std::uint16_t label_row = free_bottom - 1;
  if (x_labels)
    --free_bottom;
  const bool has_axis_row = free_bottom > top;
  const std::uint16_t axis_row = has_axis_row ? free_bottom - 1 : top;

  // Columns from the left: the y labels, then the y axis line.
  const std::uint16_t label_width = widest(y_axis_.labels(), width);
  const std::uint16_t axis_col = left + label_width;
  const bool has_axis_col = axis_col < right;

  // With no room right of the y axis the plot is empty at the right edge, so
  // that labels placed relative to it stay inside the area.
  const auto plot_left = static_cast<std::uint16_t>(std::min(axis_col + 1, int{right}));
  const Rect plot{plot_left, top, static_cast<std::uint16_t>(right - plot_left),
                  static_cast<std::uint16_t>(has_axis_row ? axis_row - top : 0)};

  if (has_axis_row) {
    for (std::uint16_t x = plot.left(); x < right; ++x) {
      buf.set_string(x, axis_row, kNormalLines.horizontal, x_axis_.style(), 1);
    }
    if (has_axis_col) {
      for (std::uint16_t y = top; y < axis_row; ++y) {
        buf.set_string(axis_col, y, kNormalLines.vertical, y_axis_.style(), 1);
      }
      buf.set_string(axis_col, axis_row, kNormalLines.bottom_left, x_axis_.style(), 1);
    }
  }

  const auto& ylabels = y_axis_.labels();
  if (plot.height > 0) {
    for (std::size_t i = 0; i < ylabels.size(); ++i) {
      const std::size_t up = ylabels.size() > 1 ? i * (plot.height - 1u) / (ylabels.size() - 1) : 0;
      buf.set_string(left, static_cast<std::uint16_t>(plot.bottom() - 1 - up), ylabels[i], {},
                     label_width);
    }
  }

  // The x labels keep a blank column between them. The last is drawn whole,
  // the first is cut to end a blank before it, and those between, from right
  // to left, are cut to end a blank before the nearest label drawn on their
  // right; one that would start on the first label or right after it is left
  // out. Only ends are cut, so what shows is the start of the label.
  const auto& xlabels = x_axis_.labels();
  if (x_labels) {
    const auto columns = [&](const std::string& label) {
      return std::min<std::size_t>(display_width(label), width);
    };
    const std::size_t last = xlabels.size() - 1;
    int limit = right;  // where the labels still to draw must end
    if (last > 0) {
      const auto start = static_cast<std::uint16_t>(right - columns(xlabels[last]));
      buf.set_string(start, label_row, xlabels[last], {},
                     static_cast<std::uint16_t>(right - start));
      limit = start - 1;
    }
    const std::uint16_t first_end =
        draw_cut_label(buf, left, label_row, limit, xlabels[0], columns(xlabels[0]));
    const int lowest_start = first_end > left ? first_end + 1 : left;
    const std::size_t span = plot.width > 0 ? plot.width - 1u : 0;
    for (std::size_t i = last; i-- > 1;) {
      const std::size_t w = columns(xlabels[i]);
      const std::size_t centre = plot.left() + i * span / last;
      const auto start = static_cast<std::uint16_t>(
          std::max<std::size_t>(left, centre - std::min<std::size_t>(centre, w / 2)));
      if (start >= lowest_start &&
          draw_cut_label(buf, start, label_row, limit, xlabels[i], w) > start)
        limit = start - 1;
    }
  }

  if (plot.is_empty())
    return;
  const PlotCache::Key key{plot.width,    plot.height,   x_axis_.min(), x_axis_.max(),
                           y_axis_.min(), y_axis_.max(), data_.data(),  data_.size()};
  PlotCache uncached;
  PlotCache& cache = cache_ ? *cache_ : uncached;
  if (cache.key != key) {
    cache.cells = plotted_cells(data_, x_axis_, y_axis_, plot.width, plot.height);
    cache.key = key;
  }
  const auto& cells = cache.cells;
  for (std::uint16_t r = 0; r < plot.height; ++r) {
    for (std::uint16_t c = 0; c < plot.width; ++c) {
      if (!cells[std::size_t{r} * plot.width + c])
        continue;
      const auto x = static_cast<std::uint16_t>(plot.left() + c);
      const auto y = static_cast<std::uint16_t>(plot.top() + r);
      if (buf.area().contains(x, y))
        buf.set_string(x, y, kDot, data_.style(), 1);
    }
  }
}

}  // namespace kestrel::tui
