#include <gtest/gtest.h>

#include <string>

#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdContext.h"
#include "RedEvudud/RedEvudud/tests/DVACModelTestSupport.h"

namespace {

using dvac_model_test::FakeClock;
using dvac_model_test::IsolatedSettings;
using dvac_model_test::LogLines;

class RecordingUserIdDelegate : public DVACUserIdContextDelegate {
 public:
  void userIdContextDidUpdateUserId(DVACUserIdContext& context, const std::optional<std::string>& userId) override {
    // Called outside the lock: reading the context back must not deadlock.
    seen.push_back({userId, context.userId()});
  }
  std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> seen;
};

class DVACUserIdContextTest : public ::testing::Test {
 protected:
  void SetUp() override { DVACUserIdContext::resetSharedInstance(); }
  void TearDown() override { DVACUserIdContext::resetSharedInstance(); }

  std::shared_ptr<DVACUserIdContext> relaunch() {
    DVACUserIdContext::resetSharedInstance();
    return DVACUserIdContext::sharedInstance();
  }

  IsolatedSettings settings_;
  FakeClock clock_;
  LogLines log_;
};

TEST_F(DVACUserIdContextTest, FirstLoadPersistsThisLaunchsRecord) {
  auto context = DVACUserIdContext::sharedInstance();
  EXPECT_EQ(context->userId(), std::nullopt);
  auto stored = settings_.storedArray(kDVACUserIdHistoryKey);
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->size(), 1u);
  auto info = (*stored)[0].objectAs<DVACUserIdHistoryInfo>();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->timestamp, clock_.now());
  EXPECT_EQ(info->userId, std::nullopt);
  EXPECT_EQ(log_.count("0 userId(s) in the history."), 1u);
}

TEST_F(DVACUserIdContextTest, SettingTheSameIdTwiceWritesOnceAndTellsDelegatesOnce) {
  auto context = DVACUserIdContext::sharedInstance();
  auto delegate = std::make_shared<RecordingUserIdDelegate>();
  context->addDelegate(delegate);
  context->addDelegate(delegate);
  clock_.advance(3);
  context->setUserId("alice");
  const auto stamped = context->currentUserIdInfo().timestamp;
  clock_.advance(3);
  context->setUserId("alice");
  EXPECT_EQ(context->currentUserIdInfo().timestamp, stamped);
  EXPECT_EQ(log_.count("Stored new userId:alice and timestamp: "), 1u);
  ASSERT_EQ(delegate->seen.size(), 1u);
  EXPECT_EQ(delegate->seen[0].first, "alice");
  EXPECT_EQ(delegate->seen[0].second, "alice");

  context->setUserId(std::nullopt);
  context->setUserId(std::nullopt);
  EXPECT_EQ(delegate->seen.size(), 2u);
  context->removeDelegate(delegate);
  context->setUserId("bob");
  EXPECT_EQ(delegate->seen.size(), 2u);

  // A delegate that went away is skipped.
  auto gone = std::make_shared<RecordingUserIdDelegate>();
  context->addDelegate(gone);
  gone.reset();
  context->setUserId("carol");
  EXPECT_EQ(context->userId(), "carol");
}

TEST_F(DVACUserIdContextTest, HistoryAnswersWhichUserWasCurrentAcrossLaunches) {
  DVACUserIdContext::sharedInstance()->setUserId("A");
  const ns::Date t1 = clock_.now();
  clock_.advance(60);
  relaunch()->setUserId("B");
  const ns::Date t2 = clock_.now();
  clock_.advance(60);

  auto context = relaunch();
  EXPECT_EQ(log_.count("2 userId(s) in the history."), 1u);
  ASSERT_EQ(context->userIdHistory().size(), 3u);
  EXPECT_EQ(context->userIdAt(t1.addingTimeInterval(30)), "A");
  EXPECT_EQ(context->userIdAt(t2), "A");
  EXPECT_EQ(context->userIdAt(t2.addingTimeInterval(1)), "B");
  EXPECT_EQ(context->userIdAt(t1), std::nullopt);

  context->clearUserIdHistory();
  ASSERT_EQ(context->userIdHistory().size(), 1u);
  EXPECT_EQ(settings_.storedArray(kDVACUserIdHistoryKey)->size(), 1u);
  EXPECT_EQ(log_.count("Cleared old userIds while keeping current userId."), 1u);
  EXPECT_EQ(context->userIdAt(t2.addingTimeInterval(1)), std::nullopt);
}

