// The program's start-up pieces, its crash handling, its key dispatch and its
// loop on a pseudo-terminal.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "structs/logging.hpp"
#include "ui/bounded_child.hpp"
#include "ui/event_loop.hpp"
#include "ui/shell_crash.hpp"
#include "ui/shell_start.hpp"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using shell::initial_port_index;
using shell::initial_state;
using ui::Screen;

std::expected<SavedConfig, AppError> saved(std::string port, std::uint32_t baudrate,
                                           std::uint64_t start = 300) {
  return SavedConfig{.port = std::move(port),
                     .baudrate = baudrate,
                     .start_frequency = start,
                     .stop_frequency = 340,
                     .points = 1001,
                     .repeat = 5};
}
const std::expected<SavedConfig, AppError> kNoFile =
    std::unexpected(AppError(app_error::ConfigNotFound{}));

TEST(LogFileName, IsTheProgramStemAndTheLocalTime) {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 4;
  tm.tm_mday = 1;
  tm.tm_hour = 14;
  tm.tm_min = 3;
  tm.tm_sec = 22;
  tm.tm_isdst = -1;
  const auto when = std::chrono::system_clock::from_time_t(std::mktime(&tm));
  EXPECT_EQ(shell::log_file_name("/opt/tools/analyser.exe", when),
            "analyser_2024-05-01_14-03-22.log");
  EXPECT_EQ(shell::log_file_name("./kestrel", when), "kestrel_2024-05-01_14-03-22.log");
  EXPECT_EQ(shell::log_file_name("", when), "kestrel_2024-05-01_14-03-22.log");
}

TEST(InitialPort, TheFirstCandidatePresentDecides) {
  const std::vector<std::string> ports{"/dev/ttyS16", "COM5", "COM3", "/dev/ttyACM0", "COM7"};
  EXPECT_EQ(initial_port_index(ports, std::nullopt), 3u);
  EXPECT_EQ(initial_port_index(ports, "COM7"), 4u);
  EXPECT_EQ(initial_port_index({"COM5", "COM3"}, std::nullopt), 1u);
  EXPECT_EQ(initial_port_index({"/dev/ttyS16", "COM5"}, std::nullopt), 1u);
  // A saved port that is gone, names that differ in case, no port at all.
  EXPECT_EQ(initial_port_index({"/dev/ttyUSB0", "/dev/ttyS16"}, "COM9"), 1u);
  EXPECT_EQ(initial_port_index({"com3", "/dev/ttyUSB0"}, std::nullopt), 0u);
  EXPECT_EQ(initial_port_index({}, std::nullopt), 0u);
  // Duplicates: the first of that name.
  EXPECT_EQ(initial_port_index({"COM1", "COM3", "COM3"}, std::nullopt), 1u);
}

