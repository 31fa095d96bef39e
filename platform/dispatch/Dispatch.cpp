#include "platform/dispatch/Dispatch.h"

#include <algorithm>
#include <cassert>
#include <deque>
#include <map>
#include <thread>
#include <tuple>

namespace dispatch {

namespace {

thread_local Queue* tlsCurrentQueue = nullptr;

struct CurrentQueueScope {
  explicit CurrentQueueScope(Queue* q) : previous(tlsCurrentQueue) { tlsCurrentQueue = q; }
  ~CurrentQueueScope() { tlsCurrentQueue = previous; }
  Queue* previous;
};

Time steadyNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double systemWallSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

constexpr int kGlobalWorkers = 4;

}  // namespace

struct Queue::Impl {
  using Timed = std::map<std::pair<Time, std::uint64_t>, Work>;

  mutable std::mutex mutex;
  std::condition_variable cv;
  std::deque<Work> ready;
  Timed timed;
  std::uint64_t sequence = 0;
  std::vector<std::thread> workers;
  bool stopping = false;

  // Moves timers due at `at` to the ready list, in deadline then insertion order.
  void promoteDue(Time at) {
    while (!timed.empty() && timed.begin()->first.first <= at) {
      ready.push_back(std::move(timed.begin()->second));
      timed.erase(timed.begin());
    }
  }
  std::optional<Time> nextDeadline() const {
    if (timed.empty()) return std::nullopt;
    return timed.begin()->first.first;
  }
};

struct Scheduler::State {
  std::mutex mutex;
  std::atomic<bool> isVirtual{false};
  std::atomic<Time> virtualNow{kNanosPerSecond};
  Time virtualBase = kNanosPerSecond;
  double wallBase = 0;
  std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};
  std::vector<std::weak_ptr<Queue>> queues;
  std::shared_ptr<Queue> mainQueue;
  std::shared_ptr<Queue> globals[5];
  std::atomic<bool> mainStop{false};
  // Woken by every post under the virtual clock, for runMainUntil.
  std::mutex postMutex;
  std::condition_variable postCv;
  std::uint64_t posts = 0;

  std::vector<std::shared_ptr<Queue>> liveQueues() {
    std::lock_guard lock(mutex);
    std::vector<std::shared_ptr<Queue>> out;
    out.reserve(queues.size());
    std::erase_if(queues, [&](const std::weak_ptr<Queue>& w) {
      auto q = w.lock();
      if (!q) return true;
      out.push_back(std::move(q));
      return false;
    });
    return out;
  }
};

Scheduler::Scheduler() : state_(std::make_unique<State>()) {}

Scheduler& Scheduler::shared() {
  static Scheduler* instance = new Scheduler();  // never destroyed: queues may outlive statics
  return *instance;
}

Time now() {
  auto& st = *Scheduler::shared().state_;
  if (st.isVirtual.load(std::memory_order_acquire)) return st.virtualNow.load(std::memory_order_acquire);
  return steadyNanos();
}

Time after(double seconds) { return now() + static_cast<Time>(seconds * static_cast<double>(kNanosPerSecond)); }

double wallNow() {
  auto& st = *Scheduler::shared().state_;
  if (st.isVirtual.load(std::memory_order_acquire)) {
    return st.wallBase + static_cast<double>(st.virtualNow.load() - st.virtualBase) / kNanosPerSecond;
  }
  return systemWallSeconds();
}

bool isMainThread() {
  return Scheduler::shared().state_->mainThread.load() == std::this_thread::get_id();
}

// ---------------------------------------------------------------- Queue

Queue::Queue(Kind kind, std::string label) : kind_(kind), label_(std::move(label)), impl_(std::make_shared<Impl>()) {}

Queue::~Queue() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
    workers.swap(impl_->workers);
  }
  impl_->cv.notify_all();
  for (auto& t : workers) {
    if (t.get_id() == std::this_thread::get_id()) {
      t.detach();  // the last reference went away inside the queue's own work; the worker owns impl_
    } else {
      t.join();
    }
  }
}

std::shared_ptr<Queue> Queue::main() {
  auto& st = *Scheduler::shared().state_;
  std::lock_guard lock(st.mutex);
  if (!st.mainQueue) {
    st.mainQueue = std::shared_ptr<Queue>(new Queue(Kind::Main, "com.apple.main-thread"));
    st.queues.insert(st.queues.begin(), st.mainQueue);
  }
  return st.mainQueue;
}

