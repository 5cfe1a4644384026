// The crash report is built with backward-cpp's printer and written without
// blocking on standard error; the terminal is first restored through the
// toolkit's allocation-free restore, so the report lands on the normal screen
// with the terminal's usual modes.
#include "ui/shell_crash.hpp"

#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <sstream>
#include <string>

#include <fmt/format.h>
// Stack traces with function names, files and lines, read through libdw.
#define BACKWARD_HAS_DW 1
#include <backward.hpp>

#include "structs/logging.hpp"
#include "tui/terminal.hpp"

namespace kestrel::shell {

namespace {

struct FatalSignal {
  int number;
  std::string_view name;
};
constexpr std::array<FatalSignal, 7> kFatalSignals{{
    {SIGSEGV, "SIGSEGV (invalid memory access)"},
    {SIGABRT, "SIGABRT (abort)"},
    {SIGBUS, "SIGBUS (bus error)"},
    {SIGFPE, "SIGFPE (arithmetic error)"},
    {SIGILL, "SIGILL (illegal instruction)"},
    {SIGSYS, "SIGSYS (bad system call)"},
    {SIGTRAP, "SIGTRAP (trace trap)"},
}};

// Signals that end the program from outside (kill, a closed terminal window,
// a timer nobody set, a CPU-time limit): recorded here, then the event loop
// ends and the normal shut-down runs. Some exist on Linux alone.
constexpr int kTerminationSignals[] = {
    SIGTERM,   SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGIO
    SIGIO,
#endif
};
std::atomic<int> termination{0};
static_assert(std::atomic<int>::is_always_lock_free);

// A repeat within this time of the first termination signal (a closing
// window can send two) is ignored, so that the shut-down can finish.
constexpr std::int64_t kRepeatGraceNs = 1'000'000'000;
std::atomic<std::int64_t> first_termination_at{0};
static_assert(std::atomic<std::int64_t>::is_always_lock_free);

// Ignored, so that the write that meets the limit or the closed pipe fails
// with EFBIG or EPIPE and takes the path of any failed write.
constexpr std::array<int, 2> kIgnoredSignals{SIGXFSZ, SIGPIPE};

constexpr std::size_t kTraceDepth = 64;

// The thread that reports a crash (its kernel id), or 0. The first crash
// reports; a crash on another thread meanwhile waits for that report to end
// the process, and one inside the report ends the process at once.
std::atomic<pid_t> reporting_thread{0};
static_assert(std::atomic<pid_t>::is_always_lock_free);

// Whether the calling thread is the one to report its crash.
bool first_crash() {
  pid_t none = 0;
  if (reporting_thread.compare_exchange_strong(none, ::gettid()))
    return true;
  wait_for_crash_report();
  return false;
}

// The main thread's handlers run here, so a stack overflow can be reported.
alignas(16) std::array<char, 1 << 20> signal_stack;

// The longest the report waits, in all, for a standard error that takes no
// bytes (a terminal that stopped reading); the process ends after it anyway.
constexpr std::chrono::milliseconds kReportWait{2000};

// Gives the terminal back, without ncurses (the crash may have left it in any
// state, or another thread may be using it), then writes the report: the
// message first, since reading the trace's symbols may fail in turn.
void report(std::string_view reason, std::string_view location, backward::StackTrace& trace) {
  tui::restore_terminal_from_signal();
  std::ostringstream message;
  message << "\nThe application crashed.\nMessage:  " << reason << "\n";
  if (!location.empty())
    message << "Location: " << location << "\n";
  message << "\n";
  const auto wait_left = tui::write_without_blocking(STDERR_FILENO, message.str(), kReportWait);
  backward::Printer printer;
  printer.address = true;
  printer.object = true;
  printer.color_mode =
      ::isatty(STDERR_FILENO) ? backward::ColorMode::always : backward::ColorMode::never;
  std::ostringstream stack;
  printer.print(trace, stack);
  tui::write_without_blocking(STDERR_FILENO, stack.str(), wait_left);
}

// Off a signal handler the logger can still write out its buffered records.
[[noreturn]] void report_and_exit(std::string_view reason, std::string_view location) {
  if (first_crash()) {
    backward::StackTrace trace;
    trace.load_here(kTraceDepth);
    report(reason, location, trace);
    log::shutdown();
  }
  std::_Exit(kCrashStatus);
}

void on_terminate() {
  std::string reason = "terminate called without an active exception";
  if (std::exception_ptr e = std::current_exception()) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& ex) {
      reason = std::string("uncaught exception: ") + ex.what();
    } catch (...) {
      reason = "uncaught exception of an unknown type";
    }
  }
  report_and_exit(reason, {});
}