TEST(InitialState, DefaultsWhenTheSettingsDidNotLoad) {
  const ui::AppState app = initial_state(kNoFile, {"/dev/ttyUSB0", "/dev/ttyACM0"});
  EXPECT_EQ(app.start_input, (NumberInput{240, 10, 0, 960}));
  EXPECT_EQ(app.stop_input, (NumberInput{960, 10, 10, 960}));
  EXPECT_EQ(app.points_input, (NumberInput{10001, 100, 101, 1000001}));
  EXPECT_EQ(app.repeat_input, (NumberInput{1, 1, 1, 1000}));
  EXPECT_EQ(app.baud_list.state.selected, 3u);
  EXPECT_EQ(app.port_list.items, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyACM0"}));
  EXPECT_EQ(app.port_list.state.selected, 1u);
  EXPECT_EQ(app.ui_state, Screen::Selection);
  EXPECT_EQ(app.focused_widget, 0);
  EXPECT_FALSE(app.quit_requested);
  EXPECT_FALSE(app.scan_logged);
  EXPECT_FALSE(app.progress_gauge.has_value());
  EXPECT_TRUE(app.header_text.empty());
  EXPECT_TRUE(app.chart_data.empty());

  ASSERT_TRUE(app.connection_info.has_value());
  const ConnectionInfo& info = *app.connection_info;
  EXPECT_EQ(info.get_progress(), 0u);
  EXPECT_EQ(info.get_connection_status(), ConnectionStatus::Uninitialised);
  EXPECT_FALSE(info.is_error_raised());
  EXPECT_TRUE(info.get_scan_message().empty());
}

TEST(InitialState, SavedSettingsGoInUnchanged) {
  // 5000 MHz is out of bounds: kept until the first step clamps it.
  const ui::AppState app = initial_state(saved("COM7", 3000000, 5000), {"COM3", "COM7"});
  EXPECT_EQ(app.start_input.value, 5000u);
  EXPECT_EQ(app.stop_input.value, 340u);
  EXPECT_EQ(app.points_input.value, 1001u);
  EXPECT_EQ(app.repeat_input.value, 5u);
  EXPECT_EQ(app.baud_list.state.selected, 9u);
  EXPECT_EQ(app.port_list.state.selected, 1u);
}

TEST(InitialState, ARateOutsideTheTableLeaves115200) {
  const ui::AppState app = initial_state(saved("COM3", 9600), {"COM3"});
  EXPECT_EQ(app.baud_list.state.selected, 3u);
  EXPECT_EQ(app.start_input.value, 300u);
}

TEST(InitialState, TheWidgetsMirrorTheListsWithTheHighlight) {
  const ui::AppState app = initial_state(kNoFile, {"/dev/ttyACM0", "/dev/ttyS0"});
  ASSERT_TRUE(app.port_list_widget && app.baud_list_widget);
  EXPECT_EQ(app.port_list_widget->items(), app.port_list.items);
  EXPECT_THAT(app.baud_list_widget->items(),
              testing::ElementsAre("19200", "38400", "57600", "115200", "230400", "460800",
                                   "921600", "1843200", "2000000", "3000000"));
  const auto highlight = tui::Style{}.bg(tui::Color::Blue).add_modifier(tui::Modifier::Italic);
  EXPECT_EQ(app.port_list_widget->highlight_style(), highlight);
  EXPECT_EQ(app.baud_list_widget->highlight_style(), highlight);
}

// ---- crash handling --------------------------------------------------------

// The report's wait for tests that check the whole trace: reading its symbols
// in a test program this size takes most of the usual bound on a busy machine.
constexpr auto kTimeForTheTrace = std::chrono::seconds(60);

class CrashHandlerDeathTest : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
  static void install() {
    if (!shell::install_crash_handler(kTimeForTheTrace))
      std::_Exit(3);
  }
};

TEST_F(CrashHandlerDeathTest, AFatalSignalIsReportedAndEndsTheProcessByIt) {
  EXPECT_EXIT(
      {
        install();
        std::raise(SIGSEGV);
      },
      testing::KilledBySignal(SIGSEGV),
      "The application crashed.\nMessage:  fatal signal SIGSEGV .*Stack trace");
  EXPECT_EXIT(
      {
        install();
        std::abort();
      },
      testing::KilledBySignal(SIGABRT), "Message:  fatal signal SIGABRT ");
}

// A termination signal is only recorded, and repeats right after it are
// ignored; the process then ends by it. One ignored from the start stays
// ignored. A CPU-time limit is one of them, not a crash.
TEST_F(CrashHandlerDeathTest, ATerminationSignalIsRecordedThenEndsTheProcessByIt) {
  EXPECT_EXIT(
      {
        install();
        std::raise(SIGXCPU);
        if (shell::termination_signal() != SIGXCPU)
          std::_Exit(3);
        shell::end_by_signal(SIGXCPU);
      },
      testing::KilledBySignal(SIGXCPU), "^$");
  EXPECT_EXIT(
      {
        std::signal(SIGHUP, SIG_IGN);
        install();
        std::raise(SIGHUP);
        std::raise(SIGUSR1);
        std::raise(SIGUSR1);
        std::raise(SIGTERM);
        if (shell::termination_signal() != SIGUSR1)
          std::_Exit(3);
        std::fputs("recorded, not ended\n", stderr);
        shell::end_by_signal(SIGUSR1);
      },
      testing::KilledBySignal(SIGUSR1), "recorded, not ended");
}

