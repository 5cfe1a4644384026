#include "structs/logging.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <iterator>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <system_error>
#include <thread>

#include <spdlog/common.h>
#include <spdlog/details/periodic_worker.h>
#include <spdlog/formatter.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

namespace kestrel::log {

namespace {

constexpr std::size_t kFileBuffer = 64 * 1024;

using Clock = std::chrono::steady_clock;

// Takes `lock` (made with std::defer_lock) by `deadline`, trying once a
// millisecond, and at least once: a lock that a crash holds is never waited
// for without end.
template <class Lock>
bool lock_by(Lock& lock, Clock::time_point deadline) {
  while (!lock.try_lock()) {
    if (Clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

std::optional<Level> parse_level(std::string_view text) {
  static constexpr std::array<std::pair<std::string_view, Level>, 6> kNames = {{
      {"off", Level::Off},
      {"error", Level::Error},
      {"warn", Level::Warn},
      {"info", Level::Info},
      {"debug", Level::Debug},
      {"trace", Level::Trace},
  }};
  for (auto [name, level] : kNames) {
    if (same_ignoring_case(text, name))
      return level;
  }
  return std::nullopt;
}

std::string_view trim(std::string_view s) {
  constexpr std::string_view kBlank = " \t\r\n\f\v";
  auto first = s.find_first_not_of(kBlank);
  if (first == std::string_view::npos)
    return {};
  return s.substr(first, s.find_last_not_of(kBlank) - first + 1);
}

bool has_blank(std::string_view s) {
  return std::ranges::any_of(s, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

spdlog::level::level_enum to_spdlog(Level level) {
  switch (level) {
    case Level::Error:
      return spdlog::level::err;
    case Level::Warn:
      return spdlog::level::warn;
    case Level::Info:
      return spdlog::level::info;
    case Level::Debug:
      return spdlog::level::debug;
    case Level::Trace:
      return spdlog::level::trace;
    case Level::Off:
      break;
  }
  return spdlog::level::off;
}

std::string_view level_name(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::err:
    case spdlog::level::critical:
      return "ERROR";
    case spdlog::level::warn:
      return "WARN";
    case spdlog::level::info:
      return "INFO";
    case spdlog::level::debug:
      return "DEBUG";
    default:
      return "TRACE";
  }
}

// "INFO [kestrel::scan] message" and a line feed; no time stamp.
class LineFormatter final : public spdlog::formatter {
 public:
  void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override {
    auto append = [&](std::string_view s) { dest.append(s.data(), s.data() + s.size()); };
    append(level_name(msg.level));
    append(" [");
    append(std::string_view(msg.logger_name.data(), msg.logger_name.size()));
    append("] ");
    append(std::string_view(msg.payload.data(), msg.payload.size()));
    append("\n");
  }
  std::unique_ptr<spdlog::formatter> clone() const override {
    return std::make_unique<LineFormatter>();
  }
};

// The log file, emptied on opening: records are gathered in memory and
// written out when the buffer would pass kFileBuffer and on flush. A write
// that stops part way (a full disk, a file-size limit) is cut back to the end
// of the last whole record that reached the file and the rest of the buffer
// is dropped, so the file always ends in a whole record. Failed writes are
// never reported: a lost record must not end the program.
class RecordFileSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  explicit RecordFileSink(const std::filesystem::path& file)
      : base_sink(std::make_unique<LineFormatter>()),
        // O_APPEND: after a cut, the next write starts at the new end.
        fd_(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666)) {
    if (fd_ < 0) {
      const int error = errno;
      spdlog::throw_spdlog_ex("Failed opening file " + file.string() + " for writing", error);
    }
    buffer_.reserve(kFileBuffer);
  }
  ~RecordFileSink() override { ::close(fd_); }

  // As flush(), unless the lock cannot be had by `deadline`.
  void flush_by(Clock::time_point deadline) {
    std::unique_lock lock(mutex_, std::defer_lock);
    if (lock_by(lock, deadline))
      write_out();
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    spdlog::memory_buf_t record;
    formatter_->format(msg, record);
    if (buffer_.size() + record.size() > kFileBuffer)
      write_out();
    buffer_.append(record.data(), record.size());
    record_ends_.push_back(buffer_.size());
  }

  void flush_() override { write_out(); }

 private:
  void write_out() {
    std::size_t written = 0;
    while (written < buffer_.size()) {
      const ssize_t n = ::write(fd_, buffer_.data() + written, buffer_.size() - written);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      written += static_cast<std::size_t>(n);
    }
    if (written < buffer_.size()) {
      // Records may hold line feeds, so the cut goes by the recorded ends.
      const auto after = std::ranges::upper_bound(record_ends_, written);
      const std::size_t whole = after == record_ends_.begin() ? 0 : *std::prev(after);
      if (::ftruncate(fd_, file_size_ + static_cast<off_t>(whole)) == 0)
        written = whole;
    }
    file_size_ += static_cast<off_t>(written);
    buffer_.clear();
    record_ends_.clear();
  }

  int fd_;
  off_t file_size_ = 0;  // what this sink has left in the file
  std::string buffer_;
  std::vector<std::size_t> record_ends_;  // offsets in buffer_ just past each record
};

// A running logger: the file sink shared by one spdlog logger per module path.
class Backend {
 public:
  Backend(const std::filesystem::path& file, LogSpec spec)
      : spec_(std::move(spec)), sink_(std::make_shared<RecordFileSink>(file)) {
    for (std::string_view module : {kMain, kScan, kUi})
      loggers_.push_back(make_logger(module));
    try {
      flusher_ = std::make_unique<spdlog::details::periodic_worker>(
          [sink = sink_] { sink->flush(); }, std::chrono::seconds(1));
    } catch (const std::system_error& e) {  // no thread can be made (a process limit)
      spdlog::throw_spdlog_ex("Failed starting the thread that flushes the log", e.code().value());
    }
  }

  // Stops the flusher, then writes out what is buffered; the file closes with the sink.
  ~Backend() {
    flusher_.reset();
    sink_->flush();
  }

  const LogSpec& spec() const { return spec_; }
  void flush_by(Clock::time_point deadline) { sink_->flush_by(deadline); }

  // The logger of a module path, made on first use for paths other than the system's three.
  spdlog::logger& logger_for(std::string_view module) {
    if (module.empty())
      module = "<unnamed>";
    for (const auto& l : loggers_) {
      if (l->name() == module)
        return *l;
    }
    std::lock_guard lock(extra_mutex_);
    for (const auto& l : extra_loggers_) {
      if (l->name() == module)
        return *l;
    }
    return *extra_loggers_.emplace_back(make_logger(module));
  }

 private:
  std::shared_ptr<spdlog::logger> make_logger(std::string_view module) const {
    auto logger = std::make_shared<spdlog::logger>(std::string(module), sink_);
    logger->set_level(spdlog::level::trace);               // filtering is the spec's job
    logger->set_error_handler([](const std::string&) {});  // never print on the terminal
    return logger;
  }

  LogSpec spec_;
  std::shared_ptr<RecordFileSink> sink_;
  std::vector<std::shared_ptr<spdlog::logger>> loggers_;
  std::mutex extra_mutex_;
  std::vector<std::shared_ptr<spdlog::logger>> extra_loggers_;
  std::unique_ptr<spdlog::details::periodic_worker> flusher_;
};

// Never destroyed, so that a thread still logging at exit finds it intact.
struct Facade {
  std::shared_mutex mutex;  // shared by records, exclusive for start and shutdown
  std::unique_ptr<Backend> backend;
  // The most verbose level that any module may write; Off when stopped.
  std::atomic<Level> most_verbose = Level::Off;
};

Facade& facade() {
  static Facade* f = new Facade;
  return *f;
}

}  // namespace

Level LogSpec::level_for(std::string_view module) const {
  Level level = default_level;
  std::size_t best = 0;
  bool found = false;
  for (const auto& [prefix, prefix_level] : modules) {
    bool matches = module.starts_with(prefix) && (module.size() == prefix.size() ||
                                                  module.substr(prefix.size()).starts_with("::"));
    if (matches && (!found || prefix.size() >= best)) {
      found = true;
      best = prefix.size();
      level = prefix_level;
    }
  }
  return level;
}

std::expected<LogSpec, LogInitError> parse_log_spec(std::string_view text) {
  if (text.find('/') != std::string_view::npos)
    return std::unexpected(LogInitError(fmt::format("text filters are not supported: '{}'", text)));
  LogSpec spec;
  while (!text.empty()) {
    auto comma = text.find(',');
    std::string_view item = trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    if (item.empty())
      continue;

    auto eq = item.find('=');
    std::string_view module = trim(item.substr(0, eq));
    std::string_view level_text = eq == std::string_view::npos ? "" : trim(item.substr(eq + 1));
    if (level_text.find('=') != std::string_view::npos)
      return std::unexpected(LogInitError(fmt::format("invalid part in log spec '{}'", item)));
    if (module.empty() || has_blank(module))
      return std::unexpected(
          LogInitError(fmt::format("invalid module name in log spec '{}'", item)));

    if (eq == std::string_view::npos) {
      if (auto level = parse_level(module)) {
        spec.default_level = *level;
        continue;
      }
    }
    Level level = Level::Trace;  // a module named alone, or "module=", logs everything
    if (!level_text.empty()) {
      auto parsed = parse_level(level_text);
      if (!parsed)
        return std::unexpected(LogInitError(fmt::format("unknown level filter: {}", level_text)));
      level = *parsed;
    }
    spec.modules.emplace_back(std::string(module), level);
  }
  return spec;
}

std::expected<void, LogInitError> start(const std::filesystem::path& file, std::string_view spec) {
  auto parsed = parse_log_spec(spec);
  if (!parsed)
    return std::unexpected(std::move(parsed.error()));
  Level most_verbose = parsed->default_level;
  for (const auto& entry : parsed->modules)
    most_verbose = std::max(most_verbose, entry.second);

  Facade& f = facade();
  std::unique_lock lock(f.mutex);
  if (f.backend)
    return std::unexpected(LogInitError("the logger is already running"));
  try {
    f.backend = std::make_unique<Backend>(file, std::move(*parsed));
  } catch (const spdlog::spdlog_ex& e) {
    return std::unexpected(LogInitError(e.what()));
  }
  f.most_verbose.store(most_verbose, std::memory_order_relaxed);
  return {};
}

void shutdown() {
  Facade& f = facade();
  std::unique_lock lock(f.mutex);
  f.most_verbose.store(Level::Off, std::memory_order_relaxed);
  f.backend.reset();
}

void flush(std::chrono::milliseconds wait) {
  const Clock::time_point deadline = Clock::now() + wait;
  Facade& f = facade();
  std::shared_lock lock(f.mutex, std::defer_lock);
  if (lock_by(lock, deadline) && f.backend)
    f.backend->flush_by(deadline);
}

namespace {

// Whether the running backend takes the record; the caller holds the mutex.
bool admits(const Facade& f, Level level, std::string_view module) {
  return level != Level::Off && f.backend && level <= f.backend->spec().level_for(module);
}

}  // namespace

bool enabled(Level level, std::string_view module) {
  Facade& f = facade();
  if (level > f.most_verbose.load(std::memory_order_relaxed))
    return false;
  std::shared_lock lock(f.mutex);
  return admits(f, level, module);
}

void write(Level level, std::string_view module, std::string_view message) {
  Facade& f = facade();
  std::shared_lock lock(f.mutex);
  if (!admits(f, level, module))
    return;
  f.backend->logger_for(module).log(spdlog::source_loc{}, to_spdlog(level),
                                    spdlog::string_view_t(message.data(), message.size()));
}

}  // namespace kestrel::log
