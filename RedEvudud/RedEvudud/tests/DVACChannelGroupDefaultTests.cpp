// The channel group on a virtual clock with an in-memory store.

#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupDefault.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/tests/DVACChannelTestSupport.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/TestSupport.h"

using namespace dvac_channel_test;

namespace {

// Answers the filter question with a fixed value and counts the questions.
class FilteringDelegate : public DVACChannelDelegate {
 public:
  explicit FilteringDelegate(bool answer) : answer_(answer) {}
  bool channelUnitShouldFilterLog(const std::shared_ptr<DVACChannelUnitProtocol>&,
                                  const std::shared_ptr<DVACLog>&) override {
    ++asked;
    return answer_;
  }
  int asked = 0;

 private:
  bool answer_;
};

class DVACChannelGroupDefaultTests : public ::testing::Test {
 protected:
  void SetUp() override {
    DVACRedEvududUserDefaults::resetSharedInstance();
    group_ = DVACChannelGroupDefault::initWithIngestion(ingestion_, storage_);
    group_->addDelegate(delegate_);
  }
  void TearDown() override { DVACRedEvududUserDefaults::resetSharedInstance(); }
  std::shared_ptr<DVACChannelUnitProtocol> add(const std::string& groupId, uint64_t interval = 6) {
    return group_->addChannelUnitWithConfiguration(
        DVACChannelUnitConfiguration::initDefaultConfigurationWithGroupId(groupId, interval));
  }
  void drain() { dispatch::Scheduler::shared().runUntilIdle(); }

  dispatch::VirtualClockScope clock_;
  ns::test::ScopedStandardDefaults defaults_;
  std::shared_ptr<FakeStorage> storage_ = std::make_shared<FakeStorage>();
  std::shared_ptr<FakeIngestion> ingestion_ = std::make_shared<FakeIngestion>();
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  std::shared_ptr<DVACChannelGroupDefault> group_;
};

TEST_F(DVACChannelGroupDefaultTests, QueueHasTheGroupsLabel) {
  EXPECT_EQ(group_->logsDispatchQueue()->label(), "com.diruriduv.redevudud.ChannelGroupQueue");
}

TEST_F(DVACChannelGroupDefaultTests, AddingAUnitRegistersItAndTellsTheDelegates) {
  EXPECT_EQ(group_->addChannelUnitWithConfiguration(nullptr), nullptr);
  EXPECT_EQ(delegate_->count("didAddChannelUnit"), 0u);
  auto first = add("Analytics");
  auto second = add("Analytics");
  EXPECT_NE(first, second);
  EXPECT_EQ(group_->channelUnitForGroupId("Analytics"), first);
  EXPECT_EQ(group_->channelUnitForGroupId("Crashes"), nullptr);
  EXPECT_EQ(delegate_->count("didAddChannelUnit"), 2u);
  EXPECT_EQ(group_->channels().size(), 2u);
  // The unit sends through the group's ingestion and shares its queue.
  auto unit = std::dynamic_pointer_cast<DVACChannelUnitDefault>(first);
  ASSERT_TRUE(unit);
  EXPECT_EQ(unit->ingestion(), ingestion_);
  EXPECT_EQ(unit->logsDispatchQueue(), group_->logsDispatchQueue());
}

TEST_F(DVACChannelGroupDefaultTests, AUnitStartsFlushingWhatAnEarlierLaunchLeft) {
  storage_->saveLog(numberedLog(1), "Analytics", DVACLogFlagsNormal);
  add("Analytics");
  drain();
  dispatch::Scheduler::shared().advance(6.1);
  EXPECT_EQ(ingestion_->sentCount(), 1u);
}

TEST_F(DVACChannelGroupDefaultTests, UnitCallbacksReachTheGroupsDelegatesWithTheUnitAsChannel) {
  auto unit = add("Analytics");
  unit->enqueueItem(numberedLog(1), DVACLogFlagsNormal);
  drain();
  const auto events = delegate_->events();
  std::vector<std::string> names;
  for (const auto& event : events) {
    names.push_back(event.name);
    if (event.name != "didAddChannelUnit") {
      EXPECT_EQ(event.channel, std::static_pointer_cast<DVACChannelProtocol>(unit)) << event.name;
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"didAddChannelUnit", "prepare", "didPrepare", "shouldFilter",
                                             "didCompleteEnqueueing"}));
}

