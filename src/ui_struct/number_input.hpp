#pragma once
// A bounded number that the user steps up and down.

#include <cstdint>

#include "ui_struct/direction.hpp"

namespace kestrel {

struct NumberInput {
  std::uint64_t value = 0;
  std::uint64_t step = 0;
  std::uint64_t min = 0;  // inclusive bounds of every step's result
  std::uint64_t max = 0;
  bool operator==(const NumberInput&) const = default;
};

// Up adds `step` (wrapping past the largest value), Down takes it away
// (stopping at 0); the result is then brought into [min, max]. A value loaded
// outside the bounds is thus clamped by its first step. Left and Right do
// nothing. When min > max the result is min.
void step_input(NumberInput& input, Direction direction);

}  // namespace kestrel
