#pragma once
// A scatter chart of one data series with an x and a y axis.
//
// Layout inside the area: the x labels on the bottom row (the first from the
// left edge, the last ending at the right edge, those between centred over
// their share of the plot); the x axis line on the row above, from the corner
// "└" to the right edge; the y labels in a left column as wide as the widest
// of them, spread from the lowest (bottom of the plot) to the highest (top);
// the y axis line in the column after them. The plot is what lies right of
// the y axis and above the x axis. Each point inside both bounds is a dot in
// the data series' style; points outside the bounds (or NaN) are not drawn.
//
// A blank column always parts two x labels: where they would touch, the
// first gives way to the last, and those between are cut or left out.

#include <cstddef>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tui/buffer.hpp"

namespace kestrel::tui {

class Axis {
 public:
  Axis& bounds(double lo, double hi) {
    min_ = lo;
    max_ = hi;
    return *this;
  }
  // From the lower bound to the upper.
  Axis& labels(std::vector<std::string> l) {
    labels_ = std::move(l);
    return *this;
  }
  // Style of the axis line; labels are drawn in the chart's style.
  Axis& style(Style s) {
    style_ = s;
    return *this;
  }

  double min() const { return min_; }
  double max() const { return max_; }
  const std::vector<std::string>& labels() const { return labels_; }
  const Style& style() const { return style_; }

 private:
  double min_ = 0.0;
  double max_ = 0.0;
  std::vector<std::string> labels_;
  Style style_;
};

// A non-owning view of (x, y) points: the points are read in place during
// render and never copied, so the viewed memory must outlive the Dataset.
class Dataset {
 public:
  Dataset() = default;
  explicit Dataset(std::span<const std::pair<double, double>> points)
      : Dataset(points, &std::pair<double, double>::first, &std::pair<double, double>::second) {}

  // Any record type holding its coordinates in two double members, e.g.
  // Dataset(std::span<const Sample>(v), &Sample::time, &Sample::value).
  template <class P>
  Dataset(std::span<const P> points, double P::*x, double P::*y)
      : base_(reinterpret_cast<const std::byte*>(points.data())),
        count_(points.size()),
        stride_(sizeof(P)),
        x_offset_(member_offset(x)),
        y_offset_(member_offset(y)) {}

  Dataset& style(Style s) {
    style_ = s;
    return *this;
  }

  // Calls f(x, y) for each point in order; the loop the chart draws with.
  template <class F>
  void for_each_point(F&& f) const {
    // Locals, so that stores made by f cannot force these to be read again.
    const std::byte* p = base_;
    const std::byte* const end = base_ + count_ * stride_;
    const std::size_t stride = stride_, xo = x_offset_, yo = y_offset_;
    for (; p != end; p += stride)
      f(load(p + xo), load(p + yo));
  }

  std::size_t size() const { return count_; }
  // Where the viewed points start.
  const std::byte* data() const { return base_; }
  const Style& style() const { return style_; }

 private:
  template <class P>
  static std::size_t member_offset(double P::*m) {
    // The member's byte offset within P, found on a value-initialised P.
    const P probe{};
    return static_cast<std::size_t>(reinterpret_cast<const std::byte*>(&(probe.*m)) -
                                    reinterpret_cast<const std::byte*>(&probe));
  }
  static double load(const std::byte* at) {
    double v;
    std::memcpy(&v, at, sizeof v);
    return v;
  }

  const std::byte* base_ = nullptr;
  std::size_t count_ = 0;
  std::size_t stride_ = 0;
  std::size_t x_offset_ = 0;
  std::size_t y_offset_ = 0;
  Style style_;
};

// The plot cells a chart's points fall in (row by row, 1 where a point
// lies), kept between renders with what they were computed from.
struct PlotCache {
  struct Key {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    double x_min = 0.0;
    double x_max = 0.0;
    double y_min = 0.0;
    double y_max = 0.0;
    const std::byte* points = nullptr;
    std::size_t count = 0;
    bool operator==(const Key&) const = default;
  };
  std::optional<Key> key;  // none: nothing computed yet
  std::vector<std::uint8_t> cells;
};

class Chart {
 public:
  explicit Chart(Dataset data) : data_(data) {}

  Chart& x_axis(Axis a) {
    x_axis_ = std::move(a);
    return *this;
  }
  Chart& y_axis(Axis a) {
    y_axis_ = std::move(a);
    return *this;
  }
  // Base style, patched over the whole area first.
  Chart& style(Style s) {
    style_ = s;
    return *this;
  }

  // Lends a cache kept between renders: the pass over the points is made
  // again only when the plot size, the axes' bounds or the viewed points
  // differ from the cached ones. Without one every render makes it.
  Chart& plot_cache(PlotCache* cache) {
    cache_ = cache;
    return *this;
  }

  // One pass over the points, no allocation per point.
  void render(Rect area, Buffer& buf) const;

 private:
  Dataset data_;
  PlotCache* cache_ = nullptr;
  Axis x_axis_;
  Axis y_axis_;
  Style style_;
};

}  // namespace kestrel::tui
