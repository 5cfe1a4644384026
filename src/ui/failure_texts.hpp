#pragma once
// The short, friendly sentence that the Failure screen shows for an error.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "structs/errors.hpp"

namespace kestrel::ui {

// One sentence per AppError variant, in the variants' declared order.
inline constexpr std::array<std::string_view, 14> ERROR_SCREEN_TEXTS{
    "An error occured while receiving data, the scan never sent back any valid data",
    "An error occured while receiving data, scan was interupted before ending properly",
    "An error occured while trying to connect, check the selected port and baudrate",
    "An error occured while trying to export the scan",
    "An error occured while trying to create the TUI",
    "An error occured during runtime",
    "An error occured while trying to parse the data points",
    "An error occured while trying to open the config file",
    "An error forbid to read the config as it seems invalid, please delete config.toml and retry",
    "An error forbit to write the config",
    "An error forbid the gathering of the version, check your TinySA is connected and powered on",
    "An error occured because the scan frequencies weren't set correctly",
    "Couldn't initialize the error logger",
    "Couldn't finish sending data to TinySA",
};
static_assert(ERROR_SCREEN_TEXTS.size() == std::variant_size_v<AppError::Variant>);

// The sentence for `error`; no error reads as NoErrorSpecified. A scan error
// takes the entry of ERROR_SCREEN_TEXTS for the AppError it carries.
std::string failure_short_text(const std::optional<UiError>& error);

}  // namespace kestrel::ui
