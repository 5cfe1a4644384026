#pragma once
// A value behind its own lock, with a poison flag, shared through a counted
// handle. A thread that fails (throws) while holding the lock poisons the
// cell; every later access then ends the accessing thread by throwing
// PoisonedCell, which names the accessor's source location.

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <source_location>
#include <stdexcept>
#include <string>
#include <utility>

namespace kestrel {

// Thrown by an access to a poisoned cell; what() reads
// "lock poisoned: <file>:<line>:<column>" with the accessor's location.
// Only the scan thread's body catches it (ending that thread); on the
// interface thread it ends the program through the crash handler.
class PoisonedCell : public std::runtime_error {
 public:
  explicit PoisonedCell(const std::source_location& where);
};

template <class T>
class SharedCell {
 public:
  explicit SharedCell(T initial = T{}) : state_(std::make_shared<State>(std::move(initial))) {}

  // Runs f(value) under the lock and returns its result. Throws PoisonedCell
  // when the cell is poisoned; poisons it when f throws. f must not return a
  // reference into the value: the lock is gone once with_lock returns.
  template <class F>
  decltype(auto) with_lock(F&& f,
                           std::source_location where = std::source_location::current()) const {
    std::lock_guard lock(state_->mutex);
    if (state_->poisoned.load(std::memory_order_relaxed))
      throw PoisonedCell(where);
    struct PoisonOnUnwind {
      State& s;
      int uncaught = std::uncaught_exceptions();
      ~PoisonOnUnwind() {
        if (std::uncaught_exceptions() > uncaught)
          s.poisoned.store(true, std::memory_order_relaxed);
      }
    } guard{*state_};
    return std::forward<F>(f)(state_->value);
  }

  // Runs f(value, poisoned) only if the lock is free right now; returns false
  // when another thread holds it. Never fails on a poisoned cell.
  template <class F>
  bool try_inspect(F&& f) const {
    std::unique_lock lock(state_->mutex, std::try_to_lock);
    if (!lock.owns_lock())
      return false;
    std::forward<F>(f)(std::as_const(state_->value), is_poisoned());
    return true;
  }

  // The poison flag, read without the lock (it is only ever set, never cleared).
  bool is_poisoned() const { return state_->poisoned.load(std::memory_order_relaxed); }

  bool shares_with(const SharedCell& other) const { return state_ == other.state_; }

 private:
  struct State {
    explicit State(T v) : value(std::move(v)) {}
    std::mutex mutex;
    std::atomic<bool> poisoned = false;
    T value;
  };
  std::shared_ptr<State> state_;
};

}  // namespace kestrel
