#pragma once
// What the program starts with: the name of its log file and the interface
// state that the first screen shows.

#include <array>
#include <chrono>
#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "structs/config.hpp"
#include "structs/errors.hpp"
#include "ui/app_state.hpp"

namespace kestrel::shell {

// "<program file's stem>_<local time as %Y-%m-%d_%H-%M-%S>.log", for example
// kestrel_2024-05-01_14-03-22.log. `program` is the program's path as the
// first command-line argument gives it; "kestrel" stands in when it is empty.
std::string log_file_name(std::string_view program, std::chrono::system_clock::time_point now);

// Port names tried for the first port selection, after the saved port.
// "/dev/ttyACM0" is the name a TinySA gets on Linux.
inline constexpr std::array<std::string_view, 4> kPortCandidates{"/dev/ttyACM0", "COM3", "COM5",
                                                                 "/dev/ttyS16"};

// The index of the first port equal to the first candidate present (`saved`,
// then kPortCandidates; names compared exactly), or 0 when none is present.
std::size_t initial_port_index(const std::vector<std::string>& ports,
                               const std::optional<std::string>& saved);

// The state of the first screen: the saved settings in the four inputs and
// their rate and port selected (a failed load counts as no file: defaults
// 240, 960, 10001 and 1 MHz/points/repeat, 115200), the ports in the order
// given, one ConnectionInfo with fresh cells, and the two list widgets with
// the selection highlight (blue background, italic).
ui::AppState initial_state(const std::expected<SavedConfig, AppError>& settings,
                           std::vector<std::string> ports);

}  // namespace kestrel::shell
