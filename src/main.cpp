// kestrel: drives a TinySA spectrum analyser from the terminal. main only
// starts and stops things: the log file, the crash handling, the terminal,
// the port list and the saved settings; then the event loop; then the way
// back to the normal terminal and the exit status.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <expected>
#include <memory>
#include <optional>
#include <string>

#include "serial/serial_port.hpp"
#include "structs/config.hpp"
#include "structs/debug_form.hpp"
#include "structs/errors.hpp"
#include "structs/logging.hpp"
#include "tui/terminal.hpp"
#include "ui/app_state.hpp"
#include "ui/event_loop.hpp"
#include "ui/shell_crash.hpp"
#include "ui/shell_start.hpp"

namespace {

using namespace kestrel;

// Opens /dev/null on each of standard input, output and error that is
// closed, so that no file of the program (the log, config.toml, the serial
// port) takes that number and gets what is meant for it.
void fill_closed_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF)
      ::open("/dev/null", O_RDWR);  // takes the lowest free number: this one
  }
}

// Shuts the file logger down when main's work ends, on every path after it
// started: the buffered records are written out.
struct LoggerHandle {
  LoggerHandle() = default;
  LoggerHandle(const LoggerHandle&) = delete;
  LoggerHandle& operator=(const LoggerHandle&) = delete;
  ~LoggerHandle() { log::shutdown(); }
};

// Gives the terminal back to its normal mode; what fails there is told on
// standard error and the shut-down goes on.
void give_back(std::optional<tui::Terminal>& terminal) {
  const tui::Terminal::RestoreOutcome outcome = terminal->restore();
  if (outcome.cursor) {
    std::fputs(("Failed to show the cursor: " + outcome.cursor->message + "\n").c_str(), stderr);
  }
  if (outcome.screen) {
    std::fputs(("Failed to restore terminal: " + outcome.screen->message + "\n").c_str(), stderr);
  }
  terminal.reset();
}

std::expected<void, AppError> run(const char* program) {
  const std::string log_file = shell::log_file_name(program, std::chrono::system_clock::now());
  if (auto started = log::start(log_file, log::kLogSpec); !started) {
    return std::unexpected(AppError(app_error::LoggerError{std::move(started.error())}));
  }
  const LoggerHandle logger;
  log::info(log::kMain, "Logging started");

  if (auto installed = shell::install_crash_handler(); !installed) {
    return std::unexpected(
        AppError(app_error::TUIInitialization{Report(std::move(installed.error()))}));
  }

  // Keys come from the terminal itself, also when standard input is
  // redirected; without a controlling terminal, from standard input.
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> tty(
      ::isatty(STDIN_FILENO) ? nullptr : std::fopen("/dev/tty", "re"), std::fclose);

  // Released before the logger (declared after it): the terminal is back to
  // normal before the records are written out and the error line is printed.
  std::optional<tui::Terminal> terminal;
  if (auto opened = tui::Terminal::open(stdout, tty ? tty.get() : stdin); opened) {
    terminal.emplace(std::move(*opened));
  } else {
    shell::stop("failed to initialize terminal: " +
                debug_string(ui::terminal_io_error(opened.error())));
  }

  auto ports = serial::list_ports();
  if (!ports) {
    give_back(terminal);
    return std::unexpected(AppError(app_error::PortConnection{std::move(ports.error())}));
  }

  std::expected<void, Report> ended;
  {
    ui::AppState app = shell::initial_state(load_config(), std::move(*ports));
    ended = ui::run_ui(*terminal, app);
  }
  give_back(terminal);
  if (!ended) {
    return std::unexpected(AppError(app_error::TUIRuntimeError{std::move(ended.error())}));
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  fill_closed_standard_descriptors();
  auto result = run(argc > 0 ? argv[0] : "");
  shell::wait_for_crash_report();
  if (!result) {
    const std::string line = "Error: " + debug_string(result.error()) + "\n";
    std::fputs(line.c_str(), stderr);
  }
  // Ended by a termination signal: the shut-down is done, now the process
  // ends by that signal.
  if (const int number = shell::termination_signal(); number != 0) {
    shell::end_by_signal(number);
  }
  return result ? 0 : 1;
}
