#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"

using namespace dispatch;

namespace {

class VirtualDispatch : public ::testing::Test {
 protected:
  VirtualClockScope clock;
};

}  // namespace

TEST_F(VirtualDispatch, MainQueueRunsInPostingOrder) {
  std::vector<int> order;
  auto main = Queue::main();
  for (int i = 0; i < 5; ++i) main->async([&order, i] { order.push_back(i); });
  EXPECT_TRUE(order.empty()) << "nothing runs until the scheduler drains";
  EXPECT_EQ(Scheduler::shared().runUntilIdle(), 5u);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST_F(VirtualDispatch, TimersFireByDeadlineThenInsertion) {
  std::vector<std::string> order;
  auto main = Queue::main();
  main->asyncAfterDelay(0.5, [&] { order.push_back("b@0.5"); });
  main->asyncAfterDelay(0.2, [&] { order.push_back("a@0.2"); });
  main->asyncAfterDelay(0.5, [&] { order.push_back("c@0.5"); });
  auto& s = Scheduler::shared();
  s.advance(0.19);
  EXPECT_TRUE(order.empty());
  s.advance(0.01);
  EXPECT_EQ(order, (std::vector<std::string>{"a@0.2"}));
  s.advance(1.0);
  EXPECT_EQ(order, (std::vector<std::string>{"a@0.2", "b@0.5", "c@0.5"}));
}

TEST_F(VirtualDispatch, DueTimerRunsBeforeLaterPlainPost) {
  std::vector<int> order;
  auto main = Queue::main();
  main->asyncAfterDelay(0.1, [&] { order.push_back(1); });
  auto& s = Scheduler::shared();
  // Move time past the timer without draining, then post.
  s.advance(0.05);
  main->asyncAfterDelay(0.0, [&] { order.push_back(0); });
  s.advance(0.2);
  main->async([&] { order.push_back(2); });
  s.runUntilIdle();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST_F(VirtualDispatch, AdvanceMovesTimeToEachDeadline) {
  std::vector<Time> seen;
  const Time start = now();
  auto main = Queue::main();
  main->asyncAfterDelay(1.0, [&] { seen.push_back(now() - start); });
  main->asyncAfterDelay(2.0, [&] { seen.push_back(now() - start); });
  Scheduler::shared().advance(5.0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], kNanosPerSecond);
  EXPECT_EQ(seen[1], 2 * kNanosPerSecond);
  EXPECT_EQ(now() - start, 5 * kNanosPerSecond);
}

TEST_F(VirtualDispatch, WorkPostedWhileDrainingAlsoRuns) {
  auto serial = Queue::makeSerial("test.serial");
  auto main = Queue::main();
  std::vector<std::string> trace;
  main->async([&] {
    trace.push_back("main1");
    serial->async([&] {
      EXPECT_TRUE(serial->isCurrent());
      trace.push_back("serial");
      main->async([&] { trace.push_back("main2"); });
    });
  });
  Scheduler::shared().runUntilIdle();
  EXPECT_EQ(trace, (std::vector<std::string>{"main1", "serial", "main2"}));
}

TEST_F(VirtualDispatch, WallClockMovesWithVirtualTime) {
  const double before = wallNow();
  Scheduler::shared().advance(20.0);
  EXPECT_NEAR(wallNow() - before, 20.0, 1e-6);
}

TEST_F(VirtualDispatch, RepeatingTimerSourceFiresEachIntervalUntilCancelled) {
  auto source = TimerSource::make(Queue::main());
  int fires = 0;
  source->setEventHandler([&] { ++fires; });
  source->setTimer(after(1.0), kNanosPerSecond);
  source->resume();
  Scheduler::shared().advance(3.5);
  EXPECT_EQ(fires, 3);
  source->cancel();
  Scheduler::shared().advance(3.0);
  EXPECT_EQ(fires, 3);
}

TEST_F(VirtualDispatch, ResettingTimerSourceDropsTheOldSchedule) {
  auto source = TimerSource::make(Queue::main());
  std::vector<Time> fired;
  const Time start = now();
  source->setEventHandler([&] { fired.push_back(now() - start); });
  source->setTimer(after(1.0), 0);
  source->resume();
  source->setTimer(after(2.0), 0);
  Scheduler::shared().advance(5.0);
  EXPECT_EQ(fired, (std::vector<Time>{2 * kNanosPerSecond}));
}

TEST_F(VirtualDispatch, ReleasedTimerSourceStopsFiring) {
  int fires = 0;
  {
    auto source = TimerSource::make(Queue::main());
    source->setEventHandler([&] { ++fires; });
    source->setTimer(after(1.0), kNanosPerSecond);
    source->resume();
  }
  Scheduler::shared().advance(3.0);
  EXPECT_EQ(fires, 0);
}

TEST_F(VirtualDispatch, GroupNotifiesOnceAllWorkLeft) {
  Group group;
  int done = 0;
  bool notified = false;
  auto serial = Queue::makeSerial("test.group");
  group.async(serial, [&] { ++done; });
  group.async(serial, [&] { ++done; });
  group.notify(Queue::main(), [&] {
    EXPECT_EQ(done, 2);
    notified = true;
  });
  EXPECT_FALSE(notified);
  Scheduler::shared().runUntilIdle();
  EXPECT_TRUE(notified);
}

TEST_F(VirtualDispatch, SyncRunsInlineOnTheTargetQueue) {
  auto serial = Queue::makeSerial("test.sync");
  bool ran = false;
  serial->sync([&] {
    EXPECT_TRUE(serial->isCurrent());
    ran = true;
  });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(serial->isCurrent());
}

TEST_F(VirtualDispatch, SwitchingModesDropsPendingWork) {
  bool ran = false;
  Queue::main()->asyncAfterDelay(1.0, [&] { ran = true; });
  Scheduler::shared().useVirtualClock();
  Scheduler::shared().advance(2.0);
  EXPECT_FALSE(ran);
}

TEST_F(VirtualDispatch, PendingWorkKeepsItsQueueAlive) {
  bool ran = false;
  std::weak_ptr<Queue> weak;
  {
    auto serial = Queue::makeSerial("test.released");
    weak = serial;
    serial->asyncAfterDelay(1.0, [&ran] { ran = true; });
  }
  EXPECT_FALSE(weak.expired());
  Scheduler::shared().advance(1.0);
  EXPECT_TRUE(ran);
  EXPECT_TRUE(weak.expired()) << "the queue goes once its work is done";
}

TEST_F(VirtualDispatch, PostFromAnotherThreadIsSeenByRunMainUntil) {
  std::atomic<bool> done{false};
  std::thread other([&] { Queue::main()->async([&] { done = true; }); });
  EXPECT_TRUE(Scheduler::shared().runMainUntil([&] { return done.load(); }, 10.0));
  other.join();
}

// ---------------------------------------------------------------- real mode

TEST(RealDispatch, SerialQueueRunsInOrderOnOneWorkerThread) {
  auto serial = Queue::makeSerial("test.real.serial");
  std::vector<int> order;
  std::set<std::thread::id> threads;
  std::mutex m;
  for (int i = 0; i < 100; ++i) {
    serial->async([&, i] {
      std::lock_guard lock(m);
      order.push_back(i);
      threads.insert(std::this_thread::get_id());
    });
  }
  serial->sync([] {});
  std::lock_guard lock(m);
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(threads.size(), 1u);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST(RealDispatch, ReleasedQueueStillRunsItsWork) {
  std::atomic<int> ran{0};
  Semaphore done(0);
  {
    auto serial = Queue::makeSerial("test.real.released");
    for (int i = 0; i < 10; ++i) serial->async([&] {
      if (++ran == 10) done.signal();
    });
  }
  EXPECT_TRUE(done.wait(10.0));
  EXPECT_EQ(ran.load(), 10);
}

TEST(RealDispatch, WorkerResultsComeBackToMain) {
  auto serial = Queue::makeSerial("test.real.hop");
  auto main = Queue::main();
  std::atomic<int> result{0};
  bool onMain = false;
  serial->async([&] {
    const int value = 42;
    main->async([&, value] {
      onMain = main->isCurrent() && isMainThread();
      result = value;
    });
  });
  ASSERT_TRUE(Scheduler::shared().runMainUntil([&] { return result.load() == 42; }, 10.0));
  EXPECT_TRUE(onMain);
}

TEST(RealDispatch, GlobalQueueRunsConcurrently) {
  auto global = Queue::global();
  Group group;
  std::atomic<int> inside{0};
  std::atomic<int> maxInside{0};
  Semaphore gate(0);
  for (int i = 0; i < 2; ++i) {
    group.async(global, [&] {
      int n = ++inside;
      int seen = maxInside.load();
      while (n > seen && !maxInside.compare_exchange_weak(seen, n)) {
      }
      // Both items must be inside at once for either to pass the gate.
      if (n == 2) {
        gate.signal();
        gate.signal();
      }
      gate.wait(10.0);
      --inside;
    });
  }
  EXPECT_TRUE(group.wait(20.0));
  EXPECT_EQ(maxInside.load(), 2);
}

TEST(RealDispatch, SemaphoreTimesOut) {
  Semaphore s(0);
  EXPECT_FALSE(s.wait(0.01));
  s.signal();
  EXPECT_TRUE(s.wait(0.01));
}