TEST_F(DVACChannelGroupDefaultTests, TheFirstDelegateThatFiltersEndsTheQuestion) {
  group_->removeDelegate(delegate_);
  auto no = std::make_shared<FilteringDelegate>(false);
  auto yes = std::make_shared<FilteringDelegate>(true);
  auto never = std::make_shared<FilteringDelegate>(false);
  group_->addDelegate(no);
  group_->addDelegate(yes);
  group_->addDelegate(never);
  auto unit = add("Analytics");
  EXPECT_TRUE(group_->channelUnitShouldFilterLog(unit, numberedLog(1)));
  EXPECT_EQ(no->asked, 1);
  EXPECT_EQ(yes->asked, 1);
  EXPECT_EQ(never->asked, 0);
  group_->removeDelegate(yes);
  EXPECT_FALSE(group_->channelUnitShouldFilterLog(unit, numberedLog(1)));
}

TEST_F(DVACChannelGroupDefaultTests, DisablingWithDeletionEmptiesEveryUnit) {
  auto analytics = add("Analytics");
  auto crashes = add("Crashes");
  for (int n = 0; n < 3; ++n) {
    analytics->enqueueItem(numberedLog(n), DVACLogFlagsNormal);
    crashes->enqueueItem(numberedLog(10 + n), DVACLogFlagsNormal);
  }
  drain();
  group_->setEnabled(false, true);
  drain();
  EXPECT_EQ(storage_->countLogs(), 0u);
  EXPECT_EQ(delegate_->count("didFail"), 6u);
  ASSERT_FALSE(ingestion_->enableCalls().empty());
  EXPECT_EQ(ingestion_->enableCalls().back(), std::make_pair(false, true));
  // Once from the group, once per unit through forwarding.
  EXPECT_EQ(delegate_->count("didSetEnabled 01"), 3u);
  analytics->enqueueItem(numberedLog(99), DVACLogFlagsNormal);
  drain();
  EXPECT_EQ(storage_->countLogs(), 0u);
  EXPECT_EQ(delegate_->count("didFail"), 7u);
}

TEST_F(DVACChannelGroupDefaultTests, AnyResumeEnablesTheIngestionButUnitsWaitForEveryObject) {
  auto unit = std::dynamic_pointer_cast<DVACChannelUnitDefault>(add("Analytics"));
  auto a = std::make_shared<int>(1);
  auto b = std::make_shared<int>(2);
  group_->pauseWithIdentifyingObject(a);
  group_->pauseWithIdentifyingObject(b);
  EXPECT_FALSE(ingestion_->isEnabled());
  group_->resumeWithIdentifyingObject(a);
  drain();
  EXPECT_TRUE(ingestion_->isEnabled());
  bool paused = false;
  group_->logsDispatchQueue()->async([&] { paused = unit->isPaused(); });
  drain();
  EXPECT_TRUE(paused);
}

TEST_F(DVACChannelGroupDefaultTests, StorageSizeChangeRunsAfterWorkQueuedBeforeIt) {
  auto unit = add("Analytics");
  unit->enqueueItem(numberedLog(1), DVACLogFlagsNormal);
  std::optional<uint64_t> countWhenResized;
  std::optional<bool> result;
  group_->setMaxStorageSize(40960, [&](bool success) {
    countWhenResized = storage_->countLogs();
    result = success;
  });
  EXPECT_FALSE(result);
  drain();
  EXPECT_EQ(result, true);
  EXPECT_EQ(countWhenResized, 1u);
  EXPECT_EQ(storage_->maxStorageSizes(), (std::vector<int64_t>{40960}));
}

}  // namespace
