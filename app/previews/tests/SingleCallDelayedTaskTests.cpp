#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/previews/SingleCallDelayedTask.h"

namespace {

class SingleCallDelayedTaskTest : public ::testing::Test {
 protected:
  dispatch::VirtualClockScope clock;
  dispatch::Scheduler& sched = dispatch::Scheduler::shared();
};

}  // namespace

TEST_F(SingleCallDelayedTaskTest, LatestSchedulingWinsAndRunsOnce) {
  std::vector<std::pair<std::string, dispatch::Time>> runs;
  const dispatch::Time start = dispatch::now();
  SingleCallDelayedTask<std::string> task(0.5, [&](const std::string& v) { runs.emplace_back(v, dispatch::now() - start); });
  task.schedule("first");
  sched.advance(0.3);
  task.schedule("second");
  sched.advance(2.0);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].first, "second");
  EXPECT_EQ(runs[0].second, 800'000'000);
}

TEST_F(SingleCallDelayedTaskTest, CancelRunsNothing) {
  int runs = 0;
  SingleCallDelayedTask<> task(1.0, [&] { ++runs; });
  task.schedule();
  task.cancel();
  sched.advance(2.0);
  EXPECT_EQ(runs, 0);
  EXPECT_FALSE(task.isPending());
}

TEST_F(SingleCallDelayedTaskTest, CancellingAnIdleTaskChangesNothing) {
  SingleCallDelayedTask<> task(1.0, [] {});
  task.cancel();
  EXPECT_FALSE(task.isPending());
  EXPECT_FALSE(task.deadline().has_value());
}

TEST_F(SingleCallDelayedTaskTest, PendingFromScheduleUntilTheRunCompletes) {
  bool pendingInsideBlock = false;
  std::optional<SingleCallDelayedTask<>> task;
  task.emplace(0.5, [&] { pendingInsideBlock = task->isPending(); });
  EXPECT_FALSE(task->isPending());
  task->schedule();
  EXPECT_TRUE(task->isPending());
  sched.advance(0.49);
  EXPECT_TRUE(task->isPending());
  sched.advance(0.01);
  EXPECT_TRUE(pendingInsideBlock) << "the deadline is cleared only after the block returns";
  EXPECT_FALSE(task->isPending());
}

TEST_F(SingleCallDelayedTaskTest, ReleasingTheTaskMakesTheQueuedClosureANoOp) {
  int runs = 0;
  {
    SingleCallDelayedTask<> task(0.5, [&] { ++runs; });
    task.schedule();
  }
  sched.advance(1.0);
  EXPECT_EQ(runs, 0);
}

TEST_F(SingleCallDelayedTaskTest, RescheduleAtTheSameInstantStillReplaces) {
  // Under a clock that stands still both schedulings share one deadline; only
  // the later one may run.
  std::vector<int> runs;
  SingleCallDelayedTask<int> task(0.5, [&](const int& v) { runs.push_back(v); });
  task.schedule(1);
  task.schedule(2);
  sched.advance(1.0);
  EXPECT_EQ(runs, (std::vector<int>{2}));
}

TEST_F(SingleCallDelayedTaskTest, BlockThatSchedulesItselfLeavesTheTaskIdle) {
  int runs = 0;
  std::optional<SingleCallDelayedTask<>> task;
  task.emplace(0.5, [&] {
    ++runs;
    task->schedule();
  });
  task->schedule();
  sched.advance(0.5);
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(task->isPending());
  sched.advance(5.0);
  EXPECT_EQ(runs, 1);
}
