#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionContext.h"
#include "RedEvudud/RedEvudud/tests/DVACModelTestSupport.h"

namespace {

using dvac_model_test::FakeClock;
using dvac_model_test::IsolatedSettings;
using dvac_model_test::LogLines;

class DVACSessionContextTest : public ::testing::Test {
 protected:
  void SetUp() override { DVACSessionContext::resetSharedInstance(); }
  void TearDown() override { DVACSessionContext::resetSharedInstance(); }

  // A new launch: the context loads what the previous one stored.
  std::shared_ptr<DVACSessionContext> relaunch() {
    DVACSessionContext::resetSharedInstance();
    return DVACSessionContext::sharedInstance();
  }

  IsolatedSettings settings_;
  FakeClock clock_;
  LogLines log_;
};

TEST_F(DVACSessionContextTest, FirstLoadStartsWithThisLaunchAndWritesNothing) {
  auto context = DVACSessionContext::sharedInstance();
  EXPECT_EQ(context, DVACSessionContext::sharedInstance());
  EXPECT_EQ(context->sessionId(), std::nullopt);
  ASSERT_EQ(context->sessionHistory().size(), 1u);
  EXPECT_EQ(context->sessionHistory()[0].timestamp, clock_.now());
  EXPECT_FALSE(settings_.stored(kDVACSessionIdHistoryKey));
  EXPECT_EQ(log_.at(DVACLogLevelDebug), std::vector<std::string>{"0 session(s) in the history."});
}

TEST_F(DVACSessionContextTest, SettingTheIdUpdatesThisLaunchsRecordAndPersists) {
  auto context = DVACSessionContext::sharedInstance();
  const ns::Date t1 = clock_.now().addingTimeInterval(10);
  clock_.advance(10);
  context->setSessionId("A");
  EXPECT_EQ(context->sessionId(), "A");
  ASSERT_EQ(context->sessionHistory().size(), 1u);
  EXPECT_EQ(context->sessionHistory()[0].timestamp, t1);
  EXPECT_TRUE(log_.count("Stored new session with id:A and timestamp: 2023-11-14 22:13:30 +0000."));

  clock_.advance(10);
  context->setSessionId("B");
  const auto history = context->sessionHistory();
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].sessionId, "B");

  auto stored = settings_.storedArray(kDVACSessionIdHistoryKey);
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->size(), 1u);
  auto info = (*stored)[0].objectAs<DVACSessionHistoryInfo>();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->sessionId, "B");
  EXPECT_EQ(info->timestamp, clock_.now());
}

TEST_F(DVACSessionContextTest, LaunchesAccumulateAndAnswerWhichSessionWasCurrent) {
  DVACSessionContext::sharedInstance()->setSessionId("A");
  const ns::Date t1 = clock_.now();
  clock_.advance(100);
  auto second = relaunch();
  EXPECT_EQ(log_.count("1 session(s) in the history."), 1u);
  second->setSessionId("B");
  const ns::Date t2 = clock_.now();
  clock_.advance(100);

  auto third = relaunch();
  ASSERT_EQ(third->sessionHistory().size(), 3u);
  EXPECT_EQ(third->sessionId(), std::nullopt);
  EXPECT_EQ(third->sessionIdAt(t1.addingTimeInterval(50)), "A");
  EXPECT_EQ(third->sessionIdAt(t2), "A");  // a record stamped at the date does not match
  EXPECT_EQ(third->sessionIdAt(t2.addingTimeInterval(0.001)), "B");
  EXPECT_EQ(third->sessionIdAt(t1), std::nullopt);
  EXPECT_EQ(third->sessionIdAt(t1.addingTimeInterval(-1)), std::nullopt);
  // This launch's record has no id yet; it is current from its load time on.
  EXPECT_EQ(third->sessionIdAt(clock_.now().addingTimeInterval(1)), std::nullopt);
  third->setSessionId("C");
  clock_.advance(1);
  EXPECT_EQ(third->sessionIdAt(clock_.now()), "C");
  EXPECT_EQ(relaunch()->sessionHistory().size(), 4u);
}

TEST_F(DVACSessionContextTest, ClearingKeepsTheCurrentRecordOnlyWhenAsked) {
  DVACSessionContext::sharedInstance()->setSessionId("old");
  clock_.advance(5);
  auto context = relaunch();
  context->setSessionId("current");
  ASSERT_EQ(context->sessionHistory().size(), 2u);

  context->clearSessionHistoryAndKeepCurrentSession(true);
  ASSERT_EQ(context->sessionHistory().size(), 1u);
  EXPECT_EQ(context->sessionHistory()[0].sessionId, "current");
  EXPECT_EQ(settings_.storedArray(kDVACSessionIdHistoryKey)->size(), 1u);
  EXPECT_EQ(log_.count("Cleared old sessions."), 1u);

  context->clearSessionHistoryAndKeepCurrentSession(false);
  EXPECT_TRUE(context->sessionHistory().empty());
  EXPECT_TRUE(settings_.storedArray(kDVACSessionIdHistoryKey)->empty());
  EXPECT_EQ(context->sessionIdAt(clock_.now().addingTimeInterval(1)), std::nullopt);

  // The next change leaves exactly one record.
  context->setSessionId("next");
  ASSERT_EQ(context->sessionHistory().size(), 1u);
  EXPECT_EQ(context->sessionHistory()[0].sessionId, "next");
}

TEST_F(DVACSessionContextTest, UnreadableHistoryStartsEmpty) {
  DVACRedEvududUserDefaults::shared()->setObject(ns::Value(ns::Data{1, 2, 3}), kDVACSessionIdHistoryKey);
  auto context = DVACSessionContext::sharedInstance();
  EXPECT_EQ(context->sessionHistory().size(), 1u);
  EXPECT_EQ(log_.count("Unarchiving NSData failed with error: "), 1u);
}

}  // namespace
