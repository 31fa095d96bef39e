#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/concurrency/Task.h"

using conc::CheckedContinuation;
using conc::Task;
using dispatch::Queue;
using dispatch::Scheduler;

namespace {

class TaskTest : public ::testing::Test {
 protected:
  dispatch::VirtualClockScope clock;
  Scheduler& sched = Scheduler::shared();
};

Task<int> answer() { co_return 42; }

Task<int> addOne(Task<int> inner) { co_return (co_await std::move(inner)) + 1; }

Task<std::string> readOnSerial(std::shared_ptr<Queue> queue, std::vector<std::string>* trace) {
  trace->push_back("before");
  auto read = conc::runOn(queue, [queue, trace] {
    trace->push_back(queue->isCurrent() ? "on serial" : "elsewhere");
    return std::string("read");
  });
  auto value = co_await read;
  trace->push_back(Queue::main()->isCurrent() ? "back on main" : "not on main");
  co_return value;
}

}  // namespace

TEST_F(TaskTest, SpawnIsPostedNotRunInline) {
  bool started = false;
  auto handle = conc::spawnOnMain([&started]() -> Task<void> {
    started = true;
    co_return;
  });
  EXPECT_FALSE(started);
  sched.runUntilIdle();
  EXPECT_TRUE(started);
  EXPECT_TRUE(handle.isFinished());
}

TEST_F(TaskTest, AwaitingATaskStartsItInline) {
  int result = 0;
  conc::spawnOnMain([&result]() -> Task<void> { result = co_await addOne(answer()); });
  EXPECT_EQ(sched.runUntilIdle(), 1u) << "no hop: awaiting a task runs it inline";
  EXPECT_EQ(result, 43);
}

TEST_F(TaskTest, HopToSerialQueueAndBackToMain) {
  auto serial = Queue::makeSerial("test.ax");
  std::vector<std::string> trace;
  std::string result;
  conc::spawnOnMain([serial, &trace, &result]() -> Task<void> { result = co_await readOnSerial(serial, &trace); });
  sched.runUntilIdle();
  EXPECT_EQ(result, "read");
  EXPECT_EQ(trace, (std::vector<std::string>{"before", "on serial", "back on main"}));
}

TEST_F(TaskTest, ResumeFromAnotherThreadContinuesOnMain) {
  std::thread worker;
  int result = 0;
  bool resumedOnMain = false;
  conc::spawnOnMain([&]() -> Task<void> {
    auto wait = conc::withCheckedContinuation<int>([&worker](CheckedContinuation<int> c) {
      worker = std::thread([c] { c.resume(7); });
    });
    result = co_await wait;
    resumedOnMain = Queue::main()->isCurrent() && dispatch::isMainThread();
  });
  ASSERT_TRUE(sched.runMainUntil([&] { return result == 7; }, 10.0));
  worker.join();
  EXPECT_TRUE(resumedOnMain);
}

TEST_F(TaskTest, ResumptionWaitsForTheMainQueue) {
  std::vector<std::string> trace;
  std::optional<CheckedContinuation<void>> saved;
  conc::spawnOnMain([&]() -> Task<void> {
    auto wait = conc::withCheckedContinuation<void>([&](CheckedContinuation<void> c) { saved = c; });
    co_await wait;
    trace.push_back("resumed");
  });
  sched.runUntilIdle();
  ASSERT_TRUE(saved);
  Queue::main()->async([&] { trace.push_back("earlier post"); });
  saved->resume();
  EXPECT_TRUE(trace.empty()) << "resume never runs the coroutine inline";
  sched.runUntilIdle();
  EXPECT_EQ(trace, (std::vector<std::string>{"earlier post", "resumed"}));
}

#ifdef NDEBUG
TEST_F(TaskTest, SecondResumeIsIgnoredInReleaseBuilds) {
  int resumes = 0;
  std::optional<CheckedContinuation<int>> saved;
  conc::spawnOnMain([&]() -> Task<void> {
    auto wait = conc::withCheckedContinuation<int>([&](CheckedContinuation<int> c) { saved = c; });
    resumes += co_await wait;
  });
  sched.runUntilIdle();
  saved->resume(1);
  saved->resume(1);
  sched.runUntilIdle();
  EXPECT_EQ(resumes, 1);
}
#else
TEST_F(TaskTest, SecondResumeAssertsInDebugBuilds) {
  EXPECT_DEATH(
      {
        auto state = std::make_shared<conc::detail::ContinuationState<int>>();
        CheckedContinuation<int> c(state);
        state->resumed = true;
        c.resume(1);
      },
      "resumed twice");
}
#endif

TEST_F(TaskTest, ExceptionsReachTheAwaiter) {
  std::string caught;
  auto failing = []() -> Task<int> {
    throw std::runtime_error("no answer");
    co_return 0;
  };
  conc::spawnOnMain([&caught, failing]() -> Task<void> {
    try {
      co_await failing();
    } catch (const std::exception& e) {
      caught = e.what();
    }
  });
  sched.runUntilIdle();
  EXPECT_EQ(caught, "no answer");
}

TEST_F(TaskTest, ErrorsThrownOnTheQueueComeBackThroughTheContinuation) {
  auto serial = Queue::makeSerial("test.throw");
  std::string caught;
  conc::spawnOnMain([&caught, serial]() -> Task<void> {
    try {
      auto read = conc::runOn(serial, []() -> int { throw std::runtime_error("read failed"); });
      co_await read;
    } catch (const std::exception& e) {
      caught = e.what();
    }
  });
  sched.runUntilIdle();
  EXPECT_EQ(caught, "read failed");
}

TEST_F(TaskTest, CancellationIsSeenAfterASuspension) {
  std::vector<bool> seen;
  auto handle = conc::spawnOnMain([&seen]() -> Task<void> {
    seen.push_back(conc::isCancelled());
    co_await conc::sleepFor(1.0);
    seen.push_back(conc::isCancelled());
  });
  sched.runUntilIdle();
  handle.cancel();
  sched.advance(1.0);
  EXPECT_EQ(seen, (std::vector<bool>{false, true}));
  EXPECT_FALSE(conc::isCancelled()) << "outside a task nothing is cancelled";
}

TEST_F(TaskTest, SleepResumesAfterTheDelay) {
  bool woke = false;
  conc::spawnOnMain([&woke]() -> Task<void> {
    co_await conc::sleepFor(0.5);
    woke = true;
  });
  sched.advance(0.49);
  EXPECT_FALSE(woke);
  sched.advance(0.01);
  EXPECT_TRUE(woke);
}

TEST_F(TaskTest, SpawnedCallableOutlivesItsCaller) {
  // The lambda's captures must survive the suspension even though the
  // expression that made it is long gone.
  std::string out;
  {
    std::string text = "kept alive";
    conc::spawnOnMain([text, &out]() -> Task<void> {
      co_await conc::sleepFor(0.1);
      out = text;
    });
  }
  sched.advance(0.2);
  EXPECT_EQ(out, "kept alive");
}

TEST(TaskRealClock, HopToWorkerThreadAndBack) {
  auto serial = Queue::makeSerial("test.real.task");
  std::thread::id workerThread;
  bool done = false;
  conc::spawnOnMain([&]() -> Task<void> {
    auto hop = conc::runOn(serial, [&] { workerThread = std::this_thread::get_id(); });
    co_await hop;
    done = dispatch::isMainThread();
  });
  ASSERT_TRUE(Scheduler::shared().runMainUntil([&] { return done; }, 10.0));
  EXPECT_NE(workerThread, std::this_thread::get_id());
}
