#pragma once
// The logging facade: leveled records tagged with a module path, written to
// one shared file as "INFO [kestrel::scan] message" lines with no time stamp.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "structs/errors.hpp"

namespace kestrel::log {

enum class Level : std::uint8_t { Off = 0, Error, Warn, Info, Debug, Trace };

inline constexpr std::string_view kMain = "kestrel";
inline constexpr std::string_view kScan = "kestrel::scan";
inline constexpr std::string_view kUi = "kestrel::ui";

// The system's level specification.
inline constexpr std::string_view kLogSpec = "info, my::critical::module=trace";

// A parsed level specification: a default level, then module-path prefixes
// with their own levels (the longest matching prefix wins).
struct LogSpec {
  Level default_level = Level::Error;
  std::vector<std::pair<std::string, Level>> modules;
  Level level_for(std::string_view module) const;
};
std::expected<LogSpec, LogInitError> parse_log_spec(std::string_view text);

// Starts logging to `file` (emptied when it exists), buffered and flushed
// every second by a background thread.
std::expected<void, LogInitError> start(const std::filesystem::path& file,
                                        std::string_view spec = kLogSpec);
// Writes the buffered records and closes the file. Safe to call twice.
void shutdown();

bool enabled(Level level, std::string_view module);
void write(Level level, std::string_view module, std::string_view message);

template <class... A>
void error(std::string_view module, fmt::format_string<A...> f, A&&... a) {
  if (enabled(Level::Error, module)) write(Level::Error, module, fmt::format(f, std::forward<A>(a)...));
}
template <class... A>
void warn(std::string_view module, fmt::format_string<A...> f, A&&... a) {
  if (enabled(Level::Warn, module)) write(Level::Warn, module, fmt::format(f, std::forward<A>(a)...));
}
template <class... A>
void info(std::string_view module, fmt::format_string<A...> f, A&&... a) {
  if (enabled(Level::Info, module)) write(Level::Info, module, fmt::format(f, std::forward<A>(a)...));
}
template <class... A>
void debug(std::string_view module, fmt::format_string<A...> f, A&&... a) {
  if (enabled(Level::Debug, module)) write(Level::Debug, module, fmt::format(f, std::forward<A>(a)...));
}
template <class... A>
void trace(std::string_view module, fmt::format_string<A...> f, A&&... a) {
  if (enabled(Level::Trace, module)) write(Level::Trace, module, fmt::format(f, std::forward<A>(a)...));
}

}  // namespace kestrel::log