std::shared_ptr<Queue> Queue::global(QoS qos) {
  auto& st = *Scheduler::shared().state_;
  std::lock_guard lock(st.mutex);
  auto& slot = st.globals[static_cast<int>(qos)];
  if (!slot) {
    static const char* names[] = {"com.apple.root.background-qos", "com.apple.root.utility-qos",
                                  "com.apple.root.default-qos", "com.apple.root.user-initiated-qos",
                                  "com.apple.root.user-interactive-qos"};
    slot = std::shared_ptr<Queue>(new Queue(Kind::Concurrent, names[static_cast<int>(qos)]));
    st.queues.push_back(slot);
  }
  return slot;
}

std::shared_ptr<Queue> Queue::makeSerial(std::string label) {
  auto q = std::shared_ptr<Queue>(new Queue(Kind::Serial, std::move(label)));
  auto& st = *Scheduler::shared().state_;
  std::lock_guard lock(st.mutex);
  st.queues.push_back(q);
  return q;
}

Queue* Queue::current() { return tlsCurrentQueue; }

bool Queue::isCurrent() const { return tlsCurrentQueue == this; }

std::size_t Queue::pendingCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->ready.size() + impl_->timed.size();
}

namespace {

// Drains one queue on a worker thread (real mode) until it is told to stop.
void workerLoop(Queue* queue, std::shared_ptr<Queue::Impl> impl) {
  std::unique_lock lock(impl->mutex);
  while (!impl->stopping) {
    impl->promoteDue(steadyNanos());
    if (!impl->ready.empty()) {
      Queue::Work work = std::move(impl->ready.front());
      impl->ready.pop_front();
      lock.unlock();
      {
        CurrentQueueScope scope(queue);
        work();
        work = nullptr;  // destroy captures outside the lock, on this queue
      }
      lock.lock();
      continue;
    }
    if (auto next = impl->nextDeadline()) {
      impl->cv.wait_for(lock, std::chrono::nanoseconds(*next - steadyNanos()));
    } else {
      impl->cv.wait(lock);
    }
  }
}

}  // namespace

void Queue::asyncAfter(Time deadline, Work work) { post(deadline, std::move(work), false); }

// A plain post goes behind every timer that is already due, so work runs in
// the order of its time, then of its posting.
void Queue::async(Work work) { post(0, std::move(work), true); }

void Queue::post(Time deadline, Work work, bool immediate) {
  auto& st = *Scheduler::shared().state_;
  const bool isVirtual = st.isVirtual.load(std::memory_order_acquire);
  if (kind_ == Kind::Serial) {
    // As with libdispatch, pending work keeps its queue alive: dropping the
    // last reference to a queue never drops what was already submitted.
    work = [self = shared_from_this(), work = std::move(work)] { work(); };
  }
  {
    std::lock_guard lock(impl_->mutex);
    if (immediate) {
      impl_->promoteDue(now());
      impl_->ready.push_back(std::move(work));
    } else {
      impl_->timed.emplace(std::make_pair(deadline, impl_->sequence++), std::move(work));
    }
    if (!isVirtual && kind_ != Kind::Main && impl_->workers.empty() && !impl_->stopping) {
      const int count = kind_ == Kind::Concurrent ? kGlobalWorkers : 1;
      for (int i = 0; i < count; ++i) impl_->workers.emplace_back(workerLoop, this, impl_);
    }
  }
  if (kind_ == Kind::Concurrent) {
    impl_->cv.notify_all();
  } else {
    impl_->cv.notify_one();
  }
  if (isVirtual || kind_ == Kind::Main) {
    {
      std::lock_guard lock(st.postMutex);
      ++st.posts;
    }
    st.postCv.notify_all();
  }
}

void Queue::sync(const Work& work) {
  auto& sched = Scheduler::shared();
  if (isCurrent() || sched.isVirtual() || (kind_ == Kind::Main && isMainThread())) {
    CurrentQueueScope scope(this);
    work();
    return;
  }
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  async([&] {
    work();
    std::lock_guard lock(m);
    done = true;
    cv.notify_one();
  });
  std::unique_lock lock(m);
  cv.wait(lock, [&] { return done; });
}

// ---------------------------------------------------------------- Scheduler

bool Scheduler::isVirtual() const { return state_->isVirtual.load(std::memory_order_acquire); }

void Scheduler::adoptMainThread() { state_->mainThread.store(std::this_thread::get_id()); }

