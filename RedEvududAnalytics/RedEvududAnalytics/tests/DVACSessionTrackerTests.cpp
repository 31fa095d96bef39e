// The session tracker on the virtual clock: when sessions begin, which logs
// get the session id, and the manual mode.

#include <gtest/gtest.h>

#include <thread>

#include "RedEvudud/RedEvudud/Internals/Model/DVACStartServiceLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Internals/Session/DVACSessionTracker.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACStartSessionLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/tests/DVACAnalyticsTestSupport.h"
#include "platform/appkit/NSApplicationActivation.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/sim/World.h"

using namespace dvac_analytics_test;

namespace {

class StartSessionRecorder : public DVACSessionTrackerDelegate {
 public:
  void sessionTrackerProcessLog(DVACSessionTracker&, const std::shared_ptr<DVACLog>& log) override {
    logs.push_back(log);
  }
  std::vector<std::shared_ptr<DVACLog>> logs;
};

class DVACSessionTrackerTests : public ::testing::Test {
 protected:
  DVACSessionTrackerTests() {
    DVACSessionContext::resetSharedInstance();
    DVACRedEvududUserDefaults::resetSharedInstance();
    tracker_ = DVACSessionTracker::make();
    tracker_->setDelegate(recorder_);
  }
  ~DVACSessionTrackerTests() override {
    tracker_.reset();
    sim::World::shared().setApplicationHidden(sim::World::shared().selfPid(), false);
    DVACSessionContext::resetSharedInstance();
    DVACRedEvududUserDefaults::resetSharedInstance();
  }

  static void post(const char* name) { ns::NotificationCenter::defaultCenter()->post(name); }
  static void advance(double seconds) { dispatch::Scheduler::shared().advance(seconds); }
  std::optional<std::string> currentSessionId() const { return tracker_->context()->sessionId(); }

  // An event prepared by a channel now.
  std::shared_ptr<DVACEventLog> prepareEvent() {
    auto log = std::make_shared<DVACEventLog>();
    tracker_->channelPrepareLog(nullptr, log);
    return log;
  }

