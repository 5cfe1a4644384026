// config.toml: reading rules, the exact text written, and saves that fail
// without losing the previous settings.

#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <csignal>
#include <functional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "structs/config.hpp"
#include "temp_dir.hpp"

namespace kestrel {

// Found by GoogleTest next to SavedConfig.
void PrintTo(const SavedConfig& c, std::ostream* os) {
  *os << "{" << c.port << ", " << c.baudrate << ", " << c.start_frequency << ", "
      << c.stop_frequency << ", " << c.points << ", " << c.repeat << "}";
}

namespace {

using ::testing::HasSubstr;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

const SavedConfig kExample{"COM3", 115200, 240, 960, 10001, 1};
SavedConfig value_of(const std::expected<SavedConfig, AppError>& r) {
  if (r)
    return *r;
  ADD_FAILURE() << "refused: " << debug_string(r.error());
  return {};
}

const SavedConfig kOther{"COM9", 115200, 240, 960, 10001, 1};
const std::string kExampleText =
    "port = \"COM3\"\nbaudrate = 115200\nstart_frequency = 240\nstop_frequency = 960\n"
    "points = 10001\nrepeat = 1\n";

// Runs `body` in a child process and tells whether it returned true within
// five seconds; a hang ends the child instead of the test run.
bool passes_in_child(const std::function<bool()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(5);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs `body` on a thread with 512 KiB of stack, the least stack limit the
// program is to start under.
void on_small_stack(std::function<void()> body) {
  pthread_attr_t attr;
  ASSERT_EQ(::pthread_attr_init(&attr), 0);
  ASSERT_EQ(::pthread_attr_setstacksize(&attr, 512 * 1024), 0);
  const auto run = [](void* f) -> void* {
    (*static_cast<std::function<void()>*>(f))();
    return nullptr;
  };
  pthread_t thread;
  ASSERT_EQ(::pthread_create(&thread, &attr, run, &body), 0);
  ::pthread_join(thread, nullptr);
  ::pthread_attr_destroy(&attr);
}

// Saves kOther to `path` in a child process whose files may not grow past
// `limit` bytes, ignoring SIGXFSZ as the program does; tells whether the save
// failed as KeyPress EFBIG.
bool save_fails_past_size_limit(const std::filesystem::path& path, rlim_t limit) {
  return passes_in_child([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit fsize{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &fsize);
    auto r = save_config(kOther, path);
    return !r && r.error().is<ui_error::KeyPress>() &&
           r.error().get<ui_error::KeyPress>()->error.os_code() == EFBIG;
  });
}

class ConfigFile : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return dir_ / "config.toml"; }

  std::expected<SavedConfig, AppError> load(const std::string& text) const {
    write_file(file(), text);
    return load_config(file());
  }

  // The record of an accepted file.
  SavedConfig loaded(const std::string& text) const { return value_of(load(text)); }

  // The TOML error of a refused file.
  TomlReadError refused(const std::string& text) const {
    auto r = load(text);
    EXPECT_FALSE(r) << text;
    if (r)
      return TomlReadError("loaded");
    const auto* invalid = r.error().get<app_error::InvalidConfig>();
    EXPECT_NE(invalid, nullptr) << r.error().display();
    return invalid ? invalid->error : TomlReadError("not InvalidConfig");
  }