TEST_F(CrashHandlerDeathTest, AnUncaughtExceptionIsReportedWithItsText) {
  EXPECT_EXIT(
      {
        install();
        try {
          throw std::runtime_error("lock poisoned: somewhere");
        } catch (...) {
          std::terminate();  // as for an exception that leaves a thread
        }
      },
      testing::ExitedWithCode(shell::kCrashStatus),
      "Message:  uncaught exception: lock poisoned: somewhere\n.*Stack trace");
}

TEST_F(CrashHandlerDeathTest, AStopNamesItsReasonAndPlace) {
  EXPECT_EXIT(
      {
        install();
        shell::stop("failed to initialize terminal: no terminal");
      },
      testing::ExitedWithCode(shell::kCrashStatus),
      "Message:  failed to initialize terminal: no terminal\nLocation: .*shell_test.cpp:[0-9]+");
}

// After an uncaught exception the log's buffered records are written by the
// crashing process alone, each once, also when its flusher's turn falls
// inside the report's wait (standard error takes nothing for 1.5 s).
TEST(CrashLog, EachRecordIsWrittenOnceBesideTheFlusherThread) {
  const auto file = std::filesystem::temp_directory_path() /
                    ("kestrel-crash-log-" + std::to_string(getpid()) + ".log");
  int error[2];
  int crashed[2];
  ASSERT_EQ(pipe(error), 0);
  ASSERT_EQ(pipe(crashed), 0);
  const std::string chunk(4096, 'x');
  fcntl(error[1], F_SETFL, O_NONBLOCK);
  while (write(error[1], chunk.data(), chunk.size()) > 0) {
  }
  fcntl(error[1], F_SETFL, 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (!log::start(file) || !shell::install_crash_handler(kTimeForTheTrace))
      std::_Exit(3);
    for (int i = 0; i < 1000; ++i)
      log::info(log::kScan, "record {}", i);
    dup2(error[1], STDERR_FILENO);
    if (write(crashed[1], "c", 1) != 1)
      std::_Exit(4);
    try {
      throw std::runtime_error("lock poisoned: log");
    } catch (...) {
      std::terminate();
    }
  }
  close(error[1]);
  close(crashed[1]);
  char seen = 0;
  EXPECT_EQ(read(crashed[0], &seen, 1), 1);
  close(crashed[0]);
  std::this_thread::sleep_for(1500ms);
  char drained[4096];
  while (read(error[0], drained, sizeof drained) > 0) {
  }
  close(error[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == shell::kCrashStatus) << status;
  std::ifstream log_file(file);
  std::vector<std::string> records;
  for (std::string line; std::getline(log_file, line);)
    records.push_back(line);
  std::filesystem::remove(file);
  ASSERT_EQ(records.size(), 1000u);
  for (int i = 0; i < 1000; ++i)
    EXPECT_EQ(records[i], "INFO [kestrel::scan] record " + std::to_string(i));
}

// The report's child keeps SIGPIPE and SIGXFSZ ignored, as the program has
// them: a write into a closed pipe or past a file-size limit fails there
// instead of ending the child before the rest of its work.
TEST(BoundedChild, AWriteThatFailsDoesNotEndIt) {
  int result[2];
  int closed[2];
  ASSERT_EQ(pipe(result), 0);
  ASSERT_EQ(pipe(closed), 0);
  close(closed[0]);
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction pipe_before {};
  struct sigaction size_before {};
  sigaction(SIGPIPE, &ignore, &pipe_before);
  sigaction(SIGXFSZ, &ignore, &size_before);
  auto work = [&] {
    const rlimit nothing{0, 0};
    const bool pipe_failed = write(closed[1], "x", 1) < 0 && errno == EPIPE;
    const bool size_failed =
        setrlimit(RLIMIT_FSIZE, &nothing) == 0 && write(fileno(file), "x", 1) < 0 && errno == EFBIG;
    if (pipe_failed && size_failed && write(result[1], "y", 1) != 1)
      std::_Exit(1);
  };
  EXPECT_TRUE(shell::run_bounded_child(shell::ForkKind::Plain, shell::Deadline(60s), work));
  sigaction(SIGPIPE, &pipe_before, nullptr);
  sigaction(SIGXFSZ, &size_before, nullptr);
  std::fclose(file);
  close(closed[1]);
  close(result[1]);
  char got = 0;
  EXPECT_EQ(read(result[0], &got, 1), 1);
  close(result[0]);
}

// ---- key dispatch ----------------------------------------------------------

class KeyDispatch : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("kestrel-shell-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void press(tui::Key key) {
    auto handled = ui::handle_key(
        app_, key, [this](ConnectionInfo, ConnectionInfo) { ++scans_; }, dir_ / "config.toml");
    ASSERT_TRUE(handled.has_value());
  }
  void press(char32_t ch) { press(tui::Key::character(ch)); }
  void press(tui::KeyCode code) { press(tui::Key{code, 0}); }

  std::string recorded_error() const {
    return app_.connection_info->error_cell().with_lock(
        [](const std::optional<UiError>& e) { return e ? std::string(e->name()) : "none"; });
  }

  std::filesystem::path dir_;
  ui::AppState app_ = initial_state(kNoFile, {"/dev/ttyACM0", "/dev/ttyUSB0"});
  int scans_ = 0;
};

