#pragma once
// The one serial queue on which every Accessibility call on an element runs,
// labelled "AXUIElementDispatchQueue".
//
// A call into a slow or unresponsive application takes time; here that time
// is charged to the running job (sim::CostMeter) instead of blocking the
// queue's thread. When a job ends, the queue stays busy for the job's cost:
// the results the job handed back (handBack) are released when that time is
// up, and the jobs queued behind it start only then. The main queue never
// waits for any of it. The same holds under the virtual clock, where the
// cost is virtual time, and under the real clock.

#include <functional>
#include <memory>

#include "platform/dispatch/Dispatch.h"

class AXUIElementDispatchQueue {
 public:
  static constexpr const char* kLabel = "AXUIElementDispatchQueue";

  // Made on first use, kept for the life of the process.
  static AXUIElementDispatchQueue& shared();

  const std::shared_ptr<dispatch::Queue>& queue() const { return queue_; }

  // Queues a job behind every job queued before it; returns at once.
  void async(std::function<void()> job);

  // From inside a job: runs `block` on the queue when the job's time is up
  // (right after the job when it cost nothing). Outside a job: runs it now.
  static void handBack(std::function<void()> block);

  // From inside a job: holds the queue for that long, as a blocking pause of
  // the queue's thread would.
  static void pause(double seconds);

  // Whether the calling thread runs a job of this queue.
  static bool isRunningJob();

 private:
  AXUIElementDispatchQueue();
  void run(std::function<void()> job);

  struct Busy {
    dispatch::Time until;
  };

  std::shared_ptr<dispatch::Queue> queue_;
  // Alive while the release of a costly job's results is pending; touched on
  // the queue only. When the scheduler drops pending work (a test switching
  // clocks) the release goes with it and the queue is free again.
  std::weak_ptr<Busy> busy_;
};
