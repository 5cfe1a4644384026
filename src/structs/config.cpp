#include "structs/config.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <limits>
#include <optional>
#include <system_error>
#include <vector>

#include <fmt/format.h>
#include <toml++/toml.h>

#include "structs/number_format.hpp"

namespace kestrel {

namespace fs = std::filesystem;

namespace {

// The six keys in the declared order of SavedConfig.
constexpr std::array<std::string_view, 6> kKeys = {"port",           "baudrate", "start_frequency",
                                                   "stop_frequency", "points",   "repeat"};
constexpr std::int64_t kTomlIntMax = std::numeric_limits<std::int64_t>::max();
// The stack of the thread that parses config.toml (see kConfigSizeCap).
constexpr std::size_t kParseStack = std::size_t{4} << 20;

// A file descriptor closed on every path.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes now and reports the outcome (a close can be the first to see a write fail).
  bool close() {
    int fd = std::exchange(fd_, -1);
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool valid_utf8(std::string_view text) {
  auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
  while (left > 0) {
    utf8proc_int32_t code;
    utf8proc_ssize_t n = utf8proc_iterate(p, left, &code);
    if (n <= 0)
      return false;
    p += n;
    left -= n;
  }
  return true;
}

// Reads the whole file, but no further than one byte past `cap`: a longer
// file is refused as too large.
std::expected<std::string, IoError> read_all(int fd, std::size_t cap) {
  std::string out;
  char chunk[4096];
  for (;;) {
    const std::size_t wanted = std::min(sizeof chunk, cap + 1 - out.size());
    ssize_t n = ::read(fd, chunk, wanted);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return std::unexpected(IoError::from_errno(errno));
    if (n == 0)
      return out;
    out.append(chunk, static_cast<std::size_t>(n));
    if (out.size() > cap)
      return std::unexpected(IoError::custom(IoErrorKind::FileTooLarge,
                                             fmt::format("the file is larger than {} bytes", cap)));
  }
}

std::expected<void, IoError> write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return std::unexpected(IoError::from_errno(errno));
    if (n == 0)
      return std::unexpected(IoError::write_zero());
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

// ---- reading rules ----------------------------------------------------------

TomlReadError error_at(std::string message, const toml::source_region& where) {
  return TomlReadError(std::move(message), where.begin.line, where.begin.column);
}

// What a value is, for the invalid-type message: "integer `5`", "map", ...
std::string describe(const toml::node& v) {
  switch (v.type()) {
    case toml::node_type::string:
      return fmt::format("string {}", debug_string(v.as_string()->get()));
    case toml::node_type::integer:
      return fmt::format("integer `{}`", v.as_integer()->get());
    case toml::node_type::floating_point:
      return fmt::format("floating point `{}`", float_debug(v.as_floating_point()->get()));
    case toml::node_type::boolean:
      return fmt::format("boolean `{}`", v.as_boolean()->get());
    case toml::node_type::array:
      return "sequence";
    case toml::node_type::table:
      return "map";
    default:
      return "datetime";
  }
}

std::expected<std::string, TomlReadError> read_port(const toml::node& v) {
  if (!v.is_string())
    return std::unexpected(
        error_at(fmt::format("invalid type: {}, expected a string", describe(v)), v.source()));
  return v.as_string()->get();
}

// An integer of 0..max; `type` names the field's type in the messages.
std::expected<std::uint64_t, TomlReadError> read_unsigned(const toml::node& v, std::int64_t max,
                                                          std::string_view type) {
  if (!v.is_integer())
    return std::unexpected(
        error_at(fmt::format("invalid type: {}, expected {}", describe(v), type), v.source()));
  std::int64_t n = v.as_integer()->get();
  if (n < 0 || n > max)
    return std::unexpected(
        error_at(fmt::format("invalid value: integer `{}`, expected {}", n, type), v.source()));
  return static_cast<std::uint64_t>(n);
}

// Reads the top-level table into the record. The table iterates in key order,
// so the settings keys are first sorted back into their order in the file.
std::expected<SavedConfig, TomlReadError> read_settings(const toml::table& table) {
  std::vector<std::pair<std::size_t, const toml::node*>> found;  // key index, value
  for (auto&& [key, value] : table) {
    auto it = std::find(kKeys.begin(), kKeys.end(), key.str());
    if (it == kKeys.end())
      continue;  // unknown keys are skipped, whatever their value
    found.emplace_back(static_cast<std::size_t>(it - kKeys.begin()), &value);
  }
  std::ranges::sort(found, [](const auto& a, const auto& b) {
    auto pa = a.second->source().begin, pb = b.second->source().begin;
    return pa.line != pb.line ? pa.line < pb.line : pa.column < pb.column;
  });

  // A table holds each key once: the parser has already refused repeated keys.
  SavedConfig config;
  constexpr std::uint64_t SavedConfig::*numbers[] = {nullptr,
                                                     nullptr,
                                                     &SavedConfig::start_frequency,
                                                     &SavedConfig::stop_frequency,
                                                     &SavedConfig::points,
                                                     &SavedConfig::repeat};
  for (auto [index, value] : found) {
    if (index == 0) {
      auto port = read_port(*value);
      if (!port)
        return std::unexpected(std::move(port.error()));
      config.port = std::move(*port);
    } else if (index == 1) {
      auto rate = read_unsigned(*value, std::numeric_limits<std::uint32_t>::max(), "u32");
      if (!rate)
        return std::unexpected(std::move(rate.error()));
      config.baudrate = static_cast<std::uint32_t>(*rate);
    } else {
      auto n = read_unsigned(*value, kTomlIntMax, "u64");
      if (!n)
        return std::unexpected(std::move(n.error()));
      config.*numbers[index] = *n;
    }
  }
  for (std::size_t i = 0; i < kKeys.size(); ++i) {
    bool present = std::ranges::any_of(found, [i](const auto& f) { return f.first == i; });
    if (!present)
      return std::unexpected(TomlReadError(fmt::format("missing field `{}`", kKeys[i])));
  }
  return config;
}

// Parses the text and reads its settings on a thread with a stack of its own
// (kParseStack), joined at once, so that the caller's stack limit does not
// bound the nesting; the table is built and freed there. When no thread can
// be made (a process or thread limit), on the caller's stack: the file the
// user wrote is read all the same.
std::expected<SavedConfig, AppError> parse_on_own_stack(std::string_view text) {
  struct Job {
    std::string_view text;
    std::expected<SavedConfig, TomlReadError> result{};
    std::exception_ptr thrown{};  // any other exception, raised again by the caller
  } job{text};
  const auto run = [](void* arg) -> void* {
    Job& job = *static_cast<Job*>(arg);
    try {
      job.result = read_settings(toml::parse(job.text));  // also skips a leading byte-order mark
    } catch (const toml::parse_error& e) {
      job.result = std::unexpected(error_at(std::string(e.description()), e.source()));
    } catch (...) {
      job.thrown = std::current_exception();
    }
    return nullptr;
  };

  pthread_attr_t attr;
  pthread_t thread;
  ::pthread_attr_init(&attr);
  int err = ::pthread_attr_setstacksize(&attr, kParseStack);
  if (err == 0)
    err = ::pthread_create(&thread, &attr, run, &job);
  ::pthread_attr_destroy(&attr);
  if (err == 0)
    ::pthread_join(thread, nullptr);
  else
    run(&job);
  if (job.thrown)
    std::rethrow_exception(job.thrown);
  if (!job.result)
    return std::unexpected(AppError(app_error::InvalidConfig{std::move(job.result.error())}));
  return std::move(*job.result);
}

// ---- writing ------------------------------------------------------------------

// A TOML basic string: "text" with quote, backslash and control characters escaped.
std::string toml_basic_string(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
          out += fmt::format("\\u{:04X}", static_cast<unsigned>(c));
        else
          out += c;
    }
  }
  out += '"';
  return out;
}

// The file's text: six "key = value" lines in declared order.
std::expected<std::string, TomlWriteError> config_text(const SavedConfig& c) {
  // TOML strings are UTF-8; a port name that is not could never be read back.
  if (!valid_utf8(c.port))
    return std::unexpected(TomlWriteError("port name is not valid UTF-8"));
  const std::uint64_t numbers[] = {c.start_frequency, c.stop_frequency, c.points, c.repeat};
  for (std::uint64_t n : numbers) {
    if (n > static_cast<std::uint64_t>(kTomlIntMax))
      return std::unexpected(TomlWriteError(fmt::format("out-of-range value for u64 type: {}", n)));
  }
  return fmt::format(
      "port = {}\nbaudrate = {}\nstart_frequency = {}\nstop_frequency = {}\n"
      "points = {}\nrepeat = {}\n",
      toml_basic_string(c.port), c.baudrate, c.start_frequency, c.stop_frequency, c.points,
      c.repeat);
}

std::expected<void, IoError> errno_error() {
  return std::unexpected(IoError::from_errno(errno));
}

// Writes the text into `file`. A regular file keeps its old content whole
// unless the new text can be written whole: a text past the file-size limit
// is refused (EFBIG) and the space it needs beyond the old end is reserved
// before a byte is overwritten; the file is cut to the new length last. (Only
// the growth is reserved: where the file system cannot, glibc's stand-in reads
// the range, which a file opened for writing only refuses.) A FIFO or a device
// is written as it is.
std::expected<void, IoError> rewrite_in_place(UniqueFd& file, const struct stat& old,
                                              std::string_view text) {
  const bool regular = S_ISREG(old.st_mode);
  const auto size = static_cast<off_t>(text.size());
  if (regular) {
    rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        text.size() > limit.rlim_cur)
      return std::unexpected(IoError::from_errno(EFBIG));
    if (size > old.st_size) {
      if (int err = ::posix_fallocate(file.get(), old.st_size, size - old.st_size); err != 0)
        return std::unexpected(IoError::from_errno(err));
    }
  }
  if (auto written = write_all(file.get(), text); !written)
    return written;
  if (regular && ::ftruncate(file.get(), size) != 0)
    return errno_error();
  if (!file.close())
    return errno_error();
  return {};
}