void* faulting_address(void* context) {
  auto* uc = static_cast<ucontext_t*>(context);
#if defined(REG_RIP)
  return reinterpret_cast<void*>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return reinterpret_cast<void*>(uc->uc_mcontext.pc);
#else
  (void)uc;
  return nullptr;
#endif
}

void on_signal(int number, siginfo_t* info, void* context) {
  // The handler was reset to the default on entry (SA_RESETHAND), so raising
  // the signal again after the report ends the process by it.
  if (first_crash()) {
    std::string_view name = "fatal signal";
    for (const auto& s : kFatalSignals) {
      if (s.number == number) {
        name = s.name;
      }
    }
    backward::StackTrace trace;
    if (void* pc = faulting_address(context)) {
      trace.load_from(pc, kTraceDepth, context, info->si_addr);
    } else {
      trace.load_here(kTraceDepth, context, info->si_addr);
    }
    std::string reason = "fatal signal ";
    reason += name;
    report(reason, {}, trace);
  }
  ::raise(number);
}

std::int64_t monotonic_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Records the first signal; the event loop ends on it. A repeat within the
// grace time is ignored. A later one ends a program that no longer reaches
// its loop, the terminal given back first; only async-signal-safe calls.
void on_termination_signal(int number) {
  const std::int64_t now = monotonic_ns();
  std::int64_t unset = 0;
  first_termination_at.compare_exchange_strong(unset, now);
  int none = 0;
  if (termination.compare_exchange_strong(none, number) ||
      now - first_termination_at.load() < kRepeatGraceNs)
    return;
  tui::restore_terminal_from_signal();
  ::signal(number, SIG_DFL);
  ::raise(number);  // delivered, by the default action, once the handler returns
}

// Installs `action` for `number` unless the signal was ignored at start (nohup).
bool install_unless_ignored(int number, const struct sigaction& action) {
  struct sigaction before {};
  if (::sigaction(number, nullptr, &before) != 0)
    return false;
  return before.sa_handler == SIG_IGN || ::sigaction(number, &action, nullptr) == 0;
}

}  // namespace

std::expected<void, IoError> install_crash_handler() {
  stack_t stack{};
  stack.ss_sp = signal_stack.data();
  stack.ss_size = signal_stack.size();
  if (::sigaltstack(&stack, nullptr) != 0) {
    return std::unexpected(IoError::from_errno(errno));
  }
  struct sigaction action {};
  action.sa_sigaction = on_signal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const auto& s : kFatalSignals) {
    if (::sigaction(s.number, &action, nullptr) != 0) {
      return std::unexpected(IoError::from_errno(errno));
    }
  }
  // No other termination signal can end the process while the handler
  // gives the terminal back.
  struct sigaction ending {};
  ending.sa_handler = on_termination_signal;
  ending.sa_flags = SA_RESTART;
  sigemptyset(&ending.sa_mask);
  for (const int number : kTerminationSignals)
    sigaddset(&ending.sa_mask, number);
  for (const int number : kTerminationSignals) {
    if (!install_unless_ignored(number, ending)) {
      return std::unexpected(IoError::from_errno(errno));
    }
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (const int number : kIgnoredSignals) {
    if (::sigaction(number, &ignore, nullptr) != 0) {
      return std::unexpected(IoError::from_errno(errno));
    }
  }
  std::set_terminate(on_terminate);
  return {};
}

int termination_signal() noexcept {
  return termination.load();
}

void end_by_signal(int number) {
  ::signal(number, SIG_DFL);
  sigset_t only{};
  sigemptyset(&only);
  sigaddset(&only, number);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(number);
  std::_Exit(128 + number);  // not reached: the default action ends the process
}

void wait_for_crash_report() {
  const pid_t reporter = reporting_thread.load();
  if (reporter != 0 && reporter != ::gettid()) {
    for (;;)
      ::pause();  // the reporting thread ends the process
  }
}

void stop(std::string_view reason, std::source_location where) {
  report_and_exit(reason, fmt::format("{}:{}", where.file_name(), where.line()));
}

}  // namespace kestrel::shell
