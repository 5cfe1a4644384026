#pragma once
// The user's last scan settings and their config.toml form.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

#include "structs/errors.hpp"

namespace kestrel {

struct SavedConfig {
  std::string port;
  std::uint32_t baudrate = 0;
  std::uint64_t start_frequency = 0;  // MHz
  std::uint64_t stop_frequency = 0;   // MHz
  std::uint64_t points = 0;
  std::uint64_t repeat = 0;
  bool operator==(const SavedConfig&) const = default;
};

// The largest config.toml read. The six settings take about 110 bytes; a
// larger file is not one this program wrote, and the cap keeps the nesting
// the TOML parser recurses through (two bytes a level, as in a.a.a = 1)
// far below what exhausts its stack (about 30,000 levels on 8 MB).
inline constexpr std::size_t kConfigSizeCap = 8192;

// Reads "config.toml" in the working directory (or `path`).
// ConfigNotFound, OpenOutput or InvalidConfig on failure; a file larger than
// kConfigSizeCap is OpenOutput (FileTooLarge), read no further than that.
std::expected<SavedConfig, AppError> load_config(const std::filesystem::path& path = "config.toml");

// Writes the six settings to "config.toml" (or `path`). A regular file of
// ours with one name is replaced whole, so a failed save keeps the old
// settings; any other file is emptied and rewritten in place, where a failed
// write can lose them. KeyPress or SerializeError on failure.
std::expected<void, UiError> save_config(const SavedConfig& config,
                                         const std::filesystem::path& path = "config.toml");

}  // namespace kestrel
