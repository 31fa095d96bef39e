// The channel unit on a virtual clock, with an in-memory store and an
// ingestion the tests answer by hand.

#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitDefault.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACErrors.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/tests/DVACChannelTestSupport.h"
#include "RedEvudud/RedEvudud/tests/DVACHttpTestSupport.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/TestSupport.h"

using namespace dvac_channel_test;

namespace {

class DVACChannelUnitDefaultTests : public ::testing::Test {
 protected:
  void SetUp() override { DVACRedEvududUserDefaults::resetSharedInstance(); }
  void TearDown() override {
    units_.clear();
    DVACRedEvududUserDefaults::resetSharedInstance();
  }

  std::shared_ptr<DVACChannelUnitDefault> makeUnit(uint64_t flushInterval = 6, uint64_t batchSize = 50,
                                                   uint64_t pendingBatches = 3, const std::string& groupId = "Group") {
    auto unit = DVACChannelUnitDefault::initWithIngestion(
        ingestion_, storage_,
        DVACChannelUnitConfiguration::initWithGroupId(groupId, 1, flushInterval, batchSize, pendingBatches), queue_);
    unit->addDelegate(delegate_);
    units_.push_back(unit);
    return unit;
  }
  void enqueue(const std::shared_ptr<DVACChannelUnitDefault>& unit, int from, int to,
               DVACLogFlags flags = DVACLogFlagsNormal) {
    for (int n = from; n < to; ++n) unit->enqueueItem(numberedLog(n), flags);
    dispatch::Scheduler::shared().runUntilIdle();
  }
  // Runs work on the logs queue and the rest of what is queued.
  void onQueue(const std::function<void()>& work) {
    queue_->async(work);
    dispatch::Scheduler::shared().runUntilIdle();
  }
  void drain() { dispatch::Scheduler::shared().runUntilIdle(); }

