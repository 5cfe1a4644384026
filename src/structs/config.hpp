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
// larger file is not one this program wrote, and the cap bounds the nesting
// the TOML parser recurses through (two bytes a level, as in a.a.a = 1, so
// about 4,100 levels). The deepest such file needs 1.1 MiB of stack to parse
// and 0.3 MiB to free, the same in the plain and the ASan build (the parser
// is a prebuilt library). So the parse runs on a thread with a 4 MiB stack of
// its own, nearly four times that, whatever the stack limit of the caller;
// when no thread can be made, on the caller's stack.
inline constexpr std::size_t kConfigSizeCap = 8192;

// Reads "config.toml" in the working directory (or `path`).
// ConfigNotFound, OpenOutput or InvalidConfig on failure; a file larger than
// kConfigSizeCap is OpenOutput (FileTooLarge), read no further than that.
std::expected<SavedConfig, AppError> load_config(const std::filesystem::path& path = "config.toml");

// Writes the six settings to "config.toml" (or `path`). A failed save keeps
// the old settings whole: a regular file of ours with one name is replaced by
// a complete new one; any other regular file is rewritten in place only after
// its new length is known to fit the file-size limit and is reserved on disk.
// A FIFO or a device is written as it is. A file that the failed save itself
// created (config.toml, or the target of a link to no file) is removed.
// KeyPress or SerializeError on failure.
std::expected<void, UiError> save_config(const SavedConfig& config,
                                         const std::filesystem::path& path = "config.toml");

}  // namespace kestrel
