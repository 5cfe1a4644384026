#include "ui/bounded_child.hpp"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace kestrel::shell {

namespace {

std::int64_t monotonic_ms() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

// The child's set-up: default actions for every signal, none blocked, and
// killed with the parent (checked after asking, in case it ended before).
void become_child(pid_t parent) {
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  for (int number = 1; number < SIGRTMIN; ++number)
    ::sigaction(number, &fallback, nullptr);  // SIGKILL and SIGSTOP refuse: harmless
  sigset_t none{};
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
    ::_exit(0);
}

}  // namespace

void run_bounded_child(ForkKind kind, std::chrono::milliseconds bound, void (*work)(void*),
                       void* context) noexcept {
  const pid_t parent = ::getpid();
  const pid_t child = kind == ForkKind::InHandler ? ::_Fork() : ::fork();
  if (child < 0)
    return;
  if (child == 0) {
    become_child(parent);
    work(context);
    ::_exit(0);
  }
  constexpr timespec kPoll{0, 10'000'000};
  const std::int64_t deadline = monotonic_ms() + bound.count();
  for (;;) {
    const pid_t done = ::waitpid(child, nullptr, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR))
      return;  // ended (or reaped already, where children are not kept)
    if (monotonic_ms() >= deadline)
      break;
    ::nanosleep(&kPoll, nullptr);
  }
  ::kill(child, SIGKILL);
}

}  // namespace kestrel::shell