  // Saves kOther over the example file of mode `file_mode`, in a folder of
  // mode `dir_mode` (by default one that only its owner may change), from a
  // child process; when the tests run as root the child drops to the user
  // nobody first, so the modes are enforced.
  // Returns "ok", "KeyPress <errno>" or another failure description.
  std::string save_over_example_as_unprivileged(mode_t file_mode, mode_t dir_mode = 0755) const {
    ::chmod(dir_.path().c_str(), dir_mode);
    write_file(file(), kExampleText);
    ::chmod(file().c_str(), file_mode);
    int pipe_fds[2];
    EXPECT_EQ(::pipe(pipe_fds), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(pipe_fds[0]);
      if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        ::_exit(2);
      auto r = save_config(kOther, file());
      std::string out = "ok";
      if (!r) {
        const auto* key = r.error().get<ui_error::KeyPress>();
        out = key ? "KeyPress " + std::to_string(key->error.os_code().value_or(-1))
                  : std::string(r.error().name());
      }
      ssize_t n = ::write(pipe_fds[1], out.data(), out.size());
      ::_exit(n == static_cast<ssize_t>(out.size()) ? 0 : 3);
    }
    ::close(pipe_fds[1]);
    std::string out;
    char buf[256];
    for (ssize_t n; (n = ::read(pipe_fds[0], buf, sizeof buf)) > 0;)
      out.append(buf, n);
    ::close(pipe_fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return out;
  }

  TempDir dir_;
};

// ---- reading ------------------------------------------------------------------

TEST_F(ConfigFile, ExampleAndEquivalentSpellingsLoad) {
  EXPECT_EQ(loaded(kExampleText), kExample);
  EXPECT_EQ(loaded("# saved settings\n\nrepeat = 1\npoints = 10_001\n\"port\" = 'COM3'\n"
                   "stop_frequency = 960 # MHz\nbaudrate = 0x1C200\n  start_frequency=0o360\n"),
            kExample);
  EXPECT_EQ(loaded("\xEF\xBB\xBF" + kExampleText), kExample);
  EXPECT_EQ(loaded("port = \"\"\nbaudrate = 0\nstart_frequency = 5000\nstop_frequency = 0\n"
                   "points = 0\nrepeat = 0b11\n"),
            (SavedConfig{"", 0, 5000, 0, 0, 3}));
  EXPECT_EQ(loaded("port = \"COM3\"\nbaudrate = 12345\nstart_frequency = 9223372036854775807\n"
                   "stop_frequency = 960\npoints = 10001\nrepeat = 1\n"),
            (SavedConfig{"COM3", 12345, 9223372036854775807u, 960, 10001, 1}));
}

TEST_F(ConfigFile, UnknownKeysOfAnyKindAreSkipped) {
  EXPECT_EQ(
      loaded("name = \"x\"\n" + kExampleText + "other = 5\nlist = [1, 2]\n[extra]\nport = 7\n"),
      kExample);
}

TEST_F(ConfigFile, MissingKeysNameTheFirstInDeclaredOrder) {
  EXPECT_THAT(refused("").message(), HasSubstr("`port`"));
  EXPECT_THAT(refused("Port = \"COM3\"\nbaudrate = 115200\n").message(),
              HasSubstr("missing field `port`"));
  EXPECT_THAT(refused("[settings]\n" + kExampleText).message(), HasSubstr("`port`"));
  EXPECT_THAT(refused("repeat = 1\nport = \"COM3\"\npoints = 1\n").message(),
              HasSubstr("`baudrate`"));
}

TEST_F(ConfigFile, WrongTypesAndRangesAreRefusedWithTheirPosition) {
  std::string head = "port = \"COM3\"\nbaudrate = 115200\n";
  std::string tail = "stop_frequency = 960\npoints = 10001\nrepeat = 1\n";

  TomlReadError e = refused(head + "start_frequency = 240.0\n" + tail);
  EXPECT_THAT(e.message(), HasSubstr("invalid type"));
  EXPECT_EQ(e.line(), 3u);
  EXPECT_EQ(e.column(), 19u);
  EXPECT_THAT(refused("port = 3\n").message(), HasSubstr("invalid type"));
  EXPECT_THAT(refused("port = \"a\"\nbaudrate = \"115200\"\n").message(),
              HasSubstr("invalid type"));
  EXPECT_THAT(refused("port.name = \"a\"\n").message(), HasSubstr("invalid type"));
  EXPECT_THAT(refused("port = \"a\"\nbaudrate = 4294967296\n").message(),
              HasSubstr("invalid value"));
  EXPECT_THAT(refused(head + "start_frequency = 1\nstop_frequency = 2\npoints = -1\n").message(),
              HasSubstr("invalid value"));
}

TEST_F(ConfigFile, FirstViolationInFileOrderIsReported) {
  // The table is kept sorted by key; the error must still follow the file.
  EXPECT_THAT(refused("points = -1\nbaudrate = \"x\"\n").message(), HasSubstr("invalid value"));
  EXPECT_THAT(refused("baudrate = \"x\"\npoints = -1\n").message(), HasSubstr("invalid type"));
}

TEST_F(ConfigFile, SyntaxErrorsAndDuplicatesAreInvalidConfig) {
  TomlReadError dup = refused(kExampleText + "port = \"COM4\"\n");
  EXPECT_EQ(dup.line(), 7u);
  refused("port = \n");
  refused("port = \"COM3\"\nbaudrate = 99999999999999999999\n");
}

TEST_F(ConfigFile, UnreadableFiles) {
  auto missing = load_config(dir_ / "absent.toml");
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.error().is<app_error::ConfigNotFound>());

