#pragma once
// Signal and crash handling for the whole process: a terminate handler and
// handlers for the fatal signals (SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL,
// SIGSYS, SIGTRAP). A crash on any thread puts the terminal's modes back at
// once, then a child process writes the way back to the normal screen
// (attributes reset, alternate screen left, cursor shown), without ncurses,
// which the crash may have broken or another thread may be using, and a
// crash report with a stack trace on standard error. When no child can be
// made, the crashing process writes the way back and the message itself. Off
// a signal, the crashing process then writes out the log's buffered records.
// All of it takes no more than kReportWait, whatever holds it (an output that
// takes no bytes, a lock the crash held), and the process ends. While one
// thread reports, a crash on another, by any signal, waits for that report
// to end the process; a crash inside the report ends it at once. The other
// signals that would end the process (SIGTERM, SIGHUP, SIGINT, SIGQUIT,
// SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, and on Linux
// SIGPWR, SIGSTKFLT and SIGIO) are only recorded: the event loop then ends,
// the program shuts down as usual, and end_by_signal ends the process by that
// signal. A repeat within a second is ignored; a later one ends the process
// at once, the terminal's modes put back first and its way back written
// within half a second. No path changes the terminal's file status flags.
// SIGXFSZ and SIGPIPE are ignored, so writes past the file-size limit or into
// a closed pipe fail as errors.

#include <chrono>
#include <expected>
#include <source_location>
#include <string_view>

#include "structs/errors.hpp"

namespace kestrel::shell {

// The exit status after a stop or an uncaught exception. A fatal signal ends
// the process by that signal instead.
inline constexpr int kCrashStatus = 101;

// The longest a crash waits, in all, for its report to be written (a
// terminal that stopped reading, a report stuck on a lock the crash held).
// The sanitizers make reading the trace's symbols alone take about that long.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::chrono::milliseconds kReportWait{10000};
#else
inline constexpr std::chrono::milliseconds kReportWait{2000};
#endif

// Installs the handlers; fails only when the system refuses one of them.
// Termination signals that are ignored at that moment stay ignored. A crash
// waits `report_wait` at most for its report (tests that read the whole
// trace on a loaded machine give it longer).
std::expected<void, IoError> install_crash_handler(
    std::chrono::milliseconds report_wait = kReportWait);

// The first termination signal received, or 0.
int termination_signal() noexcept;

// When another thread is reporting a crash, waits for that report to end the
// process; returns at once otherwise. For the way out of main, so that no
// error line or exit cuts a report short.
void wait_for_crash_report();

// Ends the process by `number` with its default action, as if it had not been
// caught: the parent sees the same status.
[[noreturn]] void end_by_signal(int number);

// Ends the program as a crash does, with `reason` and the caller's place as
// the report's message and location.
[[noreturn]] void stop(std::string_view reason,
                       std::source_location where = std::source_location::current());

}  // namespace kestrel::shell