namespace {

void resetQueues(const std::vector<std::shared_ptr<Queue>>& queues,
                 const std::function<void(Queue&, std::vector<std::thread>&, std::deque<Queue::Work>&,
                                          Queue::Impl::Timed&)>& take) {
  for (auto& q : queues) {
    std::vector<std::thread> workers;
    std::deque<Queue::Work> ready;
    Queue::Impl::Timed timed;
    take(*q, workers, ready, timed);
    for (auto& t : workers) t.join();
    // Pending work is destroyed here, outside every lock.
  }
}

}  // namespace

void Scheduler::useVirtualClock() {
  auto queues = state_->liveQueues();
  resetQueues(queues, [](Queue& q, auto& workers, auto& ready, auto& timed) {
    {
      std::lock_guard lock(q.impl_->mutex);
      q.impl_->stopping = true;
      workers.swap(q.impl_->workers);
      ready.swap(q.impl_->ready);
      timed.swap(q.impl_->timed);
    }
    q.impl_->cv.notify_all();
  });
  for (auto& q : queues) {
    std::lock_guard lock(q->impl_->mutex);
    q->impl_->stopping = false;
  }
  state_->virtualBase = state_->virtualNow.load();
  state_->wallBase = systemWallSeconds();
  state_->isVirtual.store(true, std::memory_order_release);
  adoptMainThread();
}

void Scheduler::useRealClock() {
  auto queues = state_->liveQueues();
  state_->isVirtual.store(false, std::memory_order_release);
  resetQueues(queues, [](Queue& q, auto& workers, auto& ready, auto& timed) {
    std::lock_guard lock(q.impl_->mutex);
    workers.swap(q.impl_->workers);  // none run under the virtual clock
    ready.swap(q.impl_->ready);
    timed.swap(q.impl_->timed);
  });
  adoptMainThread();
}

std::size_t Scheduler::runUntilIdle() {
  assert(isVirtual() && "runUntilIdle needs the virtual clock");
  adoptMainThread();
  std::size_t total = 0;
  for (;;) {
    std::size_t ranThisPass = 0;
    for (auto& q : state_->liveQueues()) {
      for (;;) {
        Queue::Work work;
        {
          std::lock_guard lock(q->impl_->mutex);
          q->impl_->promoteDue(state_->virtualNow.load());
          if (q->impl_->ready.empty()) break;
          work = std::move(q->impl_->ready.front());
          q->impl_->ready.pop_front();
        }
        CurrentQueueScope scope(q.get());
        work();
        work = nullptr;
        ++ranThisPass;
      }
    }
    total += ranThisPass;
    if (ranThisPass == 0) return total;
  }
}

void Scheduler::advance(double seconds) {
  assert(isVirtual() && "advance needs the virtual clock");
  const Time target = state_->virtualNow.load() + static_cast<Time>(seconds * static_cast<double>(kNanosPerSecond));
  for (;;) {
    runUntilIdle();
    std::optional<Time> next;
    for (auto& q : state_->liveQueues()) {
      std::lock_guard lock(q->impl_->mutex);
      if (auto d = q->impl_->nextDeadline(); d && (!next || *d < *next)) next = d;
    }
    if (!next || *next > target) break;
    if (*next > state_->virtualNow.load()) state_->virtualNow.store(*next);
  }
  state_->virtualNow.store(std::max(target, state_->virtualNow.load()));
  runUntilIdle();
}

void Scheduler::runMain(std::optional<Time> until) { runMainLoop(until, nullptr); }

// Drains the main queue until stopMain(), the deadline, or `done` holds after an item.
void Scheduler::runMainLoop(std::optional<Time> until, const std::function<bool()>& done) {
  adoptMainThread();
  state_->mainStop.store(false);
  auto mainQueue = Queue::main();
  auto* impl = mainQueue->impl_.get();
  std::unique_lock lock(impl->mutex);
  while (!state_->mainStop.load()) {
    const Time t = now();
    if (until && t >= *until) break;
    impl->promoteDue(t);
    if (!impl->ready.empty()) {
      Queue::Work work = std::move(impl->ready.front());
      impl->ready.pop_front();
      lock.unlock();
      {
        CurrentQueueScope scope(mainQueue.get());
        work();
        work = nullptr;
      }
      if (done && done()) return;
      lock.lock();
      continue;
    }
    std::optional<Time> wake = impl->nextDeadline();
    if (until && (!wake || *until < *wake)) wake = until;
    if (wake) {
      impl->cv.wait_for(lock, std::chrono::nanoseconds(*wake - now()));
    } else {
      impl->cv.wait(lock);
    }
  }
}

void Scheduler::stopMain() {
  state_->mainStop.store(true);
  auto mainQueue = Queue::main();
  {
    std::lock_guard lock(mainQueue->impl_->mutex);
  }
  mainQueue->impl_->cv.notify_all();
}