  std::filesystem::create_directory(file());
  auto directory = load_config(file());
  ASSERT_FALSE(directory);
  EXPECT_TRUE(directory.error().is<app_error::ConfigNotFound>());
  std::filesystem::remove(file());

  // "port = 1" in UTF-16 with its byte-order mark.
  auto utf16 =
      load(std::string("\xFF\xFEp\0o\0r\0t\0 \0=\0 \0"
                       "1\0\n\0",
                       20));
  ASSERT_FALSE(utf16);
  const auto* open = utf16.error().get<app_error::OpenOutput>();
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->error.kind(), IoErrorKind::InvalidData);
  EXPECT_EQ(open->error.message(), "stream did not contain valid UTF-8");
}

// The TOML parser recurses once per level of a dotted key or a table header;
// the deepest of each that fit under the size cap are read whole (and lack
// the settings), even on a small stack, and also when no thread can be made
// (on a stack of the usual size); a syntax error is reported from the parse
// as well, and a file one byte over the cap is not read at all.
TEST_F(ConfigFile, FilesUpToTheSizeCapAreReadTheDeepestIncluded) {
  const auto at_cap = [](std::string text, std::string_view end) {
    while (text.size() + 2 + end.size() <= kConfigSizeCap)
      text += ".a";
    text += end;
    text.insert(text.size() - 1, kConfigSizeCap - text.size(), ' ');
    return text;
  };
  const auto read_each = [&] {
    for (const std::string& deepest : {at_cap("a", " = 1\n"), at_cap("[a", "]\n")}) {
      ASSERT_EQ(deepest.size(), kConfigSizeCap);
      EXPECT_THAT(refused(deepest).message(), HasSubstr("missing field `port`"));
    }
    EXPECT_EQ(refused("port = \n").line(), 1u);

    const std::string full = at_cap(kExampleText + "#", "\n");
    EXPECT_EQ(loaded(full), kExample);
    auto over = load(full + "\n");
    ASSERT_FALSE(over);
    const auto* open = over.error().get<app_error::OpenOutput>();
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->error.kind(), IoErrorKind::FileTooLarge);
    EXPECT_EQ(open->error.message(), "the file is larger than 8192 bytes");
  };
  on_small_stack(read_each);

  // Again in a child that may run no more processes or threads than it has
  // (root is not bound by that limit, so as root the child becomes nobody):
  // the parse then runs on the caller's own stack.
  ::chmod(dir_.path().c_str(), 0777);
  std::filesystem::remove(file());
  EXPECT_TRUE(passes_in_child([&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
      return false;
    const rlimit none{0, 0};
    pthread_t thread;
    if (::setrlimit(RLIMIT_NPROC, &none) != 0 ||
        ::pthread_create(
            &thread, nullptr, [](void*) -> void* { return nullptr; }, nullptr) != EAGAIN)
      return false;
    read_each();
    return !HasFailure();
  }));
}