TEST_F(DVACUserIdContextTest, RedEvududAcceptsUpTo256Utf16Units) {
  EXPECT_TRUE(DVACUserIdContext::isUserIdValidForRedEvudud(std::nullopt));
  EXPECT_TRUE(DVACUserIdContext::isUserIdValidForRedEvudud(std::string(256, 'a')));
  EXPECT_TRUE(log_.lines().empty());
  EXPECT_FALSE(DVACUserIdContext::isUserIdValidForRedEvudud(std::string(257, 'a')));
  EXPECT_EQ(log_.at(DVACLogLevelError), std::vector<std::string>{"userId is limited to 256 characters."});
  // 128 characters outside the basic plane are 256 UTF-16 units.
  std::string wide;
  for (int i = 0; i < 128; ++i) wide += "\xF0\x9F\x98\x80";
  EXPECT_TRUE(DVACUserIdContext::isUserIdValidForRedEvudud(wide));
  EXPECT_FALSE(DVACUserIdContext::isUserIdValidForRedEvudud(wide + "a"));
}

TEST_F(DVACUserIdContextTest, RuvErirovevuChecksThePrefix) {
  EXPECT_TRUE(DVACUserIdContext::isUserIdValidForRuvErirovevu(std::nullopt));
  EXPECT_TRUE(DVACUserIdContext::isUserIdValidForRuvErirovevu("alice"));
  EXPECT_TRUE(DVACUserIdContext::isUserIdValidForRuvErirovevu("c:alice"));
  EXPECT_TRUE(log_.lines().empty());

  EXPECT_FALSE(DVACUserIdContext::isUserIdValidForRuvErirovevu(""));
  EXPECT_FALSE(DVACUserIdContext::isUserIdValidForRuvErirovevu("c:"));
  EXPECT_FALSE(DVACUserIdContext::isUserIdValidForRuvErirovevu("x:alice"));
  EXPECT_FALSE(DVACUserIdContext::isUserIdValidForRuvErirovevu(":alice"));
  EXPECT_EQ(log_.at(DVACLogLevelError), (std::vector<std::string>{
                                            "userId must not be empty.",
                                            "userId must not be empty.",
                                            "userId prefix must be 'c', 'x' is not supported.",
                                            "userId prefix must be 'c', '' is not supported.",
                                        }));
}

TEST_F(DVACUserIdContextTest, PrefixesIdsWithoutAPrefix) {
  EXPECT_EQ(DVACUserIdContext::prefixedUserIdFromUserId(std::nullopt), std::nullopt);
  EXPECT_EQ(DVACUserIdContext::prefixedUserIdFromUserId("alice"), "c:alice");
  EXPECT_EQ(DVACUserIdContext::prefixedUserIdFromUserId("c:alice"), "c:alice");
  EXPECT_EQ(DVACUserIdContext::prefixedUserIdFromUserId("x:alice"), "x:alice");
  EXPECT_EQ(DVACUserIdContext::prefixedUserIdFromUserId(""), "c:");
}

TEST_F(DVACUserIdContextTest, HistoryRecordRoundTrips) {
  auto info = std::make_shared<DVACUserIdHistoryInfo>(clock_.now(), "alice");
  auto restored = dvac_model_test::roundTrip(info);
  ASSERT_TRUE(restored);
  EXPECT_TRUE(restored->isEqual(*info));
  EXPECT_EQ(restored->userId, "alice");
  auto none = dvac_model_test::roundTrip(std::make_shared<DVACUserIdHistoryInfo>(clock_.now(), std::nullopt));
  ASSERT_TRUE(none);
  EXPECT_EQ(none->userId, std::nullopt);
}

// What an earlier release archived under its own class name.
class LegacyUserIdHistoryInfo : public ns::Coding {
 public:
  std::string className() const override { return "DVUserIdHistoryInfo"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVUserIdHistoryInfo", "DVHistoryInfo", "NSObject"};
  }
  void encodeWithCoder(ns::KeyedArchiver& coder) const override {
    coder.encodeObject(ns::Value(ns::Date(7)), "timestampKey");
    coder.encodeObject(ns::Value(std::string("bob")), "userIdKey");
  }
};

TEST_F(DVACUserIdContextTest, OldClassNameDecodesThroughTheMigrations) {
  auto data = ns::KeyedArchiver::archivedDataWithRootObject(
      ns::Value(ns::Array{ns::Value(std::make_shared<LegacyUserIdHistoryInfo>())}));
  ASSERT_TRUE(data);
  DVACUtility::addMigrationClasses(DVACUtility::redEvududMigrationClasses());
  auto value = DVACUtility::unarchiveKeyedData(data);
  DVACUtility::removeMigrationClassesForTesting();
  ASSERT_TRUE(value);
  ASSERT_TRUE(value->at(0));
  auto info = value->at(0)->objectAs<DVACUserIdHistoryInfo>();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->timestamp, ns::Date(7));
  EXPECT_EQ(info->userId, "bob");
}

}  // namespace