TEST_F(KeyDispatch, LettersActOnlyInLowerCase) {
  for (char32_t ch : {U'Q', U'J', U'K', U'L', U'H', U'x', U' '}) {
    press(ch);
  }
  EXPECT_FALSE(app_.quit_requested);
  EXPECT_EQ(app_.port_list.state.selected, 0u);
  EXPECT_EQ(app_.focused_widget, 0);

  press(U'j');
  EXPECT_EQ(app_.port_list.state.selected, 1u);
  press(U'k');
  EXPECT_EQ(app_.port_list.state.selected, 0u);
  press(U'l');
  EXPECT_EQ(app_.focused_widget, 1);
  press(tui::KeyCode::Down);
  EXPECT_EQ(app_.baud_list.state.selected, 4u);
  press(U'h');
  EXPECT_EQ(app_.focused_widget, 0);
  press(U'q');
  EXPECT_TRUE(app_.quit_requested);
}

TEST_F(KeyDispatch, EscQuitsOnEveryScreen) {
  for (Screen s : {Screen::Selection, Screen::Parameters, Screen::Scanning, Screen::Results,
                   Screen::Failure}) {
    app_.ui_state = s;
    app_.quit_requested = false;
    press(tui::KeyCode::Esc);
    EXPECT_TRUE(app_.quit_requested);
    EXPECT_EQ(app_.ui_state, s);
  }
}

TEST_F(KeyDispatch, EnterAdvancesButIsIgnoredWhileScanning) {
  press(tui::KeyCode::Enter);
  EXPECT_EQ(app_.ui_state, Screen::Parameters);
  press(tui::KeyCode::Enter);
  EXPECT_EQ(app_.ui_state, Screen::Scanning);
  EXPECT_EQ(scans_, 1);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "config.toml"));
  press(tui::KeyCode::Enter);
  EXPECT_EQ(app_.ui_state, Screen::Scanning);
  EXPECT_FALSE(app_.quit_requested);
  EXPECT_EQ(scans_, 1);
}

TEST_F(KeyDispatch, AFailedActionShowsTheFailureScreenAndReplacesTheError) {
  app_.port_list.items.clear();
  app_.port_list.state.select(std::nullopt);  // as the first frame leaves an empty list
  app_.connection_info->set_error_raised(UiError(ui_error::NoReturnData{}));
  press(tui::KeyCode::Enter);
  press(tui::KeyCode::Enter);
  EXPECT_EQ(app_.ui_state, Screen::Failure);
  EXPECT_EQ(recorded_error(), "NoPortSelected");
  EXPECT_EQ(scans_, 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "config.toml"));
  EXPECT_FALSE(app_.quit_requested);
  press(tui::KeyCode::Enter);
  EXPECT_TRUE(app_.quit_requested);
}

