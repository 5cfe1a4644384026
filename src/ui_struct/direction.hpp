#pragma once
// The key direction handed to the interface's key actions.

#include <cstdint>

namespace kestrel {

enum class Direction : std::uint8_t {
  Up = 0,
  Down = 1,
  Right = 2,
  Left = 3,
};

}  // namespace kestrel
