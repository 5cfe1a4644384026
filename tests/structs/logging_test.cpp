// The logging facade: level texts, the line format, the buffered
// file with its one-second flusher, records from two threads, and whole
// records under a file-size limit.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "structs/logging.hpp"
#include "temp_dir.hpp"

namespace kestrel::log {
namespace {

using kestrel::testing::read_file;
using kestrel::testing::TempDir;
using kestrel::testing::write_file;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

TEST(LogSpec, SystemLevels) {
  auto spec = parse_log_spec(kLogSpec);
  ASSERT_TRUE(spec);
  EXPECT_EQ(spec->default_level, Level::Info);
  EXPECT_THAT(spec->modules, ElementsAre(Pair("my::critical::module", Level::Trace)));
  EXPECT_EQ(spec->level_for("kestrel::scan"), Level::Info);
  EXPECT_EQ(spec->level_for("my::critical::module"), Level::Trace);
  EXPECT_EQ(spec->level_for("my::critical::module::inner"), Level::Trace);
  EXPECT_EQ(spec->level_for("my::critical::modules"), Level::Info);
  EXPECT_EQ(spec->level_for("my::critical"), Level::Info);
}

TEST(LogSpec, PrefixesAndForms) {
  auto spec = parse_log_spec(" WARN ,kestrel=debug, kestrel::scan = off ,, kestrel::ui ");
  ASSERT_TRUE(spec);
  EXPECT_EQ(spec->default_level, Level::Warn);
  EXPECT_EQ(spec->level_for("other"), Level::Warn);
  EXPECT_EQ(spec->level_for("kestrel"), Level::Debug);
  EXPECT_EQ(spec->level_for("kestrel::scan"), Level::Off);  // longest prefix wins
  EXPECT_EQ(spec->level_for("kestrel::ui"), Level::Trace);  // named alone: everything

  auto no_default = parse_log_spec("kestrel=info");
  ASSERT_TRUE(no_default);
  EXPECT_EQ(no_default->level_for("elsewhere"), Level::Off);
}

TEST(LogSpec, InvalidTextsAreRefused) {
  for (const char* text : {"info, kestrel=loud", "kes trel=info", "a=b=c", "=info", "info/x"}) {
    EXPECT_FALSE(parse_log_spec(text)) << text;
  }
}

class LogFile : public ::testing::Test {
 protected:
  void TearDown() override { shutdown(); }
  std::filesystem::path file() const { return dir_ / "kestrel.log"; }
  TempDir dir_;
};

TEST_F(LogFile, LinesHaveLevelModuleAndMessage) {
  write_file(file(), "old content\n");
  ASSERT_TRUE(start(file(), "trace"));
  info(kMain, "Logging started");
  error(kScan, "Wrong alignment char");
  warn(kUi, "{} {}", 7, "x");
  debug(kScan, "End at {} {}", 303, 0);
  trace(kUi, "t");
  write(Level::Info, "", "no module");
  write(Level::Info, "other::place", "elsewhere");
  shutdown();
  EXPECT_EQ(read_file(file()),
            "INFO [kestrel] Logging started\n"
            "ERROR [kestrel::scan] Wrong alignment char\n"
            "WARN [kestrel::ui] 7 x\n"
            "DEBUG [kestrel::scan] End at 303 0\n"
            "TRACE [kestrel::ui] t\n"
            "INFO [<unnamed>] no module\n"
            "INFO [other::place] elsewhere\n");
}

TEST_F(LogFile, SystemLevelsKeepErrorWarnInfo) {
  ASSERT_TRUE(start(file()));
  EXPECT_TRUE(enabled(Level::Info, kUi));
  EXPECT_FALSE(enabled(Level::Debug, kScan));
  EXPECT_TRUE(enabled(Level::Trace, "my::critical::module"));
  error(kMain, "e");
  warn(kMain, "w");
  info(kMain, "i");
  debug(kMain, "d");
  trace(kMain, "t");
  write(Level::Debug, kMain, "direct debug");
  shutdown();
  EXPECT_EQ(read_file(file()), "ERROR [kestrel] e\nWARN [kestrel] w\nINFO [kestrel] i\n");
}

TEST_F(LogFile, NothingIsWrittenOutsideStartAndShutdown) {
  info(kMain, "before");
  EXPECT_FALSE(enabled(Level::Error, kMain));
  ASSERT_TRUE(start(file()));
  info(kMain, "during");
  shutdown();
  shutdown();
  info(kMain, "after");
  EXPECT_FALSE(enabled(Level::Error, kMain));
  EXPECT_EQ(read_file(file()), "INFO [kestrel] during\n");
}

TEST_F(LogFile, StartFailures) {
  auto bad_spec = start(file(), "info, x=loud");
  ASSERT_FALSE(bad_spec);
  EXPECT_THAT(bad_spec.error().display(), HasSubstr("loud"));

  write_file(dir_ / "plain", "");
  EXPECT_FALSE(start(dir_ / "plain" / "kestrel.log"));

  // Without a thread for the flusher, in a child that may make none (root is
  // not bound by that limit, so as root the child becomes nobody): the start
  // fails, the file is closed again, and a later start works.
  ::chmod(dir_.path().c_str(), 0777);
  const auto without_threads = [&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
      return false;
    rlimit threads{};
    ::getrlimit(RLIMIT_NPROC, &threads);
    const rlimit none{0, threads.rlim_max};
    pthread_t thread;
    if (::setrlimit(RLIMIT_NPROC, &none) != 0 ||
        ::pthread_create(
            &thread, nullptr, [](void*) -> void* { return nullptr; }, nullptr) != EAGAIN)
      return false;
    const int lowest_free = ::open("/dev/null", O_RDONLY);
    ::close(lowest_free);
    auto no_thread = start(file());
    EXPECT_THAT(no_thread ? "" : no_thread.error().display(), HasSubstr("thread"));
    EXPECT_EQ(::open("/dev/null", O_RDONLY), lowest_free);
    if (::setrlimit(RLIMIT_NPROC, &threads) != 0 || !start(file()))
      return false;
    info(kMain, "after all");
    shutdown();
    EXPECT_EQ(read_file(file()), "INFO [kestrel] after all\n");
    return !HasFailure();
  };
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(5);
    ::_exit(without_threads() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  ASSERT_TRUE(start(file()));
  EXPECT_FALSE(start(dir_ / "second.log"));
}

TEST_F(LogFile, BufferedAndFlushedEverySecond) {
  ASSERT_TRUE(start(file()));
  info(kScan, "buffered");
  EXPECT_EQ(read_file(file()), "");
  std::string text;
  for (int i = 0; i < 30 && text.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    text = read_file(file());
  }
  EXPECT_EQ(text, "INFO [kestrel::scan] buffered\n");
}

TEST_F(LogFile, TwoThreadsNeverShareALine) {
  ASSERT_TRUE(start(file()));
  constexpr int kEach = 20000;
  const std::string scan_text(120, 's');
  const std::string ui_text(90, 'u');
  std::thread scan([&] {
    for (int i = 0; i < kEach; ++i)
      info(kScan, "{} {}", scan_text, i % 10);
  });
  for (int i = 0; i < kEach; ++i)
    info(kUi, "{} {}", ui_text, i % 10);
  scan.join();
  shutdown();

  std::set<std::string> allowed;
  for (int d = 0; d < 10; ++d) {
    allowed.insert("INFO [kestrel::scan] " + scan_text + " " + std::to_string(d));
    allowed.insert("INFO [kestrel::ui] " + ui_text + " " + std::to_string(d));
  }
  auto lines = lines_of(read_file(file()));
  EXPECT_EQ(lines.size(), 2u * kEach);
  for (const auto& line : lines)
    ASSERT_TRUE(allowed.contains(line)) << line;
}

// Under a file-size limit the log ends at a record's end: every record that
// fits before the limit is kept, in order, and nothing of the first that does not.
TEST_F(LogFile, FileSizeLimitKeepsWholeRecords) {
  std::vector<std::string> records;
  for (int i = 0; i < 4000; ++i) {
    // Every fifth record spans two lines, as a pretty-printed value does.
    records.push_back(i % 5 == 4 ? fmt::format("record {}\n  {}", i, std::string(10 + i % 37, '-'))
                                 : fmt::format("record {} {}", i, std::string(8 + i % 61, 'x')));
  }
  // The limit falls in the second line of the first two-line record that
  // passes 60000 bytes. The room it leaves is smaller than any record, so no
  // later record fits there either.
  std::string expected;
  std::size_t limit = 0;
  for (std::size_t i = 0; limit == 0; ++i) {
    const std::string line = "INFO [kestrel::scan] " + records[i] + "\n";
    if (i % 5 == 4 && expected.size() + line.size() > 60000)
      limit = expected.size() + line.find('\n') + 3;
    else
      expected += line;
  }

  // The limit and the ignored SIGXFSZ stay in a child process.
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit fsize{};
    ::getrlimit(RLIMIT_FSIZE, &fsize);
    fsize.rlim_cur = limit;
    if (::setrlimit(RLIMIT_FSIZE, &fsize) != 0 || !start(file(), "info"))
      ::_exit(1);
    for (const auto& record : records)
      write(Level::Info, kScan, record);
    shutdown();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string text = read_file(file());
  EXPECT_EQ(text.size(), expected.size());
  EXPECT_TRUE(text == expected) << "ends in: "
                                << text.substr(text.size() -
                                               std::min<std::size_t>(text.size(), 80));
}

}  // namespace
}  // namespace kestrel::log
