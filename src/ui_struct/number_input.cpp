#include "ui_struct/number_input.hpp"

namespace kestrel {

void step_input(NumberInput& input, Direction direction) {
  std::uint64_t candidate = 0;
  switch (direction) {
    case Direction::Up:
      candidate = input.value + input.step;
      break;
    case Direction::Down:
      candidate = input.step <= input.value ? input.value - input.step : 0;
      break;
    case Direction::Right:
    case Direction::Left:
      return;
  }
  // max first, then min, so that an input built with min > max settles on min.
  if (candidate > input.max)
    candidate = input.max;
  if (candidate < input.min)
    candidate = input.min;
  input.value = candidate;
}

}  // namespace kestrel