// Gives the new file `tmp` the mode of `old` and tells whether it now matches
// `old` in mode, owner and group, so that renaming it over `old` keeps them.
bool takes_place_of(const UniqueFd& tmp, const struct stat& old) {
  struct stat fresh;
  return ::fchmod(tmp.get(), old.st_mode & 07777) == 0 && ::fstat(tmp.get(), &fresh) == 0 &&
         fresh.st_mode == old.st_mode && fresh.st_uid == old.st_uid && fresh.st_gid == old.st_gid;
}

// Fills the new file `tmp`, then closes it (reporting a write that failed late).
std::expected<void, IoError> fill(UniqueFd& tmp, std::string_view text) {
  if (auto written = write_all(tmp.get(), text); !written)
    return written;
  if (::fsync(tmp.get()) != 0 || !tmp.close())
    return errno_error();
  return {};
}

// Writes the text into config.toml, opened (not emptied) as `file`. A regular
// file with one name is replaced by a new file renamed over it, so the old
// content stays whole until the new one is complete; this is done only when
// the new file takes its mode, owner and group. Otherwise, or when the folder
// refuses the new file or the rename, the file is rewritten in place. A FIFO
// or a device (also behind a link) is always written in place.
std::expected<void, IoError> replace_contents(UniqueFd& file, const fs::path& path,
                                              std::string_view text) {
  struct stat old;
  if (::fstat(file.get(), &old) != 0)
    return errno_error();
  if (!S_ISREG(old.st_mode) || old.st_nlink != 1)
    return rewrite_in_place(file, old, text);  // a rename would split hard links
  std::error_code ec;
  fs::path target = fs::is_symlink(path, ec) ? fs::canonical(path, ec) : path;
  if (ec)
    return rewrite_in_place(file, old, text);  // a link that cannot be followed by name

  std::string name =
      (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  UniqueFd tmp(::mkostemp(name.data(), O_CLOEXEC));
  if (!tmp)
    return rewrite_in_place(file, old, text);
  // The new file is kept only when it takes the old one's place unchanged,
  // filled whole; otherwise it is removed.
  if (takes_place_of(tmp, old)) {
    if (auto filled = fill(tmp, text); !filled) {
      ::unlink(name.c_str());
      return filled;  // the old content is still whole
    }
    if (::rename(name.c_str(), target.c_str()) == 0)
      return {};
  }
  ::unlink(name.c_str());
  return rewrite_in_place(file, old, text);
}

// Opens `path` for writing without emptying it; a missing file is created
// with 0666 less the umask. The creating open is exclusive, so `created`
// names only a file that this open made: through a link to no file, the
// link's target, which is created exclusively in turn. Non-blocking, so that a
// FIFO without a reader is refused (ENXIO) instead of hanging the interface.
int open_for_save(const fs::path& path, fs::path& created) {
  constexpr int kFlags = O_WRONLY | O_NONBLOCK | O_CLOEXEC;
  fs::path name = path;
  for (int links = 0; links < 40; ++links) {  // as many as the kernel follows
    if (int fd = ::open(name.c_str(), kFlags | O_CREAT | O_EXCL, 0666); fd >= 0) {
      created = name;
      return fd;
    }
    if (errno != EEXIST)
      return -1;
    int fd = ::open(name.c_str(), kFlags);
    if (fd >= 0 || errno != ENOENT)
      return fd;
    // A link to no file, or a file removed since: try its target, or it again.
    std::error_code ec;
    fs::path target = fs::read_symlink(name, ec);
    if (!ec)
      name = name.parent_path() / target;
  }
  errno = ELOOP;
  return -1;
}

}  // namespace