  dispatch::VirtualClockScope clock_;
  ns::test::ScopedStandardDefaults defaults_;
  LogRecorder log_;
  std::shared_ptr<StartSessionRecorder> recorder_ = std::make_shared<StartSessionRecorder>();
  std::shared_ptr<DVACSessionTracker> tracker_;
};

TEST_F(DVACSessionTrackerTests, InitDropsThePastSessionsOfAnOlderLayout) {
  DVACRedEvududUserDefaults::shared()->setObject(ns::Value("old"), kDVACPastSessionsKey);
  DVACSessionTracker::make();
  EXPECT_FALSE(DVACRedEvududUserDefaults::shared()->objectForKey(kDVACPastSessionsKey));
  EXPECT_FALSE(tracker_->isStarted());
  EXPECT_EQ(tracker_->sessionTimeout(), 20.0);
}

TEST_F(DVACSessionTrackerTests, FirstStartWhileActiveOpensASessionAtOnce) {
  tracker_->start();
  ASSERT_EQ(recorder_->logs.size(), 1u);
  auto start = std::dynamic_pointer_cast<DVACStartSessionLog>(recorder_->logs[0]);
  ASSERT_TRUE(start);
  ASSERT_TRUE(start->sid());
  EXPECT_EQ(start->sid(), currentSessionId());
  EXPECT_EQ(ns::UUID::fromString(*start->sid())->UUIDString(), *start->sid());
  EXPECT_TRUE(log_.contains("New session ID: " + *start->sid(), DVACLogLevelInfo));
  // A second start does nothing.
  tracker_->start();
  EXPECT_EQ(recorder_->logs.size(), 1u);
}

TEST_F(DVACSessionTrackerTests, StartOffTheMainThreadOrWhileHiddenOpensNoSession) {
  std::thread([&] { tracker_->start(); }).join();
  EXPECT_TRUE(tracker_->isStarted());
  EXPECT_TRUE(recorder_->logs.empty());
  tracker_->stop();

  sim::World::shared().setApplicationHidden(sim::World::shared().selfPid(), true);
  tracker_->start();
  EXPECT_TRUE(recorder_->logs.empty());
  EXPECT_FALSE(currentSessionId());
  // Coming to the front opens the first session.
  post(appkit::NSApplicationWillBecomeActiveNotification);
  EXPECT_EQ(recorder_->logs.size(), 1u);
}

TEST_F(DVACSessionTrackerTests, TwentyFiveIdleSecondsInTheBackgroundStartANewSession) {
  tracker_->start();
  const auto first = currentSessionId();
  prepareEvent();
  post(appkit::NSApplicationDidResignActiveNotification);
  advance(25);
  post(appkit::NSApplicationWillBecomeActiveNotification);
  ASSERT_EQ(recorder_->logs.size(), 2u);
  EXPECT_NE(currentSessionId(), first);
  EXPECT_EQ(recorder_->logs[1]->sid(), currentSessionId());
  EXPECT_EQ(prepareEvent()->sid(), currentSessionId());
}

TEST_F(DVACSessionTrackerTests, ALogShortlyBeforeActivationKeepsTheSession) {
  tracker_->start();
  const auto first = currentSessionId();
  post(appkit::NSApplicationDidResignActiveNotification);
  advance(20);
  prepareEvent();
  advance(5);
  post(appkit::NSApplicationWillBecomeActiveNotification);
  EXPECT_EQ(recorder_->logs.size(), 1u);
  EXPECT_EQ(currentSessionId(), first);
}

TEST_F(DVACSessionTrackerTests, AShortTripToTheBackgroundKeepsTheSessionHoweverIdle) {
  tracker_->start();
  advance(100);
  post(appkit::NSApplicationDidResignActiveNotification);
  advance(19);
  post(appkit::NSApplicationWillBecomeActiveNotification);
  EXPECT_EQ(recorder_->logs.size(), 1u);
  // Back in the foreground only the trip's length counts, not the idle time
  // after it, also after a trip of no time at all.
  advance(30);
  tracker_->renewSessionId();
  post(appkit::NSApplicationDidResignActiveNotification);
  post(appkit::NSApplicationWillBecomeActiveNotification);
  advance(30);
  tracker_->renewSessionId();
  EXPECT_EQ(recorder_->logs.size(), 1u);
}

TEST_F(DVACSessionTrackerTests, ExactlyTwentySecondsCountAsTimedOut) {
  tracker_->start();
  prepareEvent();
  post(appkit::NSApplicationDidResignActiveNotification);
  advance(20.0);
  post(appkit::NSApplicationWillBecomeActiveNotification);
  EXPECT_EQ(recorder_->logs.size(), 2u);

  // Also still in the background, timed directly.
  const ns::Date now(dispatch::wallNow());
  tracker_->setLastCreatedLogTime(now.addingTimeInterval(-20.0));
  tracker_->setLastEnteredForegroundTime(now.addingTimeInterval(-30.0));
  tracker_->setLastEnteredBackgroundTime(now.addingTimeInterval(-20.0));
  EXPECT_TRUE(tracker_->hasSessionTimedOut());
  tracker_->setLastEnteredBackgroundTime(now.addingTimeInterval(-19.5));
  EXPECT_FALSE(tracker_->hasSessionTimedOut());
  // Never in the background: no time-out, however idle.
  tracker_->setLastEnteredBackgroundTime(std::nullopt);
  tracker_->setLastCreatedLogTime(std::nullopt);
  EXPECT_FALSE(tracker_->hasSessionTimedOut());
}

TEST_F(DVACSessionTrackerTests, StartLogsAreNeitherStampedNorCountedAsActivity) {
  tracker_->start();
  auto startService = std::make_shared<DVACStartServiceLog>();
  auto startSession = std::make_shared<DVACStartSessionLog>();
  startSession->setSid("OWN");
  tracker_->channelPrepareLog(nullptr, startService);
  tracker_->channelPrepareLog(nullptr, startSession);
  EXPECT_FALSE(startService->sid());
  EXPECT_EQ(startSession->sid(), "OWN");
  EXPECT_FALSE(tracker_->lastCreatedLogTime());

  auto event = prepareEvent();
  EXPECT_EQ(event->sid(), currentSessionId());
  EXPECT_EQ(tracker_->lastCreatedLogTime()->timeIntervalSince1970(), dispatch::wallNow());
}

TEST_F(DVACSessionTrackerTests, StopClearsTheSessionAndStopsFollowingTheApplication) {
  tracker_->start();
  tracker_->stop();
  EXPECT_FALSE(tracker_->isStarted());
  EXPECT_FALSE(currentSessionId());
  post(appkit::NSApplicationDidResignActiveNotification);
  advance(30);
  post(appkit::NSApplicationWillBecomeActiveNotification);
  EXPECT_EQ(recorder_->logs.size(), 1u);
  EXPECT_FALSE(tracker_->lastEnteredBackgroundTime());
  // Stamping never opens a session by itself.
  EXPECT_FALSE(prepareEvent()->sid());
}

TEST_F(DVACSessionTrackerTests, ManualModeStartsSessionsOnlyOnRequest) {
  tracker_->startSession();
  EXPECT_TRUE(log_.contains("Can't start new session because manual session tracker is disabled."));
  tracker_->enableManualSessionTracker();
  EXPECT_TRUE(log_.contains("Manual session tracker is enabled.", DVACLogLevelInfo));
  tracker_->start();
  EXPECT_FALSE(tracker_->isStarted());
  EXPECT_TRUE(recorder_->logs.empty());
  EXPECT_FALSE(prepareEvent()->sid());

  tracker_->startSession();
  ASSERT_EQ(recorder_->logs.size(), 1u);
  EXPECT_TRUE(log_.contains("Started a new session: " + *currentSessionId()));
  EXPECT_EQ(prepareEvent()->sid(), currentSessionId());

  tracker_->applicationDidEnterBackground();
  tracker_->applicationWillEnterForeground();
  EXPECT_TRUE(log_.contains("Manual session tracker is enabled. Skip tracking a session status request after enter "
                            "background."));
  EXPECT_TRUE(log_.contains("Manual session tracker is enabled. Skip tracking a session status request after enter "
                            "foreground."));
  EXPECT_FALSE(tracker_->lastEnteredBackgroundTime());
  // Stop does nothing in manual mode either.
  tracker_->stop();
  EXPECT_TRUE(currentSessionId());
}

TEST_F(DVACSessionTrackerTests, ManualModeCannotBeChosenAfterStart) {
  tracker_->start();
  tracker_->enableManualSessionTracker();
  EXPECT_TRUE(log_.contains("Manual session tracker should be set before the DVACAnalytics service is started."));
  EXPECT_FALSE(tracker_->isManualSessionTrackerEnabled());
}

}  // namespace
