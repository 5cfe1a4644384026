#include "ui/bounded_child.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace kestrel::shell {

namespace {

std::int64_t monotonic_ms() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

// The child's set-up: default actions for every signal but SIGPIPE and
// SIGXFSZ, none blocked, and killed with the parent (checked after asking,
// in case it ended before).
void become_child(pid_t parent) {
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  for (int number = 1; number < SIGRTMIN; ++number) {
    if (number != SIGPIPE && number != SIGXFSZ)
      ::sigaction(number, &fallback, nullptr);  // SIGKILL and SIGSTOP refuse: harmless
  }
  sigset_t none{};
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
    ::_exit(0);
}

}  // namespace

Deadline::Deadline(std::chrono::milliseconds bound) noexcept
    : at_ms_(monotonic_ms() + bound.count()) {}

std::chrono::milliseconds Deadline::left() const noexcept {
  return std::chrono::milliseconds(std::max<std::int64_t>(at_ms_ - monotonic_ms(), 0));
}

bool run_bounded_child(ForkKind kind, const Deadline& deadline, void (*work)(void*),
                       void* context) noexcept {
  const pid_t parent = ::getpid();
  const pid_t child = kind == ForkKind::InHandler ? ::_Fork() : ::fork();
  if (child < 0)
    return false;
  if (child == 0) {
    become_child(parent);
    work(context);
    ::_exit(0);
  }
  constexpr timespec kPoll{0, 10'000'000};
  for (;;) {
    const pid_t done = ::waitpid(child, nullptr, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR))
      return true;  // ended (or reaped already, where children are not kept)
    if (deadline.left().count() == 0)
      break;
    ::nanosleep(&kPoll, nullptr);
  }
  ::kill(child, SIGKILL);
  return true;
}

void write_until(const Deadline& deadline, int fd, std::string_view bytes) noexcept {
  // Small enough for the room a terminal or pipe has when it says it takes output.
  constexpr std::size_t kPiece = 64;
  while (!bytes.empty()) {
    pollfd output{fd, POLLOUT, 0};
    const int ready = ::poll(&output, 1, static_cast<int>(deadline.left().count()));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0 || (output.revents & POLLOUT) == 0)
      return;  // the deadline has passed, or the output is gone
    const ssize_t n = ::write(fd, bytes.data(), std::min(bytes.size(), kPiece));
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    if (n <= 0)
      return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace kestrel::shell