// ---- writing ------------------------------------------------------------------

TEST_F(ConfigFile, ExampleIsWrittenByteForByteAndReadsBack) {
  ASSERT_TRUE(save_config(kExample, file()));
  std::string text = read_file(file());
  EXPECT_EQ(text.size(), 101u);
  EXPECT_EQ(text, kExampleText);
  EXPECT_EQ(value_of(load_config(file())), kExample);
}

TEST_F(ConfigFile, PortNamesNeedingEscapesReadBack) {
  SavedConfig c{"C:\\dev \"x\"\x01\t\n\x7f/é", 0, 0, 0, 0, 9223372036854775807u};
  ASSERT_TRUE(save_config(c, file()));
  EXPECT_THAT(read_file(file()),
              HasSubstr("port = \"C:\\\\dev \\\"x\\\"\\u0001\\t\\n\\u007F/é\"\n"));
  EXPECT_EQ(value_of(load_config(file())), c);
}

TEST_F(ConfigFile, RefusedValuesLeaveTheFileUntouched) {
  write_file(file(), kExampleText);
  SavedConfig big = kExample;
  big.points = 9223372036854775808u;
  auto r = save_config(big, file());
  ASSERT_FALSE(r);
  const auto* s = r.error().get<ui_error::SerializeError>();
  ASSERT_NE(s, nullptr);
  EXPECT_THAT(s->error.message(), HasSubstr("out-of-range value for u64 type"));

  SavedConfig bad_text = kExample;
  bad_text.port = "COM\xFF";
  EXPECT_TRUE(save_config(bad_text, file()).error().is<ui_error::SerializeError>());
  EXPECT_EQ(read_file(file()), kExampleText);

  auto fresh = save_config(big, dir_ / "new.toml");
  EXPECT_FALSE(fresh);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "new.toml"));
}

TEST_F(ConfigFile, ModesAndLinksAreKept) {
  // A new file gets 0666 less the umask.
  for (mode_t mask : {002, 027}) {
    std::filesystem::remove(file());
    mode_t old_mask = ::umask(mask);
    ASSERT_TRUE(save_config(kExample, file()));
    ::umask(old_mask);
    EXPECT_EQ(std::filesystem::status(file()).permissions(), std::filesystem::perms(0666 & ~mask));
  }

  ::chmod(file().c_str(), 0600);
  ASSERT_TRUE(save_config(kExample, file()));
  EXPECT_EQ(std::filesystem::status(file()).permissions(), std::filesystem::perms(0600));

  // Both names of a hard-linked file see the new text.
  const std::filesystem::path twin = dir_ / "twin.toml";
  std::filesystem::create_hard_link(file(), twin);
  SavedConfig linked = kOther;
  linked.repeat = 2;
  ASSERT_TRUE(save_config(linked, file()));
  EXPECT_EQ(std::filesystem::hard_link_count(file()), 2u);
  EXPECT_EQ(value_of(load_config(twin)), linked);
  std::filesystem::remove(twin);

  std::filesystem::path real = dir_ / "real.toml";
  std::filesystem::rename(file(), real);
  std::filesystem::create_symlink("real.toml", file());
  ASSERT_TRUE(save_config(kOther, file()));
  EXPECT_TRUE(std::filesystem::is_symlink(file()));
  EXPECT_EQ(value_of(load_config(real)), kOther);
  // Nothing left behind but the two names.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2);
}

TEST_F(ConfigFile, DirectoryInTheWayIsKeyPress) {
  std::filesystem::create_directory(file());
  auto r = save_config(kExample, file());
  ASSERT_FALSE(r);
  const auto* key = r.error().get<ui_error::KeyPress>();
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->error.os_code(), EISDIR);
}