TEST_F(KeyDispatch, WithoutAConnectionInfoAFailedActionEndsWithAReport) {
  app_.port_list_widget.reset();
  app_.connection_info.reset();
  auto handled = ui::handle_key(app_, tui::Key{tui::KeyCode::Right, 0});
  ASSERT_FALSE(handled.has_value());
  const auto* error = dynamic_cast<const UiError*>(&handled.error().error());
  ASSERT_NE(error, nullptr);
  EXPECT_TRUE(error->is<ui_error::NoConnectionInfoCreated>());
  EXPECT_THAT(handled.error().location().file_name(), testing::EndsWith("event_loop.cpp"));
}

// ---- the loop on a terminal ----------------------------------------------------

// run_ui on the slave side of a pseudo-terminal; the test types on the master side.
class RunUi : public testing::Test {
 protected:
  using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

  void SetUp() override {
    setenv("TERM", "xterm-256color", 1);
    winsize ws{24, 80, 0, 0};
    int slave = -1;
    ASSERT_EQ(openpty(&master_, &slave, nullptr, nullptr, &ws), 0);
    in_.reset(fdopen(dup(slave), "r"));
    out_.reset(fdopen(slave, "w"));
    auto opened = tui::Terminal::open(out_.get(), in_.get());
    ASSERT_TRUE(opened.has_value()) << opened.error().message;
    terminal_.emplace(std::move(*opened));
  }
  void TearDown() override {
    terminal_.reset();  // before the files it uses
    close(master_);
  }
  void type(std::string_view keys) const {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Fills the terminal's output queue: nobody reads it, so the next write to
  // the terminal waits. The queue is full once it has taken nothing for a while
  // (the pty moves what it holds on in steps).
  void stop_reading() const {
    const int fd = ::open(ttyname(fileno(out_.get())), O_WRONLY | O_NONBLOCK | O_NOCTTY);
    const std::string chunk(4096, 'x');
    for (int refused = 0; refused < 5;) {
      if (write(fd, chunk.data(), chunk.size()) > 0) {
        refused = 0;
      } else {
        ++refused;
        std::this_thread::sleep_for(20ms);
      }
    }
    close(fd);
  }

  // The status of the child `pid` once it ended, or nothing if it still runs
  // after `within`.
  static std::optional<int> ended(pid_t pid, std::chrono::milliseconds within) {
    int status = 0;
    for (auto waited = 0ms; waited < within; waited += 10ms) {
      if (waitpid(pid, &status, WNOHANG) == pid)
        return status;
      std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
  }

  // Forks a child that installs the crash handling and runs `body`; the
  // child's pid.
  static pid_t in_child(const std::function<void()>& body,
                        std::chrono::milliseconds report_wait = shell::kReportWait) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (!shell::install_crash_handler(report_wait))
        std::_Exit(3);
      body();
      std::_Exit(4);
    }
    return pid;
  }

  // AddressSanitizer gives each thread a small signal stack of its own, too
  // small for reading the trace's symbols: a crashing thread gets the main
  // thread's size, for as long as it keeps the result.
  static std::vector<char> main_sized_signal_stack() {
    std::vector<char> signal_stack(1 << 20);
    const stack_t stack{signal_stack.data(), 0, signal_stack.size()};
    sigaltstack(&stack, nullptr);
    return signal_stack;
  }

  // Runs the loop as main does while `crash` runs on a thread of its own a
  // moment after the start; for a death test.
  void run_ui_while(void (*crash)()) {
    if (!shell::install_crash_handler(kTimeForTheTrace))
      std::_Exit(3);
    std::thread([crash] {
      const auto signal_stack = main_sized_signal_stack();
      std::this_thread::sleep_for(100ms);
      crash();
    }).detach();
    const bool quit = ui::run_ui(*terminal_, app_).has_value();
    shell::wait_for_crash_report();
    std::_Exit(quit ? 4 : 5);
  }