  dispatch::VirtualClockScope clock_;
  ns::test::ScopedStandardDefaults defaults_;
  dvac_http_test::LogRecorder log_{DVACLogLevelVerbose};
  std::shared_ptr<dispatch::Queue> queue_ = dispatch::Queue::makeSerial("com.diruriduv.redevudud.ChannelGroupQueue");
  std::shared_ptr<FakeStorage> storage_ = std::make_shared<FakeStorage>();
  std::shared_ptr<FakeIngestion> ingestion_ = std::make_shared<FakeIngestion>();
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  std::vector<std::shared_ptr<DVACChannelUnitDefault>> units_;
};

// ------------------------------------------------------------- Enqueueing

TEST_F(DVACChannelUnitDefaultTests, EnqueueStampsPreparesStoresAndCompletesInOrder) {
  auto unit = makeUnit();
  auto log = numberedLog(1);
  log->setTimestamp(std::nullopt);
  unit->enqueueItem(log, DVACLogFlagsNormal);
  // The preparation ran on this thread, before the queue got its turn.
  EXPECT_TRUE(log->timestamp());
  EXPECT_EQ(delegate_->count("prepare"), 1u);
  EXPECT_EQ(delegate_->count("didPrepare"), 1u);
  EXPECT_EQ(delegate_->count("didCompleteEnqueueing"), 0u);
  drain();
  EXPECT_EQ(storage_->count("Group"), 1u);
  EXPECT_EQ(delegate_->count("shouldFilter"), 1u);
  EXPECT_EQ(delegate_->count("didCompleteEnqueueing"), 1u);
  EXPECT_TRUE(log_.contains("Saving log, type: testEvent, flags: 1."));
  onQueue([&] { EXPECT_EQ(unit->itemsCount(), 1u); });
}

TEST_F(DVACChannelUnitDefaultTests, InvalidOrMissingLogIsRefusedWithoutCallbacks) {
  auto unit = makeUnit();
  unit->enqueueItem(nullptr, DVACLogFlagsNormal);
  auto invalid = numberedLog(1);
  invalid->setType(std::nullopt);
  unit->enqueueItem(invalid, DVACLogFlagsNormal);
  drain();
  EXPECT_EQ(log_.count("Log is not valid."), 2u);
  EXPECT_TRUE(delegate_->events().empty());
  EXPECT_EQ(storage_->count("Group"), 0u);
}

TEST_F(DVACChannelUnitDefaultTests, FilteredOrNotReadyLogsAreNotStoredButComplete) {
  auto unit = makeUnit();
  delegate_->filter = true;
  enqueue(unit, 0, 1);
  EXPECT_TRUE(log_.contains("Log of type 'testEvent' was filtered out by delegate(s)"));
  delegate_->filter = false;
  ingestion_->setReadyToSend(false);
  enqueue(unit, 1, 2);
  EXPECT_TRUE(log_.contains("was not filtered out by delegate(s) but ingestion is not ready to send it."));
  EXPECT_EQ(storage_->count("Group"), 0u);
  EXPECT_EQ(delegate_->count("didCompleteEnqueueing"), 2u);
}

TEST_F(DVACChannelUnitDefaultTests, RefusedSaveDoesNotCount) {
  auto unit = makeUnit();
  storage_->refuseSaves = true;
  enqueue(unit, 0, 3);
  EXPECT_EQ(delegate_->count("didCompleteEnqueueing"), 3u);
  onQueue([&] { EXPECT_EQ(unit->itemsCount(), 0u); });
}

// --------------------------------------------------------------- Batching

TEST_F(DVACChannelUnitDefaultTests, DefaultIntervalFlushesAtOnceWhenABatchIsFull) {
  auto unit = makeUnit(6, 50);
  enqueue(unit, 0, 49);
  EXPECT_EQ(ingestion_->sentCount(), 0u);
  enqueue(unit, 49, 50);
  ASSERT_EQ(ingestion_->sentCount(), 1u);
  EXPECT_EQ(ingestion_->container(0)->logs.size(), 50u);
}

TEST_F(DVACChannelUnitDefaultTests, OtherIntervalsOnlyArmTheTimerOnAFullBatch) {
  for (uint64_t interval : {3u, 60u}) {
    auto unit = makeUnit(interval, 50, 3, "Group" + std::to_string(interval));
    enqueue(unit, 0, 50);
    EXPECT_EQ(ingestion_->sentCount(), 0u) << interval;
    dispatch::Scheduler::shared().advance(static_cast<double>(interval) - 0.5);
    EXPECT_EQ(ingestion_->sentCount(), 0u) << interval;
    dispatch::Scheduler::shared().advance(1.0);
    ASSERT_EQ(ingestion_->sentCount(), 1u) << interval;
    units_.clear();
    ingestion_ = std::make_shared<FakeIngestion>();
  }
}

TEST_F(DVACChannelUnitDefaultTests, FlushTimerFiresOnceAfterTheInterval) {
  auto unit = makeUnit(6);
  enqueue(unit, 0, 2);
  dispatch::Scheduler::shared().advance(5.9);
  EXPECT_EQ(ingestion_->sentCount(), 0u);
  dispatch::Scheduler::shared().advance(0.2);
  ASSERT_EQ(ingestion_->sentCount(), 1u);
  EXPECT_EQ(ingestion_->container(0)->logs.size(), 2u);
  dispatch::Scheduler::shared().advance(30);
  EXPECT_EQ(ingestion_->sentCount(), 1u);
  onQueue([&] { EXPECT_TRUE(unit->timerSource()->isCancelled()); });
}

TEST_F(DVACChannelUnitDefaultTests, OneFlushSendsUpToThePendingBatchLimit) {
  auto unit = makeUnit(3, 50, 3);
  enqueue(unit, 0, 120);
  dispatch::Scheduler::shared().advance(3.1);
  ASSERT_EQ(ingestion_->sentCount(), 3u);
  EXPECT_EQ(ingestion_->container(0)->logs.size(), 50u);
  EXPECT_EQ(ingestion_->container(1)->logs.size(), 50u);
  EXPECT_EQ(ingestion_->container(2)->logs.size(), 20u);
  onQueue([&] {
    EXPECT_TRUE(unit->pendingBatchQueueFull());
    EXPECT_FALSE(unit->availableBatchFromStorage());
  });
}

TEST_F(DVACChannelUnitDefaultTests, FullPendingQueueFlushesAgainAfterASuccess) {
  auto unit = makeUnit(3, 50, 3);
  enqueue(unit, 0, 200);
  dispatch::Scheduler::shared().advance(3.1);
  ASSERT_EQ(ingestion_->sentCount(), 3u);
  onQueue([&] {
    EXPECT_TRUE(unit->availableBatchFromStorage());
    EXPECT_TRUE(unit->pendingBatchQueueFull());
  });
  ingestion_->answer(0, 200);
  drain();
  ASSERT_EQ(ingestion_->sentCount(), 4u);
  EXPECT_EQ(ingestion_->container(3)->logs.size(), 50u);
  EXPECT_EQ(storage_->count("Group"), 150u);
  EXPECT_EQ(delegate_->count("didSucceed"), 50u);
}

TEST_F(DVACChannelUnitDefaultTests, RecoverableFailureKeepsLogsAndDoesNotFlushAgain) {
  auto unit = makeUnit(3, 50, 3);
  enqueue(unit, 0, 200);
  dispatch::Scheduler::shared().advance(3.1);
  ASSERT_EQ(ingestion_->sentCount(), 3u);
  ingestion_->answer(0, 503);
  drain();
  EXPECT_EQ(ingestion_->sentCount(), 3u);
  EXPECT_EQ(storage_->count("Group"), 200u);
  EXPECT_EQ(delegate_->count("didFail"), 50u);
  EXPECT_TRUE(log_.contains("status code:503"));
  onQueue([&] {
    EXPECT_FALSE(unit->pendingBatchQueueFull());
    EXPECT_EQ(unit->pendingBatchIds().size(), 2u);
    EXPECT_TRUE(unit->isEnabled());
  });
}

TEST_F(DVACChannelUnitDefaultTests, LogsGoOutByPriorityThenAge) {
  auto unit = makeUnit(3, 3, 1);
  enqueue(unit, 0, 2, DVACLogFlagsNormal);
  enqueue(unit, 2, 3, DVACLogFlagsCritical);
  dispatch::Scheduler::shared().advance(3.1);
  ASSERT_EQ(ingestion_->sentCount(), 1u);
  std::vector<int> order;
  for (const auto& log : ingestion_->container(0)->logs) order.push_back(*numberOf(log));
  EXPECT_EQ(order, (std::vector<int>{2, 0, 1}));
}

// ------------------------------------------------------------- Deleting

TEST_F(DVACChannelUnitDefaultTests, FatalAnswerDisablesTheUnitAndEndsEveryLogOnce) {
  auto unit = makeUnit(3, 2, 3);
  enqueue(unit, 0, 5);
  dispatch::Scheduler::shared().advance(3.1);
  ASSERT_EQ(ingestion_->sentCount(), 3u);  // 2 + 2 + 1
  ingestion_->answer(0, 400);
  drain();
  EXPECT_TRUE(log_.contains("Fatal error encountered; shutting down channel unit with group ID Group"));
  EXPECT_EQ(storage_->count("Group"), 0u);
  // Every log that was told "will send" has exactly one outcome.
  for (int n = 0; n < 5; ++n) {
    const auto will = delegate_->numbers("willSend");
    const auto failed = delegate_->numbers("didFail");
    EXPECT_EQ(std::count(will.begin(), will.end(), n), 1) << n;
    EXPECT_EQ(std::count(failed.begin(), failed.end(), n), 1) << n;
  }
  // The two other batches' later answers are ignored.
  ingestion_->answer(1, 200);
  ingestion_->answer(2, 200);
  drain();
  EXPECT_EQ(log_.count("not expected, ignore."), 2u);
  EXPECT_EQ(delegate_->count("didSucceed"), 0u);
  onQueue([&] {
    EXPECT_FALSE(unit->isEnabled());
    EXPECT_TRUE(unit->isPaused());
    EXPECT_TRUE(unit->discardLogs());
  });
  // From now on every log fails at once with code 100.
  enqueue(unit, 10, 11);
  EXPECT_EQ(storage_->count("Group"), 0u);
  const auto events = delegate_->events();
  ASSERT_EQ(events.back().name, "didCompleteEnqueueing");
  const auto& failure = events[events.size() - 2];
  EXPECT_EQ(failure.name, "didFail");
  ASSERT_TRUE(failure.error);
  EXPECT_EQ(failure.error->code, DVACConnectionPausedErrorCode);
  EXPECT_EQ(failure.error->localizedDescription(), "Canceled, connection paused with log deletion.");
}

TEST_F(DVACChannelUnitDefaultTests, DisablingWithDeletionWhileABatchIsInFlightEndsItsLogsWithAFailure) {
  auto unit = makeUnit(3, 2, 1);
  enqueue(unit, 0, 4);
  dispatch::Scheduler::shared().advance(3.1);
  ASSERT_EQ(ingestion_->sentCount(), 1u);
  EXPECT_EQ(delegate_->count("willSend"), 2u);
  unit->setEnabled(false, true);
  drain();
  EXPECT_EQ(storage_->count("Group"), 0u);
  // The two in flight fail, the two stored get "will send" and fail.
  EXPECT_EQ(delegate_->count("willSend"), 4u);
  EXPECT_EQ(delegate_->count("didFail"), 4u);
  for (const auto& event : delegate_->events()) {
    if (event.name != "didFail") continue;
    ASSERT_TRUE(event.error);
    EXPECT_EQ(event.error->code, DVACConnectionPausedErrorCode);
  }
  ingestion_->answer(0, 200);
  drain();
  EXPECT_TRUE(log_.contains("not expected, ignore."));
  EXPECT_EQ(delegate_->count("didSucceed"), 0u);
  EXPECT_EQ(delegate_->count("didFail"), 4u);
}

TEST_F(DVACChannelUnitDefaultTests, ReenablingClearsDiscardingAndEveryChangeIsReported) {
  auto unit = makeUnit();
  unit->setEnabled(false, true);
  drain();
  onQueue([&] { EXPECT_TRUE(unit->discardLogs()); });
  unit->setEnabled(true, false);
  unit->setEnabled(true, false);
  drain();
  onQueue([&] {
    EXPECT_FALSE(unit->discardLogs());
    EXPECT_FALSE(unit->isPaused());
  });
  EXPECT_EQ(delegate_->count("didSetEnabled 01"), 1u);
  EXPECT_EQ(delegate_->count("didSetEnabled 10"), 2u);
  enqueue(unit, 0, 1);
  EXPECT_EQ(storage_->count("Group"), 1u);
}

TEST_F(DVACChannelUnitDefaultTests, DisabledWithoutDeletionKeepsStoringButDoesNotSend) {
  auto unit = makeUnit(6, 2);
  unit->setEnabled(false, false);
  enqueue(unit, 0, 4);
  dispatch::Scheduler::shared().advance(10);
  EXPECT_EQ(ingestion_->sentCount(), 0u);
  EXPECT_EQ(storage_->count("Group"), 4u);
}

// ---------------------------------------------------------------- Pausing

TEST_F(DVACChannelUnitDefaultTests, StaysPausedUntilEveryIdentifyingObjectResumed) {
  auto unit = makeUnit(6, 2);
  auto a = std::make_shared<int>(1);
  auto b = std::make_shared<int>(2);
  unit->pauseWithIdentifyingObject(a);
  unit->pauseWithIdentifyingObject(b);
  enqueue(unit, 0, 2);
  EXPECT_EQ(ingestion_->sentCount(), 0u);
  unit->resumeWithIdentifyingObject(a);
  drain();
  onQueue([&] { EXPECT_TRUE(unit->isPaused()); });
  EXPECT_EQ(ingestion_->sentCount(), 0u);
  unit->resumeWithIdentifyingObject(b);
  drain();
  onQueue([&] { EXPECT_FALSE(unit->isPaused()); });
  // The resume checked the pending logs: a full batch goes at once.
  EXPECT_EQ(ingestion_->sentCount(), 1u);
  EXPECT_EQ(delegate_->count("didPause"), 2u);
  EXPECT_EQ(delegate_->count("didResume"), 2u);
}

TEST_F(DVACChannelUnitDefaultTests, PausingCancelsTheArmedTimer) {
  auto unit = makeUnit(6);
  enqueue(unit, 0, 1);
  auto holder = std::make_shared<int>(0);
  unit->pauseWithIdentifyingObject(holder);
  dispatch::Scheduler::shared().advance(20);
  EXPECT_EQ(ingestion_->sentCount(), 0u);
  unit->resumeWithIdentifyingObject(holder);
  dispatch::Scheduler::shared().advance(6.1);
  EXPECT_EQ(ingestion_->sentCount(), 1u);
}

TEST_F(DVACChannelUnitDefaultTests, PausedTargetKeysAreLeftInStorage) {
  auto unit = makeUnit(3, 50);
  auto tokened = numberedLog(7);
  tokened->addTransmissionTargetToken("keyA-secret");
  unit->pauseSendingLogsWithToken("keyA-secret");
  unit->enqueueItem(tokened, DVACLogFlagsNormal);
  enqueue(unit, 0, 1);
  dispatch::Scheduler::shared().advance(3.1);
  ASSERT_EQ(ingestion_->sentCount(), 1u);
  ASSERT_EQ(ingestion_->container(0)->logs.size(), 1u);
  EXPECT_EQ(numberOf(ingestion_->container(0)->logs[0]), 0);
  EXPECT_TRUE(log_.contains("Pause channel for target key keyA."));
  unit->resumeSendingLogsWithToken("keyA-secret");
  dispatch::Scheduler::shared().advance(3.1);
  ASSERT_EQ(ingestion_->sentCount(), 2u);
  EXPECT_EQ(numberOf(ingestion_->container(1)->logs[0]), 7);
}

TEST_F(DVACChannelUnitDefaultTests, OfflineIngestionSendsNothing) {
  auto unit = makeUnit(6, 2);
  ingestion_->setEnabled(false, false);
  enqueue(unit, 0, 2);
  EXPECT_EQ(ingestion_->sentCount(), 0u);
  EXPECT_TRUE(log_.contains("RedEvudud SDK is offline, groupId:Group."));
}

// ------------------------------------------------------- Long intervals

TEST_F(DVACChannelUnitDefaultTests, LongIntervalSurvivesARelaunch) {
  const std::string key = "ChannelStartTimer:Group";
  auto settings = DVACRedEvududUserDefaults::shared();
  const double now = dispatch::wallNow();
  auto unit = makeUnit(3600);

  // Started 20 minutes ago: 40 minutes left.
  settings->setObject(ns::Value(ns::Date(now - 20 * 60 - 0.5)), key);
  onQueue([&] { EXPECT_EQ(unit->resolveFlushInterval(), 2400u); });

  // Started 65 minutes ago: at once, and the date is forgotten.
  settings->setObject(ns::Value(ns::Date(now - 65 * 60)), key);
  onQueue([&] { EXPECT_EQ(unit->resolveFlushInterval(), 0u); });
  EXPECT_FALSE(settings->objectForKey(key));

  // A date in the future starts the full hour again.
  settings->setObject(ns::Value(ns::Date(now + 600)), key);
  onQueue([&] { EXPECT_EQ(unit->resolveFlushInterval(), 3600u); });
  auto stored = settings->objectForKey(key);
  ASSERT_TRUE(stored && stored->date());
  EXPECT_NEAR(stored->date()->secondsSince1970, now, 1.0);
  EXPECT_EQ(settings->objectForKey(key)->date(), stored->date());
}

TEST_F(DVACChannelUnitDefaultTests, LongIntervalFlushForgetsItsStartDate) {
  auto settings = DVACRedEvududUserDefaults::shared();
  auto unit = makeUnit(60);
  enqueue(unit, 0, 1);
  EXPECT_TRUE(settings->objectForKey("ChannelStartTimer:Group"));
  dispatch::Scheduler::shared().advance(60.5);
  EXPECT_EQ(ingestion_->sentCount(), 1u);
  EXPECT_FALSE(settings->objectForKey("ChannelStartTimer:Group"));
}

TEST_F(DVACChannelUnitDefaultTests, StartCountsTheLogsOfEveryGroup) {
  storage_->saveLog(numberedLog(1), "Other", DVACLogFlagsNormal);
  storage_->saveLog(numberedLog(2), "Group", DVACLogFlagsNormal);
  auto unit = makeUnit();
  onQueue([&] { EXPECT_EQ(unit->itemsCount(), 2u); });
  onQueue([&] { unit->checkPendingLogs(); });
  dispatch::Scheduler::shared().advance(6.1);
  ASSERT_EQ(ingestion_->sentCount(), 1u);
  EXPECT_EQ(ingestion_->container(0)->logs.size(), 1u);
}

}  // namespace