bool Scheduler::runMainUntil(const std::function<bool()>& pred, double timeoutSeconds) {
  const auto realDeadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  constexpr auto slice = std::chrono::milliseconds(5);
  for (;;) {
    if (isVirtual()) {
      std::uint64_t seen;
      {
        std::lock_guard lock(state_->postMutex);
        seen = state_->posts;
      }
      runUntilIdle();
      if (pred()) return true;
      if (std::chrono::steady_clock::now() >= realDeadline) return false;
      std::unique_lock lock(state_->postMutex);
      state_->postCv.wait_for(lock, slice, [&] { return state_->posts != seen; });
    } else {
      if (pred()) return true;
      if (std::chrono::steady_clock::now() >= realDeadline) return false;
      // Slices bound the wait for conditions that other threads change without posting.
      runMainLoop(now() + std::chrono::duration_cast<std::chrono::nanoseconds>(slice).count(), pred);
      if (pred()) return true;
    }
  }
}

// ---------------------------------------------------------------- TimerSource

std::shared_ptr<TimerSource> TimerSource::make(std::shared_ptr<Queue> queue) {
  return std::shared_ptr<TimerSource>(new TimerSource(std::move(queue)));
}

void TimerSource::setTimer(Time start, Time interval, Time /*leeway*/) {
  std::lock_guard lock(mutex_);
  start_ = start;
  interval_ = interval;
  ++generation_;
  if (resumed_ && !cancelled_) arm(start_, generation_);
}

void TimerSource::setEventHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

void TimerSource::resume() {
  std::lock_guard lock(mutex_);
  if (resumed_ || cancelled_) return;
  resumed_ = true;
  ++generation_;
  arm(start_, generation_);
}

void TimerSource::suspend() {
  std::lock_guard lock(mutex_);
  resumed_ = false;
  ++generation_;
}

void TimerSource::cancel() {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    ++generation_;
    handler.swap(handler_);
  }
}

bool TimerSource::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

void TimerSource::arm(Time deadline, std::uint64_t generation) {
  std::weak_ptr<TimerSource> weak = weak_from_this();
  queue_->asyncAfter(deadline, [weak, deadline, generation] {
    auto self = weak.lock();
    if (!self) return;
    std::function<void()> handler;
    {
      std::lock_guard lock(self->mutex_);
      if (self->cancelled_ || !self->resumed_ || generation != self->generation_) return;
      handler = self->handler_;
      if (self->interval_ > 0) {
        Time next = deadline + self->interval_;
        const Time t = now();
        if (next <= t) next = t + self->interval_;  // missed fires coalesce into one
        self->arm(next, generation);
      }
    }
    if (handler) handler();
  });
}

// ---------------------------------------------------------------- Group, Semaphore

void Group::enter() {
  std::lock_guard lock(mutex_);
  ++count_;
}

void Group::leave() {
  std::vector<std::pair<std::shared_ptr<Queue>, Queue::Work>> fire;
  {
    std::lock_guard lock(mutex_);
    assert(count_ > 0 && "unbalanced Group::leave");
    if (count_ > 0) --count_;
    if (count_ == 0) fire.swap(notifications_);
  }
  cv_.notify_all();
  for (auto& [queue, work] : fire) queue->async(std::move(work));
}

void Group::async(const std::shared_ptr<Queue>& queue, Queue::Work work) {
  enter();
  queue->async([this, work = std::move(work)] {
    work();
    leave();
  });
}

void Group::notify(const std::shared_ptr<Queue>& queue, Queue::Work work) {
  {
    std::lock_guard lock(mutex_);
    if (count_ > 0) {
      notifications_.emplace_back(queue, std::move(work));
      return;
    }
  }
  queue->async(std::move(work));
}

bool Group::wait(double timeoutSeconds) {
  std::unique_lock lock(mutex_);
  auto done = [&] { return count_ == 0; };
  if (timeoutSeconds < 0) {
    cv_.wait(lock, done);
    return true;
  }
  return cv_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), done);
}

void Semaphore::signal() {
  {
    std::lock_guard lock(mutex_);
    ++value_;
  }
  cv_.notify_one();
}

bool Semaphore::wait(double timeoutSeconds) {
  std::unique_lock lock(mutex_);
  auto ready = [&] { return value_ > 0; };
  if (timeoutSeconds < 0) {
    cv_.wait(lock, ready);
  } else if (!cv_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), ready)) {
    return false;
  }
  --value_;
  return true;
}

}  // namespace dispatch
