#pragma once
// The logging facade: leveled records tagged with a module path, written to
// one shared file as "INFO [kestrel::scan] message" lines with no time stamp.

#include <chrono>
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

// The log levels the system writes: info and above everywhere.
inline constexpr std::string_view kLogSpec = "info, my::critical::module=trace";

// Parsed log levels: a default level, then module-path prefixes
// with their own levels. A prefix matches a module path equal to it or
// continuing it after "::"; the longest matching prefix wins, and a later
// entry wins over an earlier one of the same prefix.
// Text: comma-separated items, each a level (the default), a module path
// (that module at trace) or module=level; levels off, error, warn, info,
// debug, trace in any case. Without a default level only the named modules log.
struct LogSpec {
  Level default_level = Level::Off;
  std::vector<std::pair<std::string, Level>> modules;
  Level level_for(std::string_view module) const;
};
std::expected<LogSpec, LogInitError> parse_log_spec(std::string_view text);

// Starts logging to `file` (emptied when it exists), buffered and flushed
// every second by a background thread. LogInitError for an invalid spec, a
// file that cannot be opened, a thread that cannot be made (the file is then
// closed again), or a logger that is already running.
std::expected<void, LogInitError> start(const std::filesystem::path& file,
                                        std::string_view spec = kLogSpec);
// Writes the buffered records and closes the file. Safe to call twice.
void shutdown();
// Writes the buffered records out now; the logger goes on. For a crash: it
// joins no thread, and it gives up when it cannot take the log's locks
// within `wait` (the crash may hold them).
void flush(std::chrono::milliseconds wait);

// Whether a record of `level` from `module` would be written now. Cheap.
bool enabled(Level level, std::string_view module);
// Writes one line "LEVEL [module] message" when enabled (module "<unnamed>"
// when empty); a no-op before start and after shutdown.
void write(Level level, std::string_view module, std::string_view message);

// Formats into a stack buffer (no allocation for ordinary lines) and writes
// one record, only when its level is enabled for the module.
template <class... A>
void emit(Level level, std::string_view module, fmt::format_string<A...> f, A&&... a) {
  if (!enabled(level, module))
    return;
  fmt::memory_buffer line;
  fmt::format_to(fmt::appender(line), f, std::forward<A>(a)...);
  write(level, module, std::string_view(line.data(), line.size()));
}

template <class... A>
void error(std::string_view module, fmt::format_string<A...> f, A&&... a) {
  emit(Level::Error, module, f, std::forward<A>(a)...);
}
template <class... A>
void warn(std::string_view module, fmt::format_string<A...> f, A&&... a) {
  emit(Level::Warn, module, f, std::forward<A>(a)...);
}
template <class... A>
void info(std::string_view module, fmt::format_string<A...> f, A&&... a) {
  emit(Level::Info, module, f, std::forward<A>(a)...);
}
template <class... A>
void debug(std::string_view module, fmt::format_string<A...> f, A&&... a) {
  emit(Level::Debug, module, f, std::forward<A>(a)...);
}
template <class... A>
void trace(std::string_view module, fmt::format_string<A...> f, A&&... a) {
  emit(Level::Trace, module, f, std::forward<A>(a)...);
}

}  // namespace kestrel::log
