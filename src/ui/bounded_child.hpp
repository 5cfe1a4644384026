#pragma once
// A child process that does work which may block, allocate or hang (writing
// to a terminal that stopped reading, reading a stack trace's symbols) on
// behalf of a process that is about to end, and that is given a bounded time
// for it. The parent never waits past that bound.

#include <chrono>
#include <cstdint>
#include <string_view>

namespace kestrel::shell {

// How the child is made.
enum class ForkKind {
  // _Fork: no fork handlers and no allocator locks taken, so it is
  // async-signal-safe and works when the crash holds the allocator's lock;
  // the child may then deadlock when it allocates, which the bound ends.
  InHandler,
  // fork(): the fork handlers run, so the child can allocate; not for a
  // signal handler.
  Plain,
};

// The moment a bounded wait ends, on the monotonic clock. Async-signal-safe.
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds bound) noexcept;
  // What is left of the wait; zero once it has passed.
  std::chrono::milliseconds left() const noexcept;

 private:
  std::int64_t at_ms_;
};

// Runs `work(context)` in a child process and waits for it until `deadline`,
// then kills it if it still runs. In the child every signal is back at its
// default action and unblocked, so a crash there ends the child alone; only
// SIGPIPE and SIGXFSZ keep the caller's action (this program ignores them),
// so that a write the child cannot make fails instead of ending it. The child
// is killed when the calling thread ends, so it never outlives the process.
// False, with nothing run, when no child can be made (a process limit, no
// memory). With ForkKind::InHandler the call is async-signal-safe.
bool run_bounded_child(ForkKind kind, const Deadline& deadline, void (*work)(void*),
                       void* context) noexcept;

// The same for any callable, called by reference in the child.
template <class Work>
bool run_bounded_child(ForkKind kind, const Deadline& deadline, Work& work) noexcept {
  return run_bounded_child(
      kind, deadline, [](void* w) { (*static_cast<Work*>(w))(); }, &work);
}

// Writes `bytes` to `fd` in small pieces, each once poll() says that `fd`
// takes output, and gives up at `deadline` or at the first error; so a
// process that could make no child can write itself. The descriptor's flags
// are left as they are. Async-signal-safe.
void write_until(const Deadline& deadline, int fd, std::string_view bytes) noexcept;

}  // namespace kestrel::shell
