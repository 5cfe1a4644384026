// The crashing process does only async-signal-safe work: it claims the
// crash, puts the terminal's modes back and makes a child, which writes the
// way back to the normal screen, the message and the stack trace (read with
// backward-cpp) on standard error. The process waits for that child a
// bounded time, then ends. When no child can be made, the process writes
// the way back and the message itself, within the same bound.
#include "ui/shell_crash.hpp"

#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>
// Stack traces with function names, files and lines, read through libdw.
#define BACKWARD_HAS_DW 1
#include <backward.hpp>

#include "structs/logging.hpp"
#include "tui/terminal.hpp"
#include "ui/bounded_child.hpp"

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

// How long a crash waits for its report, set at install.
std::chrono::milliseconds report_wait = kReportWait;
// The longest a late termination signal waits for the way back to the
// normal screen, so that it still ends a stuck shut-down at once.
constexpr std::chrono::milliseconds kWayBackWait{500};

// The thread that reports a crash (its kernel id), or 0. The first crash
// reports; a crash on another thread meanwhile waits for that report to end
// the process, and one inside the report ends the process at once.
std::atomic<pid_t> reporting_thread{0};
static_assert(std::atomic<pid_t>::is_always_lock_free);

// Whether the calling thread is the first to crash: false when it crashed
// again inside its own report. A crash on another thread never returns.
bool claim_crash() {
  pid_t none = 0;
  if (reporting_thread.compare_exchange_strong(none, ::gettid()))
    return true;
  wait_for_crash_report();
  return false;
}

// The main thread's handlers run here, so a stack overflow can be reported.
alignas(16) std::array<char, 1 << 20> signal_stack;

// Text gathered in place, cut at its capacity: the crash message is made
// without allocating, since the crash may hold the allocator's lock.
class FixedText {
 public:
  FixedText& operator<<(std::string_view part) {
    const std::size_t n = std::min(part.size(), text_.size() - size_);
    std::copy_n(part.data(), n, text_.data() + size_);
    size_ += n;
    return *this;
  }
  std::string_view view() const { return {text_.data(), size_}; }

 private:
  std::array<char, 2048> text_;
  std::size_t size_ = 0;
};

// The crash report: the way back to the normal screen, the message, then the
// trace, whose symbols are read in the child.
struct CrashReport {
  std::optional<tui::WayBack> way_back;
  FixedText message;
  // The crashing thread as the trace names it: its id, 0 for the main thread.
  std::size_t thread = 0;
  // From a signal: where it struck, so the trace starts there.
  siginfo_t* info = nullptr;
  void* context = nullptr;

  CrashReport(std::string_view reason, std::string_view location)
      : way_back(tui::seize_terminal_from_signal()) {
    message << "\nThe application crashed.\nMessage:  " << reason << "\n";
    if (!location.empty())
      message << "Location: " << location << "\n";
    message << "\n";
    const pid_t self = ::gettid();
    thread = self == ::getpid() ? 0 : static_cast<std::size_t>(self);
  }

  // Has a child write the whole report by `deadline`; when none can be made,
  // writes the way back and the message from here, by the same deadline.
  void send(ForkKind kind, const Deadline& deadline) const {
    auto whole = [&] {
      write_message(deadline);
      write_until(deadline, STDERR_FILENO, stack_trace());
    };
    if (!run_bounded_child(kind, deadline, whole))
      write_message(deadline);
  }

  void write_message(const Deadline& deadline) const {
    if (way_back)
      write_until(deadline, way_back->fd, way_back->bytes);
    write_until(deadline, STDERR_FILENO, message.view());
  }

  std::string stack_trace() const {
    backward::StackTrace trace;
    if (void* pc = faulting_address()) {
      trace.load_from(pc, kTraceDepth, context, info->si_addr);
    } else if (info != nullptr) {
      trace.load_here(kTraceDepth, context, info->si_addr);
    } else {
      trace.load_here(kTraceDepth);
    }
    // Printed from the resolved frames with the crashing thread's id: taken
    // in the child, the trace itself names the child.
    backward::TraceResolver resolver;
    resolver.load_stacktrace(trace);
    std::vector<backward::ResolvedTrace> frames;
    for (std::size_t i = trace.size(); i > 0; --i)
      frames.push_back(resolver.resolve(trace[i - 1]));
    backward::Printer printer;
    printer.address = true;
    printer.object = true;
    printer.color_mode =
        ::isatty(STDERR_FILENO) ? backward::ColorMode::always : backward::ColorMode::never;
    std::ostringstream text;
    printer.print(frames.begin(), frames.end(), text, thread);
    return text.str();
  }

  void* faulting_address() const {
    if (context == nullptr)
      return nullptr;
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
};

// Off a signal handler: the report's child is an ordinary fork, so it can
// allocate whatever state the other threads left the allocator in. The log's
// buffered records are written here, by the process whose flusher thread
// writes them too, so each is written once; within what is left of the wait,
// as the crash may hold the log's locks.
[[noreturn]] void report_and_exit(std::string_view reason, std::string_view location) {
  if (claim_crash()) {
    const Deadline deadline(report_wait);
    CrashReport report(reason, location);
    report.send(ForkKind::Plain, deadline);
    log::flush(deadline.left());
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

// Async-signal-safe up to the child, which may allocate or hang harmlessly.
void on_signal(int number, siginfo_t* info, void* context) {
  if (claim_crash()) {
    std::string_view name = "fatal signal";
    for (const auto& s : kFatalSignals) {
      if (s.number == number)
        name = s.name;
    }
    FixedText reason;
    reason << "fatal signal " << name;
    CrashReport report(reason.view(), {});
    report.info = info;
    report.context = context;
    report.send(ForkKind::InHandler, Deadline(report_wait));
  }
  end_by_signal(number);
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
  if (auto way_back = tui::seize_terminal_from_signal()) {
    const Deadline deadline(kWayBackWait);
    auto write_way_back = [&] { write_until(deadline, way_back->fd, way_back->bytes); };
    if (!run_bounded_child(ForkKind::InHandler, deadline, write_way_back))
      write_way_back();
  }
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

std::expected<void, IoError> install_crash_handler(std::chrono::milliseconds wait) {
  report_wait = wait;
  stack_t stack{};
  stack.ss_sp = signal_stack.data();
  stack.ss_size = signal_stack.size();
  if (::sigaltstack(&stack, nullptr) != 0) {
    return std::unexpected(IoError::from_errno(errno));
  }
  struct sigaction action {};
  action.sa_sigaction = on_signal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
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
