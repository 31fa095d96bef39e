#pragma once
// async/await as C++20 coroutines.
//
// Task<T> is lazy: nothing runs until it is awaited, and awaiting starts it
// inline. spawnOnMain() is `Task { @MainActor in ... }`: the start is posted
// to the main queue, never run inline. A suspended coroutine comes back only
// through a CheckedContinuation, whose resume always posts the resumption to
// the main queue, so coroutine code runs on the main thread only.
//
// Lifetimes: the captures of a coroutine lambda live in the lambda object, not
// in the coroutine frame. Pass a callable to spawnOnMain() (it is kept alive
// until the coroutine ends) or pass values as parameters; never capture by
// reference, and take `auto self = shared_from_this()` first in a member
// coroutine that may outlive its caller.
//
// g++ 12 destroys a lambda (or brace-initialised aggregate) temporary twice
// when it appears in an expression that contains co_await. Always bind such a
// value to a named local first:
//     auto read = conc::runOn(queue, [element] { return element.read(); });
//     auto value = co_await read;

#include <atomic>
#include <cassert>
#include <coroutine>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

#include "platform/dispatch/Dispatch.h"

namespace conc {

// The state of one spawned (detached) task: its cancellation flag.
struct TaskState {
  std::atomic<bool> cancelled{false};
  std::atomic<bool> finished{false};
};

namespace detail {

inline thread_local std::shared_ptr<TaskState> tlsCurrentTask;

struct CurrentTaskScope {
  explicit CurrentTaskScope(std::shared_ptr<TaskState> s) : previous(std::move(tlsCurrentTask)) {
    tlsCurrentTask = std::move(s);
  }
  ~CurrentTaskScope() { tlsCurrentTask = std::move(previous); }
  std::shared_ptr<TaskState> previous;
};

struct PromiseBase {
  std::coroutine_handle<> continuation;
  std::exception_ptr exception;

  std::suspend_always initial_suspend() noexcept { return {}; }
  struct FinalAwaiter {
    bool await_ready() noexcept { return false; }
    template <class P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept {
      if (auto c = h.promise().continuation) return c;
      return std::noop_coroutine();
    }
    void await_resume() noexcept {}
  };
  FinalAwaiter final_suspend() noexcept { return {}; }
  void unhandled_exception() noexcept { exception = std::current_exception(); }
};

template <class T>
struct Promise : PromiseBase {
  std::optional<T> value;
  template <class U>
  void return_value(U&& v) {
    value.emplace(std::forward<U>(v));
  }
};

template <>
struct Promise<void> : PromiseBase {
  void return_void() noexcept {}
};

}  // namespace detail

template <class T = void>
class [[nodiscard]] Task {
 public:
  struct promise_type : detail::Promise<T> {
    Task get_return_object() { return Task(std::coroutine_handle<promise_type>::from_promise(*this)); }
  };
  using Handle = std::coroutine_handle<promise_type>;

  Task() = default;
  explicit Task(Handle h) : handle_(h) {}
  Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
  Task& operator=(Task&& other) noexcept {
    if (this != &other) {
      if (handle_) handle_.destroy();
      handle_ = std::exchange(other.handle_, {});
    }
    return *this;
  }
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task() {
    if (handle_) handle_.destroy();
  }

  bool valid() const { return static_cast<bool>(handle_); }

  struct Awaiter {
    Handle handle;
    bool await_ready() const noexcept { return !handle || handle.done(); }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
      handle.promise().continuation = awaiting;
      return handle;
    }
    T await_resume() {
      auto& p = handle.promise();
      if (p.exception) std::rethrow_exception(p.exception);
      if constexpr (!std::is_void_v<T>) return std::move(*p.value);
    }
  };
  Awaiter operator co_await() && noexcept { return Awaiter{handle_}; }

 private:
  Handle handle_;
};

// A handle on a spawned task: cooperative cancellation, like Swift's Task.cancel().
class TaskHandle {
 public:
  TaskHandle() = default;
  explicit TaskHandle(std::shared_ptr<TaskState> s) : state_(std::move(s)) {}
  void cancel() const {
    if (state_) state_->cancelled = true;
  }
  bool isCancelled() const { return state_ && state_->cancelled; }
  bool isFinished() const { return state_ && state_->finished; }
  explicit operator bool() const { return static_cast<bool>(state_); }

 private:
  std::shared_ptr<TaskState> state_;
};

// Whether the spawned task that runs the calling coroutine was cancelled.
inline bool isCancelled() { return detail::tlsCurrentTask && detail::tlsCurrentTask->cancelled; }

