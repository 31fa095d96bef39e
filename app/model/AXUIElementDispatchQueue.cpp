#include "app/model/AXUIElementDispatchQueue.h"

#include <mutex>
#include <utility>
#include <vector>

#include "platform/sim/CostMeter.h"

namespace {

// The results a running job hands back; one per thread that runs a job.
thread_local std::vector<std::function<void()>>* tlsHandBacks = nullptr;

}  // namespace

AXUIElementDispatchQueue::AXUIElementDispatchQueue() : queue_(dispatch::Queue::makeSerial(kLabel)) {}

AXUIElementDispatchQueue& AXUIElementDispatchQueue::shared() {
  static std::once_flag once;
  static AXUIElementDispatchQueue* instance = nullptr;
  std::call_once(once, [] { instance = new AXUIElementDispatchQueue(); });
  return *instance;
}

void AXUIElementDispatchQueue::async(std::function<void()> job) {
  queue_->async([this, job = std::move(job)]() mutable { run(std::move(job)); });
}

void AXUIElementDispatchQueue::run(std::function<void()> job) {
  if (auto busy = busy_.lock(); busy && dispatch::now() < busy->until) {
    // Behind the release of the costly job, and behind every job deferred before this one.
    queue_->asyncAfter(busy->until, [this, job = std::move(job)]() mutable { run(std::move(job)); });
    return;
  }
  std::vector<std::function<void()>> handBacks;
  sim::CostMeter::take();
  {
    auto* previous = std::exchange(tlsHandBacks, &handBacks);
    job();
    tlsHandBacks = previous;
  }
  const double cost = sim::CostMeter::take();
  if (cost <= 0) {
    for (auto& block : handBacks) block();
    return;
  }
  auto busy = std::make_shared<Busy>(Busy{dispatch::after(cost)});
  busy_ = busy;
  queue_->asyncAfter(busy->until, [busy, handBacks = std::move(handBacks)]() mutable {
    for (auto& block : handBacks) block();
  });
}

void AXUIElementDispatchQueue::handBack(std::function<void()> block) {
  if (tlsHandBacks) {
    tlsHandBacks->push_back(std::move(block));
  } else {
    block();
  }
}

void AXUIElementDispatchQueue::pause(double seconds) { sim::CostMeter::charge(seconds); }

bool AXUIElementDispatchQueue::isRunningJob() { return tlsHandBacks != nullptr; }
