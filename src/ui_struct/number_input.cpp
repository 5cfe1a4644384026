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
  if (candidate < input.min) {
    candidate = input.min;
  } else if (candidate > input.max) {
    candidate = input.max;
  }
  input.value = candidate;
}

}  // namespace kestrel
