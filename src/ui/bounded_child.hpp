#pragma once
// A child process that does work which may block, allocate or hang (writing
// to a terminal that stopped reading, reading a stack trace's symbols) on
// behalf of a process that is about to end, and that is given a bounded time
// for it. The parent never waits longer than that bound.

#include <chrono>

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

// Runs `work(context)` in a child process and waits for it at most `bound`,
// then kills it if it still runs. In the child every signal is back at its
// default action and unblocked, so a crash there ends the child alone; the
// child is killed when the calling thread ends, so it never outlives the
// process. When no child can be made, nothing runs. With ForkKind::InHandler
// the call is async-signal-safe.
void run_bounded_child(ForkKind kind, std::chrono::milliseconds bound, void (*work)(void*),
                       void* context) noexcept;

// The same for any callable, called by reference in the child.
template <class Work>
void run_bounded_child(ForkKind kind, std::chrono::milliseconds bound, Work& work) noexcept {
  run_bounded_child(
      kind, bound, [](void* w) { (*static_cast<Work*>(w))(); }, &work);
}

}  // namespace kestrel::shell
