#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/un.h>

#include <atomic>

#include "RedEvudud/RedEvudud/Internals/Util/DVAC_Reachability.h"
#include "RedEvudud/RedEvudud/tests/DVACHttpTestSupport.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

using dvac_http_test::drainMain;
using dvac_http_test::runMainUntil;

// Counts the notifications one instance posts.
class NotificationCounter {
 public:
  explicit NotificationCounter(const std::shared_ptr<DVAC_Reachability>& sender)
      : token_(ns::NotificationCenter::defaultCenter()->addObserver(
            std::string(kDVNetworkReachabilityChangedNotification), sender.get(),
            [count = count_](const ns::Notification& notification) {
              EXPECT_TRUE(dispatch::Queue::main()->isCurrent());
              EXPECT_TRUE(notification.objectRef);
              ++*count;
            })) {}
  int count() const { return count_->load(); }

 private:
  std::shared_ptr<std::atomic<int>> count_ = std::make_shared<std::atomic<int>>(0);
  ns::ObserverToken token_;
};

class DVAC_ReachabilityTest : public ::testing::Test {
 protected:
  void TearDown() override {
    net::ReachabilitySource::shared().reset();
    drainMain();
  }
};

TEST_F(DVAC_ReachabilityTest, StatusFromFlags) {
  using R = DVAC_Reachability;
  EXPECT_EQ(R::networkStatusForFlags(2), ReachableViaWiFi);
  EXPECT_EQ(R::networkStatusForFlags(2 | 4), NotReachable);
  EXPECT_EQ(R::networkStatusForFlags(2 | 4 | 8), ReachableViaWiFi);
  EXPECT_EQ(R::networkStatusForFlags(2 | 4 | 32), ReachableViaWiFi);
  EXPECT_EQ(R::networkStatusForFlags(2 | 4 | 8 | 16), NotReachable);
  EXPECT_EQ(R::networkStatusForFlags(2 | 8 | 16), ReachableViaWiFi);
  EXPECT_EQ(R::networkStatusForFlags(0), NotReachable);
  EXPECT_EQ(R::networkStatusForFlags(4), NotReachable);
  EXPECT_EQ(R::networkStatusForFlags(8 | 32), NotReachable);
}

TEST_F(DVAC_ReachabilityTest, ReadsTheCurrentNetworkState) {
  auto reachability = DVAC_Reachability::reachabilityForInternetConnection();
  ASSERT_TRUE(reachability);
  EXPECT_EQ(reachability->currentReachabilityStatus(), ReachableViaWiFi);
  EXPECT_FALSE(reachability->connectionRequired());
  {
    net::ScopedReachabilityFlags down(0);
    EXPECT_EQ(reachability->currentReachabilityStatus(), NotReachable);
  }
  {
    net::ScopedReachabilityFlags onDemand(2 | 4);
    EXPECT_EQ(reachability->currentReachabilityStatus(), NotReachable);
    EXPECT_TRUE(reachability->connectionRequired());
  }
  reachability->setReachabilityRef(nullptr);
  EXPECT_EQ(reachability->currentReachabilityStatus(), NotReachable);
  EXPECT_FALSE(reachability->connectionRequired());
}

TEST_F(DVAC_ReachabilityTest, RefusesWhatCannotBeATarget) {
  EXPECT_FALSE(DVAC_Reachability::reachabilityWithHostName(""));
  EXPECT_FALSE(DVAC_Reachability::reachabilityWithHostName("not a host/name"));
  EXPECT_TRUE(DVAC_Reachability::reachabilityWithHostName("in.redevudud.example"));
  sockaddr_un local{};
  local.sun_family = AF_UNIX;
  EXPECT_FALSE(DVAC_Reachability::reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&local)));
  EXPECT_FALSE(DVAC_Reachability::reachabilityWithAddress(nullptr));
  sockaddr_in6 any6{};
  any6.sin6_family = AF_INET6;
  EXPECT_TRUE(DVAC_Reachability::reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&any6)));
}

TEST_F(DVAC_ReachabilityTest, StartingPostsOnceAtOnceThenOnEveryChange) {
  auto reachability = DVAC_Reachability::reachabilityForInternetConnection();
  NotificationCounter counter(reachability);
  ASSERT_TRUE(reachability->startNotifier());
  // Queued, never posted from the caller's own turn.
  EXPECT_EQ(counter.count(), 0);
  ASSERT_TRUE(runMainUntil([&] { return counter.count() == 1; }));

  net::ReachabilitySource::shared().setReachable(false);
  ASSERT_TRUE(runMainUntil([&] { return counter.count() == 2; }));
  EXPECT_EQ(reachability->currentReachabilityStatus(), NotReachable);
  net::ReachabilitySource::shared().setReachable(true);
  ASSERT_TRUE(runMainUntil([&] { return counter.count() == 3; }));
  ASSERT_TRUE(drainMain());
  EXPECT_EQ(counter.count(), 3);
}

TEST_F(DVAC_ReachabilityTest, StoppedNotifierIsSilentUntilStartedAgain) {
  auto reachability = DVAC_Reachability::reachabilityForInternetConnection();
  NotificationCounter counter(reachability);
  reachability->startNotifier();
  ASSERT_TRUE(runMainUntil([&] { return counter.count() == 1; }));

  reachability->stopNotifier();
  net::ReachabilitySource::shared().setReachable(false);
  ASSERT_TRUE(drainMain());
  EXPECT_EQ(counter.count(), 1);

  reachability->startNotifier();
  ASSERT_TRUE(runMainUntil([&] { return counter.count() == 2; }));
  net::ReachabilitySource::shared().setReachable(true);
  ASSERT_TRUE(runMainUntil([&] { return counter.count() == 3; }));
}

TEST_F(DVAC_ReachabilityTest, AnInstanceGoneBeforeItsBlocksRunPostsNothing) {
  std::atomic<int> posted{0};
  auto token = ns::NotificationCenter::defaultCenter()->addObserver(
      std::string(kDVNetworkReachabilityChangedNotification), nullptr, [&](const ns::Notification&) { ++posted; });
  {
    auto reachability = DVAC_Reachability::reachabilityForInternetConnection();
    reachability->startNotifier();
  }
  ASSERT_TRUE(drainMain());
  EXPECT_EQ(posted.load(), 0);

  {
    auto reachability = DVAC_Reachability::reachabilityForInternetConnection();
    reachability->startNotifier();
    ASSERT_TRUE(runMainUntil([&] { return posted.load() == 1; }));
  }
  // The instance is gone; its target is unscheduled on the main thread.
  net::ReachabilitySource::shared().setReachable(false);
  ASSERT_TRUE(drainMain());
  EXPECT_EQ(posted.load(), 1);
}

}  // namespace