  // Waits up to `within` for the child `pid` to end, ending it otherwise, and
  // then empties the terminal's output, so that this process can give its
  // terminal back. The child must have ended by the signal `number`, with the
  // terminal's modes given back.
  void expect_ended_by(pid_t pid, int number, std::chrono::milliseconds within) const {
    const std::optional<int> status = ended(pid, within);
    if (!status) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    char chunk[4096];
    for (pollfd ready{master_, POLLIN, 0}; poll(&ready, 1, 0) == 1;) {
      if (read(master_, chunk, sizeof chunk) <= 0)
        break;
    }
    ASSERT_TRUE(status) << "the process did not end";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == number) << *status;
    expect_modes_given_back();
  }

  // What the terminal shows from now until `text` has come (or 10 s have
  // passed): the pty hands a process's last bytes on a moment after it ended.
  std::string output_until(std::string_view text) const {
    std::string written;
    pollfd ready{master_, POLLIN, 0};
    char chunk[4096];
    while (written.find(text) == std::string::npos && poll(&ready, 1, 10000) == 1) {
      const ssize_t n = read(master_, chunk, sizeof chunk);
      if (n <= 0)
        break;
      written.append(chunk, static_cast<std::size_t>(n));
    }
    return written;
  }

  // Makes the calling process unable to make another, as a process limit
  // does (root is not bound by it, so as root it becomes nobody first).
  static void forbid_children() {
    const rlimit none{0, 0};
    if ((geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) ||
        setrlimit(RLIMIT_NPROC, &none) != 0)
      std::_Exit(6);
  }

  // A child that crashes by SIGSEGV, its report going to the terminal, once
  // the terminal has stopped reading; returns 300 ms after the crash, while
  // the report waits. Without `children`, the crash can make no process.
  pid_t crash_on_a_stalled_terminal(bool children = true) {
    int crashing[2];
    if (pipe(crashing) != 0)
      return -1;
    const pid_t pid = in_child([this, &crashing, children] {
      dup2(fileno(out_.get()), STDERR_FILENO);
      stop_reading();
      if (!children)
        forbid_children();
      if (write(crashing[1], "c", 1) != 1)
        std::_Exit(5);
      std::raise(SIGSEGV);
    });
    close(crashing[1]);
    char seen = 0;
    EXPECT_EQ(read(crashing[0], &seen, 1), 1);
    close(crashing[0]);
    std::this_thread::sleep_for(300ms);
    return pid;
  }

  // The terminal's line modes are as the shell had them.
  void expect_modes_given_back() const {
    termios modes{};
    ASSERT_EQ(tcgetattr(fileno(out_.get()), &modes), 0);
    EXPECT_EQ(modes.c_lflag & (ICANON | ECHO | ISIG), static_cast<tcflag_t>(ICANON | ECHO | ISIG));
  }

  int master_ = -1;
  File in_{nullptr, std::fclose};
  File out_{nullptr, std::fclose};
  std::optional<tui::Terminal> terminal_;
  ui::AppState app_ = initial_state(kNoFile, {"COM3", "COM5", "COM7"});
};

TEST_F(RunUi, HandlesEachKeyInTurnAndEndsAfterQ) {
  app_.port_list.state.select(0);
  type("jXjq");
  ASSERT_TRUE(ui::run_ui(*terminal_, app_).has_value());
  EXPECT_TRUE(app_.quit_requested);
  EXPECT_EQ(app_.port_list.state.selected, 2u);
  EXPECT_EQ(app_.ui_state, Screen::Selection);
}

TEST_F(RunUi, AListWidgetMissingBeforeTheFirstFrameEndsWithAReport) {
  app_.baud_list_widget.reset();
  type("q");
  auto ended = ui::run_ui(*terminal_, app_);
  ASSERT_FALSE(ended.has_value());
  const auto* error = dynamic_cast<const UiError*>(&ended.error().error());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->get<ui_error::UninitializedItemList>()->name, "Baudrate List");
  EXPECT_FALSE(app_.quit_requested);  // no key was read
}

TEST_F(RunUi, ATerminationSignalEndsTheLoop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        if (!shell::install_crash_handler())
          std::_Exit(3);
        std::raise(SIGTERM);
        std::_Exit(ui::run_ui(*terminal_, app_) && !app_.quit_requested ? 0 : 4);
      },
      testing::ExitedWithCode(0), "");
}

