#include "tui/layout.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>

namespace kestrel::tui {

namespace {

using Kind = Constraint::Kind;

// Cuts the areas of `group` down to `keep` cells in all, each keeping a share
// in proportion to its size; the cells that the rounding down leaves go to
// the largest remainders, earlier areas first on ties.
void shrink(std::vector<std::uint64_t>& sizes, const std::vector<std::size_t>& group,
            std::uint64_t keep) {
  std::uint64_t total = 0;
  for (std::size_t i : group)
    total += sizes[i];
  if (keep >= total)
    return;
  std::vector<std::uint64_t> remainder(group.size());
  std::uint64_t given = 0;
  for (std::size_t k = 0; k < group.size(); ++k) {
    const std::uint64_t share = keep * sizes[group[k]];
    sizes[group[k]] = share / total;
    remainder[k] = share % total;
    given += sizes[group[k]];
  }
  std::vector<std::size_t> order(group.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return remainder[a] > remainder[b]; });
  for (std::size_t k = 0; given < keep; ++k, ++given)
    ++sizes[group[order[k]]];
}

std::vector<std::size_t> indices_of(const std::vector<Constraint>& constraints, Kind kind) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < constraints.size(); ++i) {
    if (constraints[i].kind == kind)
      out.push_back(i);
  }
  return out;
}

std::vector<std::uint64_t> sizes_along(const std::vector<Constraint>& constraints,
                                       std::uint64_t length) {
  std::vector<std::uint64_t> sizes;
  sizes.reserve(constraints.size());
  for (const Constraint& c : constraints) {
    sizes.push_back(c.kind == Kind::Percentage
                        ? length * std::min<std::uint64_t>(c.value, 100) / 100
                        : c.value);
  }
  const std::uint64_t wanted = std::accumulate(sizes.begin(), sizes.end(), std::uint64_t{0});
  if (wanted > length) {
    std::uint64_t excess = wanted - length;
    for (Kind kind : {Kind::Percentage, Kind::Length, Kind::Min}) {
      const auto group = indices_of(constraints, kind);
      std::uint64_t group_total = 0;
      for (std::size_t i : group)
        group_total += sizes[i];
      const std::uint64_t cut = std::min(excess, group_total);
      shrink(sizes, group, group_total - cut);
      excess -= cut;
    }
  } else if (const auto mins = indices_of(constraints, Kind::Min); !mins.empty()) {
    const std::uint64_t spare = length - wanted;
    for (std::size_t k = 0; k < mins.size(); ++k) {
      sizes[mins[k]] += spare / mins.size() + (k < spare % mins.size() ? 1 : 0);
    }
  }
  return sizes;
}

}  // namespace

Layout Layout::vertical(std::vector<Constraint> constraints) {
  return Layout(true, std::move(constraints));
}

Layout Layout::horizontal(std::vector<Constraint> constraints) {
  return Layout(false, std::move(constraints));
}

std::vector<Rect> Layout::split(Rect area) const {
  // Measured by the edges, which saturate, so no area can pass the parent's.
  const std::uint16_t length = vertical_ ? area.bottom() - area.top() : area.right() - area.left();
  const auto sizes = sizes_along(constraints_, length);
  std::vector<Rect> areas;
  areas.reserve(sizes.size());
  std::uint16_t pos = vertical_ ? area.y : area.x;
  for (std::uint64_t size : sizes) {
    const auto n = static_cast<std::uint16_t>(size);
    areas.push_back(vertical_ ? Rect{area.x, pos, area.width, n}
                              : Rect{pos, area.y, n, area.height});
    pos = static_cast<std::uint16_t>(pos + n);
  }
  return areas;
}

}  // namespace kestrel::tui