namespace detail {

struct Detached {
  struct promise_type {
    Detached get_return_object() noexcept { return {}; }
    std::suspend_never initial_suspend() noexcept { return {}; }
    std::suspend_never final_suspend() noexcept { return {}; }
    void return_void() noexcept {}
    [[noreturn]] void unhandled_exception() noexcept {
      std::fputs("conc: an exception escaped a spawned task\n", stderr);
      std::terminate();
    }
  };
};

// The callable is a parameter, so it lives in this frame until the task ends.
template <class F>
Detached runDetached(F f, std::shared_ptr<TaskState> state) {
  co_await f();
  state->finished = true;
}

inline Detached runDetachedTask(Task<void> task, std::shared_ptr<TaskState> state) {
  co_await std::move(task);
  state->finished = true;
}

}  // namespace detail

// Starts `makeTask()` (a callable returning Task<void>) on the main actor. The
// start is posted to the main queue; the callable is kept alive until the task ends.
template <class F>
  requires std::is_invocable_r_v<Task<void>, F&>
TaskHandle spawnOnMain(F makeTask) {
  auto state = std::make_shared<TaskState>();
  auto holder = std::make_shared<std::optional<F>>(std::move(makeTask));
  dispatch::Queue::main()->async([holder, state] {
    detail::CurrentTaskScope scope(state);
    detail::runDetached(std::move(**holder), state);
  });
  return TaskHandle(state);
}

// Starts an already made task on the main actor (posted, never inline).
inline TaskHandle spawnOnMain(Task<void> task) {
  auto state = std::make_shared<TaskState>();
  auto holder = std::make_shared<Task<void>>(std::move(task));
  dispatch::Queue::main()->async([holder, state] {
    detail::CurrentTaskScope scope(state);
    detail::runDetachedTask(std::move(*holder), state);
  });
  return TaskHandle(state);
}

// ---------------------------------------------------------------- continuations

namespace detail {

template <class T>
struct ContinuationState {
  std::coroutine_handle<> handle;
  std::shared_ptr<TaskState> task;
  std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
  std::exception_ptr exception;
  std::atomic<bool> resumed{false};

  bool claim() {
    if (resumed.exchange(true)) {
      assert(false && "a checked continuation was resumed twice");
      return false;  // release builds ignore the second resume
    }
    return true;
  }
  static void post(const std::shared_ptr<ContinuationState>& self) {
    dispatch::Queue::main()->async([self] {
      CurrentTaskScope scope(self->task);
      self->handle.resume();
    });
  }
};

}  // namespace detail

template <class T>
class CheckedContinuation {
 public:
  explicit CheckedContinuation(std::shared_ptr<detail::ContinuationState<T>> s) : state_(std::move(s)) {}

  template <class U = T>
    requires(!std::is_void_v<U>)
  void resume(U value) const {
    if (!state_->claim()) return;
    state_->value.emplace(std::move(value));
    detail::ContinuationState<T>::post(state_);
  }
  template <class U = T>
    requires std::is_void_v<U>
  void resume() const {
    if (!state_->claim()) return;
    detail::ContinuationState<T>::post(state_);
  }
  void resumeThrowing(std::exception_ptr error) const {
    if (!state_->claim()) return;
    state_->exception = std::move(error);
    detail::ContinuationState<T>::post(state_);
  }
  bool wasResumed() const { return state_->resumed; }

 private:
  std::shared_ptr<detail::ContinuationState<T>> state_;
};

template <class T>
struct ContinuationAwaiter {
  std::function<void(CheckedContinuation<T>)> body;
  std::shared_ptr<detail::ContinuationState<T>> state = std::make_shared<detail::ContinuationState<T>>();

  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> h) {
    state->handle = h;
    state->task = detail::tlsCurrentTask;
    // The resumption is always posted, so it can't run before we return.
    body(CheckedContinuation<T>(state));
  }
  T await_resume() {
    if (state->exception) std::rethrow_exception(state->exception);
    if constexpr (!std::is_void_v<T>) return std::move(*state->value);
  }
};

// Suspends the calling coroutine and hands `body` a continuation; the coroutine
// continues on the main queue once the continuation is resumed (from any thread).
template <class T>
ContinuationAwaiter<T> withCheckedContinuation(std::function<void(CheckedContinuation<T>)> body) {
  return ContinuationAwaiter<T>{std::move(body)};
}

// Runs `work` on `queue` and resumes on main with its result.
template <class F, class R = std::invoke_result_t<F&>>
ContinuationAwaiter<R> runOn(std::shared_ptr<dispatch::Queue> queue, F work) {
  return withCheckedContinuation<R>([queue = std::move(queue), work = std::move(work)](CheckedContinuation<R> c) mutable {
    queue->async([c, work = std::move(work)]() mutable {
      try {
        if constexpr (std::is_void_v<R>) {
          work();
          c.resume();
        } else {
          c.resume(work());
        }
      } catch (...) {
        c.resumeThrowing(std::current_exception());
      }
    });
  });
}

// Task.sleep: resumes on main after the delay.
inline ContinuationAwaiter<void> sleepFor(double seconds) {
  return withCheckedContinuation<void>([seconds](CheckedContinuation<void> c) {
    dispatch::Queue::main()->asyncAfterDelay(seconds, [c] { c.resume(); });
  });
}

}  // namespace conc