TEST_F(ConfigFile, ReadOnlyFileIsKeyPressAndKeepsItsContent) {
  EXPECT_EQ(save_over_example_as_unprivileged(0444), "KeyPress " + std::to_string(EACCES));
  EXPECT_EQ(read_file(file()), kExampleText);
}

TEST_F(ConfigFile, WritableFileInReadOnlyFolderIsRewrittenInPlace) {
  EXPECT_EQ(save_over_example_as_unprivileged(0666), "ok");
  EXPECT_EQ(value_of(load_config(file())), kOther);
}

TEST_F(ConfigFile, FileOfAnotherUserInStickyFolderIsRewrittenInPlace) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to save as another user";
  // As in /tmp: the file may be written by us, but only its owner may rename it.
  write_file(file(), "");
  struct stat before {};
  ASSERT_EQ(::stat(file().c_str(), &before), 0);
  EXPECT_EQ(save_over_example_as_unprivileged(0666, 01777), "ok");
  struct stat after {};
  ASSERT_EQ(::stat(file().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(value_of(load_config(file())), kOther);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

// Files may not grow past a few bytes: the new text cannot be written whole.
TEST_F(ConfigFile, FailedWriteKeepsThePreviousSettings) {
  write_file(file(), kExampleText);
  EXPECT_TRUE(save_fails_past_size_limit(file(), 16));
  EXPECT_EQ(read_file(file()), kExampleText);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);

  // Also through a link.
  const std::filesystem::path real = dir_ / "real.toml";
  std::filesystem::rename(file(), real);
  std::filesystem::create_symlink("real.toml", file());
  EXPECT_TRUE(save_fails_past_size_limit(file(), 16));
  EXPECT_EQ(read_file(real), kExampleText);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2);
}

TEST_F(ConfigFile, FailedWriteInPlaceKeepsThePreviousSettings) {
  // A hard-linked file is rewritten in place.
  write_file(file(), kExampleText);
  const std::filesystem::path twin = dir_ / "twin.toml";
  std::filesystem::create_hard_link(file(), twin);
  EXPECT_TRUE(save_fails_past_size_limit(file(), 40));
  EXPECT_EQ(read_file(file()), kExampleText);
  EXPECT_EQ(read_file(twin), kExampleText);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2);
}

TEST_F(ConfigFile, FailedFirstSaveLeavesNoFile) {
  EXPECT_TRUE(save_fails_past_size_limit(file(), 40));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 0);

  // Through a link to no file: the link stays, and no file is made behind it.
  std::filesystem::create_symlink("real.toml", file());
  EXPECT_TRUE(save_fails_past_size_limit(file(), 40));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "real.toml"));
  EXPECT_TRUE(std::filesystem::is_symlink(file()));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

TEST_F(ConfigFile, FifoIsNeitherWaitedOnNorReplaced) {
  ASSERT_EQ(::mkfifo(file().c_str(), 0644), 0);
  // Without a writer, reading does not wait; a FIFO is no settings file.
  EXPECT_TRUE(passes_in_child([&] {
    auto r = load_config(file());
    return !r && r.error().is<app_error::ConfigNotFound>();
  }));
  // Without a reader, saving does not wait either.
  EXPECT_TRUE(passes_in_child([&] {
    auto r = save_config(kExample, file());
    return !r && r.error().is<ui_error::KeyPress>();
  }));

  // With a reader, behind a link: the text goes through, and the FIFO stays one.
  const std::filesystem::path pipe = dir_ / "pipe";
  std::filesystem::rename(file(), pipe);
  std::filesystem::create_symlink("pipe", file());
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(save_config(kExample, file()));
  EXPECT_TRUE(std::filesystem::is_fifo(pipe));
  char buffer[256];
  const ssize_t n = ::read(reader, buffer, sizeof buffer);
  ::close(reader);
  EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0), kExampleText);
}

}  // namespace
}  // namespace kestrel