std::expected<SavedConfig, AppError> load_config(const fs::path& path) {
  // Non-blocking, so that a FIFO of that name cannot hang the start-up.
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file)
    return std::unexpected(AppError(app_error::ConfigNotFound{}));
  // Only a regular file holds settings: a directory, FIFO or device of that
  // name counts as a file that cannot be opened.
  struct stat st;
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
    return std::unexpected(AppError(app_error::ConfigNotFound{}));

  auto text = read_all(file.get(), kConfigSizeCap);
  if (!text)
    return std::unexpected(AppError(app_error::OpenOutput{std::move(text.error())}));
  if (!valid_utf8(*text))
    return std::unexpected(AppError(app_error::OpenOutput{IoError::invalid_utf8()}));

  return parse_on_own_stack(*text);
}

std::expected<void, UiError> save_config(const SavedConfig& config, const fs::path& path) {
  // The text is built first, so a refused value leaves the file untouched.
  auto text = config_text(config);
  if (!text)
    return std::unexpected(UiError(ui_error::SerializeError{std::move(text.error())}));

  // Opening without emptying proves that config.toml may be written and leaves
  // its content to replace_contents; a file the failed save created is
  // removed again. Non-blocking only for the open.
  fs::path created;
  UniqueFd file(open_for_save(path, created));
  auto written =
      file && ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK) == 0
          ? replace_contents(file, path, *text)
          : errno_error();
  if (!written) {
    if (!created.empty())
      ::unlink(created.c_str());
    return std::unexpected(UiError(ui_error::KeyPress{std::move(written.error())}));
  }
  return {};
}

}  // namespace kestrel
