#pragma once
// Queues and timers in the manner of libdispatch, run by one scheduler.
//
// The scheduler has two modes. In real mode the main queue is drained by the
// thread that calls runMain(), every serial queue has a worker thread and the
// global queues share a small pool; time is the monotonic clock. In virtual
// mode no thread runs anything by itself: time stands still until advance()
// moves it, and runUntilIdle() drains every queue on the calling thread, so
// tests are deterministic.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace dispatch {

// Nanoseconds on the scheduler's monotonic clock.
using Time = std::int64_t;
inline constexpr Time kNanosPerSecond = 1'000'000'000;

Time now();
Time after(double seconds);
// Seconds since 1970 on the wall clock; under the virtual clock it moves with advance().
double wallNow();

enum class QoS { Background, Utility, Default, UserInitiated, UserInteractive };

class Queue : public std::enable_shared_from_this<Queue> {
 public:
  using Work = std::function<void()>;
  enum class Kind { Main, Serial, Concurrent };

  static std::shared_ptr<Queue> main();
  static std::shared_ptr<Queue> global(QoS qos = QoS::Default);
  static std::shared_ptr<Queue> makeSerial(std::string label);

  ~Queue();
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  const std::string& label() const { return label_; }
  Kind kind() const { return kind_; }

  void async(Work work);
  void asyncAfter(Time deadline, Work work);
  void asyncAfterDelay(double seconds, Work work) { asyncAfter(after(seconds), std::move(work)); }
  // Runs work on this queue and returns when it is done. Calling it from the
  // queue's own work deadlocks in real mode, as with libdispatch.
  void sync(const Work& work);

  // True while the calling thread runs work of this queue.
  bool isCurrent() const;
  static Queue* current();

  // Work items waiting (ready or timed); for tests.
  std::size_t pendingCount() const;

  struct Impl;

 private:
  friend class Scheduler;
  Queue(Kind kind, std::string label);
  void post(Time deadline, Work work, bool immediate);
  Kind kind_;
  std::string label_;
  std::shared_ptr<Impl> impl_;
};

// Whether the calling thread is the main thread (the one that drains the main queue).
bool isMainThread();

class Scheduler {
 public:
  static Scheduler& shared();

  bool isVirtual() const;
  // Switch modes. Pending work of every queue is dropped, worker threads stop.
  void useVirtualClock();
  void useRealClock();

  // Virtual mode: run every ready item of every queue until none is left at
  // the current time. Returns the number of items run.
  std::size_t runUntilIdle();
  // Virtual mode: move time forward, firing timers in deadline order and
  // draining the queues at each step.
  void advance(double seconds);

  // Real mode: drain the main queue on the calling thread until stopMain() or
  // the deadline. The calling thread becomes the main thread.
  void runMain(std::optional<Time> until = std::nullopt);
  void stopMain();
  // Runs the main queue until pred() holds or the timeout passes (real or
  // virtual mode); returns pred(). For tests that wait on other threads.
  bool runMainUntil(const std::function<bool()>& pred, double timeoutSeconds);

  // Marks the calling thread as the main thread (done by runMain and by the
  // virtual clock's drains).
  void adoptMainThread();

 private:
  Scheduler();
  void runMainLoop(std::optional<Time> until, const std::function<bool()>& done);
  friend class Queue;
  friend Time now();
  friend double wallNow();
  friend bool isMainThread();
  struct State;
  std::unique_ptr<State> state_;
};

// RAII: virtual clock for the life of a test, real clock again afterwards.
class VirtualClockScope {
 public:
  VirtualClockScope() { Scheduler::shared().useVirtualClock(); }
  ~VirtualClockScope() { Scheduler::shared().useRealClock(); }
  VirtualClockScope(const VirtualClockScope&) = delete;
  VirtualClockScope& operator=(const VirtualClockScope&) = delete;
};

// A timer source: after start, fires its handler on the queue every interval
// until cancelled. A non-positive interval fires once.
class TimerSource : public std::enable_shared_from_this<TimerSource> {
 public:
  static std::shared_ptr<TimerSource> make(std::shared_ptr<Queue> queue);
  void setTimer(Time start, Time interval, Time leeway = 0);
  void setEventHandler(std::function<void()> handler);
  void resume();
  void suspend();
  void cancel();
  bool isCancelled() const;

 private:
  explicit TimerSource(std::shared_ptr<Queue> queue) : queue_(std::move(queue)) {}
  void arm(Time deadline, std::uint64_t generation);
  std::shared_ptr<Queue> queue_;
  mutable std::mutex mutex_;
  std::function<void()> handler_;
  Time start_ = 0;
  Time interval_ = 0;
  std::uint64_t generation_ = 0;
  bool resumed_ = false;
  bool cancelled_ = false;
};

// dispatch_group: counts work in flight; notify runs once the count drops to zero.
class Group {
 public:
  void enter();
  void leave();
  void async(const std::shared_ptr<Queue>& queue, Queue::Work work);
  void notify(const std::shared_ptr<Queue>& queue, Queue::Work work);
  // Real mode only: blocks until the count is zero or the timeout passes.
  bool wait(double timeoutSeconds);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long count_ = 0;
  std::vector<std::pair<std::shared_ptr<Queue>, Queue::Work>> notifications_;
};

// dispatch_semaphore.
class Semaphore {
 public:
  explicit Semaphore(long value = 0) : value_(value) {}
  void signal();
  // Returns false on timeout. A negative timeout waits forever.
  bool wait(double timeoutSeconds = -1);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long value_;
};

}  // namespace dispatch