// A repeat a second after the first ends a program that no longer reaches
// its loop, with the terminal's modes and normal screen given back, also
// when no process can be made to write the way back.
TEST_F(RunUi, ALaterRepeatOfATerminationSignalEndsTheProcessWithTheTerminalBack) {
  for (const bool children : {true, false}) {
    SCOPED_TRACE(children ? "with a child" : "without a child");
    int survived[2];
    ASSERT_EQ(pipe(survived), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      if (!shell::install_crash_handler())
        std::_Exit(3);
      if (!children)
        forbid_children();
      std::raise(SIGTERM);
      std::raise(SIGTERM);
      if (write(survived[1], "y", 1) != 1)
        std::_Exit(4);
      std::this_thread::sleep_for(std::chrono::milliseconds(1100));
      std::raise(SIGTERM);
      std::_Exit(5);
    }
    close(survived[1]);
    char seen = 0;
    EXPECT_EQ(read(survived[0], &seen, 1), 1);
    close(survived[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    expect_modes_given_back();
    const std::string written = output_until("\x1b[?1049l");
    EXPECT_THAT(written, testing::HasSubstr("\x1b[?1049l"));
    EXPECT_THAT(written, testing::HasSubstr("\x1b[?25h"));
  }
}

// A terminal that stopped reading holds every write to it; the late repeat
// still ends the process, with the modes given back.
TEST_F(RunUi, ALaterRepeatEndsTheProcessWhoseTerminalStoppedReading) {
  const pid_t pid = in_child([this] {
    const std::string frame(1 << 20, 'x');
    while (write(fileno(out_.get()), frame.data(), frame.size()) >= 0) {
    }
  });
  EXPECT_FALSE(ended(pid, 200ms));  // the pty is full, the child held in its write
  kill(pid, SIGTERM);
  EXPECT_FALSE(ended(pid, 1100ms));
  kill(pid, SIGTERM);
  expect_ended_by(pid, SIGTERM, 5s);
}

// The same when the normal shut-down has begun and ncurses waits in it.
TEST_F(RunUi, ALaterRepeatEndsAShutDownHeldByATerminalThatStoppedReading) {
  const pid_t pid = in_child([this] {
    std::raise(SIGTERM);
    stop_reading();
    terminal_->restore();
  });
  EXPECT_FALSE(ended(pid, 1200ms));
  kill(pid, SIGTERM);
  expect_ended_by(pid, SIGTERM, 5s);
}

// A crash whose report goes to a terminal that stopped reading: the modes
// come back first, and the report waits only a while before the process
// ends by the crash's signal.
TEST_F(RunUi, ACrashOnATerminalThatStoppedReadingEndsByItsSignal) {
  const pid_t pid = in_child([this] {
    dup2(fileno(out_.get()), STDERR_FILENO);
    stop_reading();
    std::raise(SIGSEGV);
  });
  expect_ended_by(pid, SIGSEGV, 15s);
}

// The crash holds the allocator's lock (glibc aborts on a double free with
// its arena locked once a second thread runs): the report's child hangs on
// it, and the process still ends by the crash's signal, the message and the
// way back to the normal screen written.
TEST_F(RunUi, ACrashInsideTheAllocatorEndsByItsSignalWithTheTerminalBack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' allocators catch a double free themselves";
#endif
  const pid_t pid = in_child([this] {
    dup2(fileno(out_.get()), STDERR_FILENO);
    std::thread([] { pause(); }).detach();
    char* volatile block = static_cast<char*>(std::malloc(2000));  // not cached per thread
    void* volatile after = std::malloc(100);
    std::free(block);
    std::free(block);
    std::free(after);
  });
  const std::string written = output_until("fatal signal SIGABRT");
  expect_ended_by(pid, SIGABRT, 15s);
  EXPECT_THAT(written, testing::HasSubstr("\x1b[?1049l"));
  EXPECT_THAT(written, testing::HasSubstr("Message:  fatal signal SIGABRT"));
}

// The crashing process never touches the terminal's file status flags, which
// the shell shares: killed while its report waits on a terminal that stopped
// reading, it leaves them as they were.
TEST_F(RunUi, AReportKilledWhileTheTerminalIsStalledLeavesItsFlags) {
  const int flags = fcntl(fileno(out_.get()), F_GETFL);
  const pid_t pid = crash_on_a_stalled_terminal();
  ASSERT_GT(pid, 0);
  kill(pid, SIGKILL);
  expect_ended_by(pid, SIGKILL, 5s);
  EXPECT_EQ(fcntl(fileno(out_.get()), F_GETFL), flags);
}

// A terminal that was only behind: once it reads again, within the report's
// wait, the way back to the normal screen comes first, then the report. When
// no child can be made, the crashing process writes them itself.
TEST_F(RunUi, ATerminalThatResumesReadingGetsTheWayBackBeforeTheReport) {
  for (const bool children : {true, false}) {
    SCOPED_TRACE(children ? "with a child" : "without a child");
    const pid_t pid = crash_on_a_stalled_terminal(children);
    ASSERT_GT(pid, 0);
    const std::string written = output_until("Message:  fatal signal SIGSEGV");
    expect_ended_by(pid, SIGSEGV, 15s);
    const auto way_back = written.find("\x1b[?1049l");
    ASSERT_NE(way_back, std::string::npos);
    EXPECT_LT(way_back, written.find("The application crashed."));
    EXPECT_THAT(written, testing::HasSubstr("Message:  fatal signal SIGSEGV"));
  }
}

// The same crash signal on two threads at once: one whole report, and the
// process ends by that signal.
TEST_F(RunUi, TwoCrashesByOneSignalAtOnceGiveOneWholeReport) {
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t pid = in_child(
      [&report] {
        dup2(report[1], STDERR_FILENO);
        std::atomic<bool> go{false};
        const auto crash = [&go] {
          const auto signal_stack = main_sized_signal_stack();
          while (!go) {
          }
          std::raise(SIGSEGV);
        };
        std::thread first(crash);
        std::thread second(crash);
        go = true;
        first.join();
        second.join();
      },
      kTimeForTheTrace);
  close(report[1]);
  std::string written;
  char chunk[4096];
  for (ssize_t n = 0; (n = read(report[0], chunk, sizeof chunk)) > 0;)
    written.append(chunk, static_cast<std::size_t>(n));
  close(report[0]);
  expect_ended_by(pid, SIGSEGV, 15s);
  EXPECT_THAT(written, testing::MatchesRegex(
                           "\nThe application crashed\\.\n[^#]*in thread [0-9]+:\n.*#0 .*"));
  EXPECT_EQ(written.find("The application crashed."), written.rfind("The application crashed."));
}

// A crash on another thread while the loop draws: the loop neither ends the
// process nor prints its own error, and the report comes out whole. An
// uncaught exception there gives the terminal back without ncurses, which
// the loop's thread is using.
TEST_F(RunUi, ACrashOffTheLoopIsReportedWholeAndEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(run_ui_while([] { std::raise(SIGSEGV); }), testing::KilledBySignal(SIGSEGV),
              "in thread [0-9]+:.*#0 ");
}

TEST_F(RunUi, AnExceptionOnTheScanThreadIsReportedWholeAndEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(run_ui_while([] { throw std::runtime_error("lock poisoned: scan"); }),
              testing::ExitedWithCode(shell::kCrashStatus),
              "uncaught exception: lock poisoned: scan\n.*#0 ");
}

TEST_F(RunUi, ATerminalThatCannotDrawEndsWithAReport) {
  terminal_->restore();
  auto ended = ui::run_ui(*terminal_, app_);
  ASSERT_FALSE(ended.has_value());
  EXPECT_NE(dynamic_cast<const IoError*>(&ended.error().error()), nullptr);
  EXPECT_THAT(ended.error().location().file_name(), testing::EndsWith("event_loop.cpp"));
}

}  // namespace
}  // namespace kestrel
