#pragma once
// The ten selectable serial line rates, in bits per second. A rate's place in
// kBaudrates is its index in the interface's baud-rate list.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrel {

enum class Baudrate : std::uint32_t {
  B19200 = 19200,
  B38400 = 38400,
  B57600 = 57600,
  B115200 = 115200,
  B230400 = 230400,
  B460800 = 460800,
  B921600 = 921600,
  B1843200 = 1843200,
  B2000000 = 2000000,
  B3000000 = 3000000,
};

inline constexpr std::array<Baudrate, 10> kBaudrates{
    Baudrate::B19200,   Baudrate::B38400,   Baudrate::B57600,  Baudrate::B115200,
    Baudrate::B230400,  Baudrate::B460800,  Baudrate::B921600, Baudrate::B1843200,
    Baudrate::B2000000, Baudrate::B3000000,
};

// Index of 115200, the rate selected when nothing else decides.
inline constexpr std::size_t kDefaultBaudrateIndex = 3;

// The rate at `index` in table order, or none past the table's end.
constexpr std::optional<std::uint32_t> baudrate_at(std::size_t index) {
  if (index >= kBaudrates.size())
    return std::nullopt;
  return static_cast<std::uint32_t>(kBaudrates[index]);
}

// The index of the first table entry equal to `rate`, or none for a rate that
// is not selectable.
constexpr std::optional<std::size_t> baudrate_index(std::uint32_t rate) {
  for (std::size_t i = 0; i < kBaudrates.size(); ++i) {
    if (static_cast<std::uint32_t>(kBaudrates[i]) == rate)
      return i;
  }
  return std::nullopt;
}

}  // namespace kestrel
