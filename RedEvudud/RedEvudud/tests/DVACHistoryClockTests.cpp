#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryClock.h"
#include "platform/dispatch/Dispatch.h"

namespace {

TEST(DVACHistoryClockTest, FollowsTheVirtualClockUnlessReplaced) {
  dispatch::VirtualClockScope virtualClock;
  const ns::Date start = DVACHistoryClock::now();
  dispatch::Scheduler::shared().advance(90);
  EXPECT_DOUBLE_EQ(DVACHistoryClock::now().timeIntervalSinceDate(start), 90);

  DVACHistoryClock::setNowProvider([] { return ns::Date(42); });
  EXPECT_EQ(DVACHistoryClock::now(), ns::Date(42));
  DVACHistoryClock::setNowProvider(nullptr);
  EXPECT_DOUBLE_EQ(DVACHistoryClock::now().timeIntervalSinceDate(start), 90);
}

}  // namespace
