#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/un.h>

#include <vector>

#include "platform/net/Reachability.h"

namespace {

using namespace net;

SCNetworkReachabilityRef internet() {
  sockaddr_in zero{};
  zero.sin_family = AF_INET;
  return SCNetworkReachabilityCreateWithAddress(reinterpret_cast<const sockaddr*>(&zero));
}

struct Heard {
  std::vector<SCNetworkReachabilityFlags> flags;
  bool allOnMain = true;
};

SCNetworkReachabilityCallBack listener(Heard& heard) {
  return [&heard](const SCNetworkReachabilityRef&, SCNetworkReachabilityFlags flags) {
    heard.flags.push_back(flags);
    heard.allOnMain = heard.allOnMain && dispatch::isMainThread();
  };
}

class ReachabilityTest : public ::testing::Test {
 protected:
  void TearDown() override { ReachabilitySource::shared().reset(); }
  dispatch::VirtualClockScope clock_;
};

TEST_F(ReachabilityTest, ReachableByDefault) {
  auto target = internet();
  ASSERT_TRUE(target);
  SCNetworkReachabilityFlags flags = 0;
  ASSERT_TRUE(SCNetworkReachabilityGetFlags(target, &flags));
  EXPECT_EQ(flags, kSCNetworkReachabilityFlagsReachable);
  auto host = SCNetworkReachabilityCreateWithName("in.example.com");
  ASSERT_TRUE(host);
  ASSERT_TRUE(SCNetworkReachabilityGetFlags(host, &flags));
  EXPECT_EQ(flags, kSCNetworkReachabilityFlagsReachable);
}

TEST_F(ReachabilityTest, TargetsThatCannotBeMadeAreNull) {
  EXPECT_FALSE(SCNetworkReachabilityCreateWithName(""));
  EXPECT_FALSE(SCNetworkReachabilityCreateWithName("two words"));
  EXPECT_FALSE(SCNetworkReachabilityCreateWithName(std::string(300, 'a')));
  EXPECT_FALSE(SCNetworkReachabilityCreateWithAddress(nullptr));
  sockaddr_un local{};
  local.sun_family = AF_UNIX;
  EXPECT_FALSE(SCNetworkReachabilityCreateWithAddress(reinterpret_cast<const sockaddr*>(&local)));
  SCNetworkReachabilityFlags flags = 0;
  EXPECT_FALSE(SCNetworkReachabilityGetFlags(nullptr, &flags));
  EXPECT_FALSE(SCNetworkReachabilityScheduleWithRunLoop(nullptr, dispatch::Queue::main(), kCFRunLoopDefaultMode));
}

TEST_F(ReachabilityTest, InjectedChangesReachScheduledCallbacksOnMainOncePerChange) {
  auto target = internet();
  Heard heard;
  ASSERT_TRUE(SCNetworkReachabilitySetCallback(target, listener(heard)));
  ASSERT_TRUE(SCNetworkReachabilityScheduleWithRunLoop(target, dispatch::Queue::main(), kCFRunLoopDefaultMode));
  EXPECT_FALSE(SCNetworkReachabilityScheduleWithRunLoop(target, dispatch::Queue::main(), kCFRunLoopDefaultMode));
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_TRUE(heard.flags.empty()) << "scheduling alone reports nothing";

  ReachabilitySource::shared().setReachable(false);
  ReachabilitySource::shared().setReachable(false);  // no change, no callback
  dispatch::Scheduler::shared().runUntilIdle();
  ASSERT_EQ(heard.flags, std::vector<SCNetworkReachabilityFlags>{0});
  SCNetworkReachabilityFlags flags = kSCNetworkReachabilityFlagsReachable;
  ASSERT_TRUE(SCNetworkReachabilityGetFlags(target, &flags));
  EXPECT_EQ(flags, 0u);

  const SCNetworkReachabilityFlags onDemand = kSCNetworkReachabilityFlagsReachable |
                                              kSCNetworkReachabilityFlagsConnectionRequired |
                                              kSCNetworkReachabilityFlagsConnectionOnDemand;
  ReachabilitySource::shared().setFlags(onDemand);
  ReachabilitySource::shared().reset();
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_EQ(heard.flags, (std::vector<SCNetworkReachabilityFlags>{0, onDemand, kSCNetworkReachabilityFlagsReachable}));
  EXPECT_TRUE(heard.allOnMain);
}

TEST_F(ReachabilityTest, UnscheduledOrReleasedTargetsAreNotCalled) {
  auto target = internet();
  Heard heard;
  SCNetworkReachabilitySetCallback(target, listener(heard));
  ASSERT_TRUE(SCNetworkReachabilityScheduleWithRunLoop(target, dispatch::Queue::main(), kCFRunLoopDefaultMode));

  // A change queued before the unschedule is dropped with it.
  ReachabilitySource::shared().setReachable(false);
  ASSERT_TRUE(SCNetworkReachabilityUnscheduleFromRunLoop(target, dispatch::Queue::main(), kCFRunLoopDefaultMode));
  EXPECT_FALSE(SCNetworkReachabilityUnscheduleFromRunLoop(target, dispatch::Queue::main(), kCFRunLoopDefaultMode));
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_TRUE(heard.flags.empty());

  // Scheduled again, it hears the next change.
  ASSERT_TRUE(SCNetworkReachabilityScheduleWithRunLoop(target, dispatch::Queue::main(), kCFRunLoopDefaultMode));
  ReachabilitySource::shared().setReachable(true);
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_EQ(heard.flags, std::vector<SCNetworkReachabilityFlags>{kSCNetworkReachabilityFlagsReachable});

  // Released with a change in flight: nothing runs.
  ReachabilitySource::shared().setReachable(false);
  target.reset();
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_EQ(heard.flags.size(), 1u);
}

TEST_F(ReachabilityTest, ScopedFlagsRestoreTheDefault) {
  {
    ScopedReachabilityFlags offline(0);
    EXPECT_EQ(ReachabilitySource::shared().flags(), 0u);
  }
  EXPECT_EQ(ReachabilitySource::shared().flags(), ReachabilitySource::kDefaultFlags);
}

}  // namespace
