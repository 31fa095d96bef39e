#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitDefault.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceTracker.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpUtil.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLogContainer.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACErrors.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"

namespace {

std::string describe(const DVACIdentifyingObject& object) {
  char text[32];
  std::snprintf(text, sizeof text, "<%p>", object.get());
  return text;
}

bool sameObject(const std::weak_ptr<const void>& a, const std::weak_ptr<const void>& b) {
  return !a.owner_before(b) && !b.owner_before(a);
}

}  // namespace

// ------------------------------------------------------------ Construction

std::shared_ptr<DVACChannelUnitDefault> DVACChannelUnitDefault::initWithIngestion(
    std::shared_ptr<DVACIngestionProtocol> ingestion, std::shared_ptr<DVACStorage> storage,
    std::shared_ptr<const DVACChannelUnitConfiguration> configuration,
    std::shared_ptr<dispatch::Queue> logsDispatchQueue) {
  return std::shared_ptr<DVACChannelUnitDefault>(new DVACChannelUnitDefault(
      std::move(ingestion), std::move(storage), std::move(configuration), std::move(logsDispatchQueue)));
}

DVACChannelUnitDefault::DVACChannelUnitDefault(std::shared_ptr<DVACIngestionProtocol> ingestion,
                                               std::shared_ptr<DVACStorage> storage,
                                               std::shared_ptr<const DVACChannelUnitConfiguration> configuration,
                                               std::shared_ptr<dispatch::Queue> logsDispatchQueue)
    : configuration_(std::move(configuration)),
      logsDispatchQueue_(std::move(logsDispatchQueue)),
      ingestion_(std::move(ingestion)),
      storage_(std::move(storage)) {
  itemsCount_ = storage_ ? storage_->countLogs() : 0;
}

DVACChannelUnitDefault::~DVACChannelUnitDefault() {
  if (timerSource_) timerSource_->cancel();
}

std::shared_ptr<DVACChannelProtocol> DVACChannelUnitDefault::self() { return shared_from_this(); }

ns::Date DVACChannelUnitDefault::now() const { return ns::Date(dispatch::wallNow()); }

// --------------------------------------------------------------- Delegates

void DVACChannelUnitDefault::addDelegate(const std::shared_ptr<DVACChannelDelegate>& delegate) {
  if (!delegate) return;
  std::lock_guard lock(delegatesMutex_);
  std::erase_if(delegates_, [&](const auto& weak) { return weak.expired(); });
  for (const auto& weak : delegates_) {
    if (weak.lock() == delegate) return;
  }
  delegates_.push_back(delegate);
}

void DVACChannelUnitDefault::removeDelegate(const std::shared_ptr<DVACChannelDelegate>& delegate) {
  std::lock_guard lock(delegatesMutex_);
  std::erase_if(delegates_, [&](const auto& weak) {
    auto strong = weak.lock();
    return !strong || strong == delegate;
  });
}

std::vector<std::shared_ptr<DVACChannelDelegate>> DVACChannelUnitDefault::delegatesSnapshot() const {
  std::vector<std::shared_ptr<DVACChannelDelegate>> snapshot;
  std::lock_guard lock(delegatesMutex_);
  for (const auto& weak : delegates_) {
    if (auto strong = weak.lock()) snapshot.push_back(std::move(strong));
  }
  return snapshot;
}

// ---------------------------------------------------------------- Enqueue

void DVACChannelUnitDefault::enqueueItem(const std::shared_ptr<DVACLog>& item, DVACLogFlags flags) {
  if (!item) {
    DVACLogWarning(kDVACLogTag, "Log is not valid.");
    return;
  }
  if (!item->timestamp()) item->setTimestamp(ns::Date::now());
  if (!item->device()) item->setDevice(DVACDeviceTracker::sharedInstance()->device());
  if (!item->isValid()) {
    DVACLogWarning(kDVACLogTag, "Log is not valid.");
    return;
  }

  const std::string internalId = ns::UUID::random().UUIDString();
  auto channel = self();
  for (const auto& delegate : delegatesSnapshot()) delegate->channelPrepareLog(channel, item);
  for (const auto& delegate : delegatesSnapshot()) delegate->channelDidPrepareLog(channel, item, internalId, flags);

  auto strongSelf = shared_from_this();
  logsDispatchQueue_->async([strongSelf, item, flags, internalId] {
    auto& unit = *strongSelf;
    auto channel = unit.self();
    const auto delegates = unit.delegatesSnapshot();
    bool filtered = false;
    for (const auto& delegate : delegates) {
      if (delegate->channelUnitShouldFilterLog(strongSelf, item)) {
        filtered = true;
        break;
      }
    }
    const std::string type = item->type().value_or("(null)");
    DVACLogStoreResult result = DVACLogStoreResult::dropped;
    if (filtered) {
      DVACLogDebug(kDVACLogTag, "Log of type '" + type + "' was filtered out by delegate(s)");
    } else if (!unit.ingestion_ || !unit.ingestion_->isReadyToSend()) {
      result = DVACLogStoreResult::notStored;
      DVACLogDebug(kDVACLogTag,
                   "Log of type '" + type + "' was not filtered out by delegate(s) but ingestion is not ready to send it.");
    } else if (unit.discardLogs_) {
      DVACLogWarning(kDVACLogTag,
                     "Channel " + unit.configuration_->groupId() + " disabled in log discarding mode, discard this log.");
      unit.notifyFailureBeforeSendingForItem(item, dvac::makeRedEvududError(DVACConnectionPausedErrorCode));
    } else {
      DVACLogDebug(kDVACLogTag, "Saving log, type: " + type + ", flags: " + std::to_string(flags) + ".");
      const bool saved = unit.storage_ && unit.storage_->saveLog(item, unit.configuration_->groupId(), flags);
      result = saved ? DVACLogStoreResult::stored : DVACLogStoreResult::notStored;
    }
    // Completion comes whatever became of the log; the second call says what.
    for (const auto& delegate : unit.delegatesSnapshot()) {
      delegate->channelDidCompleteEnqueueingLog(channel, item, internalId);
      delegate->channelDidCompleteEnqueueingLogWithStoreResult(channel, item, internalId, result);
    }
    if (result == DVACLogStoreResult::stored) {
      ++unit.itemsCount_;
      unit.checkPendingLogs();
    }
  });
}

// ------------------------------------------------------------------ Flush

void DVACChannelUnitDefault::checkPendingLogs() {
  if (!paused_ && configuration_->flushInterval() == kDVACFlushIntervalDefault &&
      itemsCount_ >= configuration_->batchSizeLimit()) {
    flushQueue();
    return;
  }
  if (itemsCount_ == 0) return;
  const uint64_t interval = resolveFlushInterval();
  if (paused_) return;
  if (interval > 0) {
    startTimer(interval);
  } else {
    flushQueue();
  }
}

void DVACChannelUnitDefault::flushQueue() {
  const std::string& groupId = configuration_->groupId();
  if (!ingestion_ || !ingestion_->isEnabled()) {
    DVACLogDebug(kDVACLogTag, "RedEvudud SDK is offline, groupId:" + groupId + ".");
    return;
  }
  if (!enabled_ || !ingestion_->isReadyToSend() || !storage_) return;
  resetTimer();
  if (paused_ || pendingBatchQueueFull_) {
    if (itemsCount_ >= configuration_->batchSizeLimit()) {
      availableBatchFromStorage_ = true;
      itemsCount_ = 0;
    }
    return;
  }
  itemsCount_ = 0;
  const std::vector<std::string> excluded(pausedTargetKeys_.begin(), pausedTargetKeys_.end());
  availableBatchFromStorage_ = storage_->loadLogsWithGroupId(
      groupId, static_cast<size_t>(configuration_->batchSizeLimit()), excluded,
      [this](const DVACStorageLogArray& logs, const std::optional<std::string>& batchId) {
        if (logs.empty() || !batchId) return;
        sendLogContainer(std::make_shared<DVACLogContainer>(*batchId, logs));
      });
  if (availableBatchFromStorage_ && !pendingBatchQueueFull_) flushQueue();
}

void DVACChannelUnitDefault::sendLogContainer(const std::shared_ptr<DVACLogContainer>& container) {
  if (!container || !container->batchId) return;
  const std::string batchId = *container->batchId;
  const std::string& groupId = configuration_->groupId();
  pendingBatchIds_.push_back(batchId);
  inFlightLogs_[batchId] = container->logs;
  if (pendingBatchIds_.size() >= configuration_->pendingBatchesLimit()) pendingBatchQueueFull_ = true;

  if (DVACLogger::currentLogLevel() < DVACLogLevelInfo) {
    const size_t count = container->logs.size();
    for (size_t i = 0; i < count; ++i) {
      const auto& log = container->logs[i];
      DVACLogDebug(kDVACLogTag, "Sending " + std::to_string(i + 1) + "/" + std::to_string(count) +
                                    " log, group Id: " + groupId + ", batch Id: " + batchId +
                                    ", session Id: " + log->sid().value_or("(null)") + ", payload:\n" +
                                    log->serializeLogWithPrettyPrinting(true).value_or("(null)"));
    }
  }

  auto channel = self();
  for (const auto& delegate : delegatesSnapshot()) {
    for (const auto& log : container->logs) delegate->channelWillSendLog(channel, log);
  }

  std::weak_ptr<DVACChannelUnitDefault> weakSelf = weak_from_this();
  auto queue = logsDispatchQueue_;
  ingestion_->sendAsync(container, [weakSelf, queue, batchId](const std::optional<std::string>& /*callId*/,
                                                              std::shared_ptr<const net::HTTPURLResponse> response,
                                                              std::optional<ns::Data> /*data*/,
                                                              std::optional<ns::Error> error) {
    const int64_t statusCode = response ? response->statusCode() : 0;
    queue->async([weakSelf, batchId, statusCode, error = std::move(error)] {
      if (auto unit = weakSelf.lock()) unit->handleSendResult(batchId, statusCode, error);
    });
  });
}

void DVACChannelUnitDefault::handleSendResult(const std::string& batchId, int64_t statusCode,
                                              const std::optional<ns::Error>& error) {
  const std::string& groupId = configuration_->groupId();
  if (std::find(pendingBatchIds_.begin(), pendingBatchIds_.end(), batchId) == pendingBatchIds_.end()) {
    DVACLogWarning(kDVACLogTag, "Batch Id " + batchId + " not expected, ignore.");
    return;
  }
  std::vector<std::shared_ptr<DVACLog>> logs;
  if (auto found = inFlightLogs_.find(batchId); found != inFlightLogs_.end()) {
    logs = std::move(found->second);
    inFlightLogs_.erase(found);
  }
  auto channel = self();
  const bool succeeded = DVACHttpUtil::isSuccessStatusCode(statusCode);
  if (succeeded) {
    DVACLogDebug(kDVACLogTag, "Log(s) sent with success, batch Id:" + batchId + ".");
    for (const auto& delegate : delegatesSnapshot()) {
      for (const auto& log : logs) delegate->channelDidSucceedSendingLog(channel, log);
    }
    if (storage_) storage_->deleteLogsWithBatchId(batchId, groupId);
  } else {
    DVACLogError(kDVACLogTag, "Log(s) sent with failure, batch Id:" + batchId +
                                  ", status code:" + std::to_string(statusCode));
    for (const auto& delegate : delegatesSnapshot()) {
      for (const auto& log : logs) delegate->channelDidFailSendingLog(channel, log, error);
    }
    if (!DVACHttpUtil::isRecoverableError(statusCode)) {
      DVACLogError(kDVACLogTag, "Fatal error encountered; shutting down channel unit with group ID " + groupId);
      // The batch id stays pending so the disable deletes its rows; its logs
      // have had their outcome and are not reported again.
      setEnabled(false, true);
      return;
    }
  }
  std::erase(pendingBatchIds_, batchId);
  if (pendingBatchQueueFull_ && pendingBatchIds_.size() < configuration_->pendingBatchesLimit()) {
    pendingBatchQueueFull_ = false;
    if (succeeded && availableBatchFromStorage_) flushQueue();
  }
}

// ------------------------------------------------------------------ Timer

std::string DVACChannelUnitDefault::oldestPendingLogTimestampKey() const {
  return std::string(kDVACChannelStartTimerKey) + ":" + configuration_->groupId();
}

uint64_t DVACChannelUnitDefault::resolveFlushInterval() {
  const uint64_t interval = configuration_->flushInterval();
  if (interval < 7) return interval;
  auto settings = DVACRedEvududUserDefaults::shared();
  const std::string key = oldestPendingLogTimestampKey();
  const ns::Date current = now();
  std::optional<ns::Date> start;
  if (auto stored = settings->objectForKey(key)) start = stored->date();
  if (!start || *start > current) {
    settings->setObject(ns::Value(current), key);
    return interval;
  }
  const double elapsed = current.timeIntervalSinceDate(*start);
  if (elapsed <= static_cast<double>(interval)) {
    return interval - static_cast<uint64_t>(elapsed);
  }
  settings->removeObjectForKey(key);
  return 0;
}

void DVACChannelUnitDefault::startTimer(uint64_t seconds) {
  if (!enabled_) return;
  resetTimer();
  timerSource_ = dispatch::TimerSource::make(logsDispatchQueue_);
  timerSource_->setTimer(dispatch::after(static_cast<double>(seconds)), dispatch::kNanosPerSecond,
                         dispatch::kNanosPerSecond);
  std::weak_ptr<DVACChannelUnitDefault> weakSelf = weak_from_this();
  std::weak_ptr<dispatch::TimerSource> weakTimer = timerSource_;
  timerSource_->setEventHandler([weakSelf, weakTimer] {
    auto unit = weakSelf.lock();
    if (!unit) return;
    // An event of a timer that was replaced meanwhile.
    if (unit->timerSource_ != weakTimer.lock()) return;
    if (unit->itemsCount_ > 0) unit->flushQueue();
    unit->resetTimer();
    DVACRedEvududUserDefaults::shared()->removeObjectForKey(unit->oldestPendingLogTimestampKey());
  });
  timerSource_->resume();
}

void DVACChannelUnitDefault::resetTimer() {
  if (timerSource_) timerSource_->cancel();
}

// ------------------------------------------------------ Enable and pause

bool DVACChannelUnitDefault::isEnabled() const { return enabled_; }

void DVACChannelUnitDefault::setEnabled(bool isEnabled, bool deleteDataOnDisabled) {
  auto strongSelf = shared_from_this();
  logsDispatchQueue_->async(
      [strongSelf, isEnabled, deleteDataOnDisabled] { strongSelf->setEnabledSync(isEnabled, deleteDataOnDisabled); });
}

void DVACChannelUnitDefault::setEnabledSync(bool isEnabled, bool deleteDataOnDisabled) {
  DVACIdentifyingObject identifyingObject = shared_from_this();
  if (enabled_ != isEnabled) {
    enabled_ = isEnabled;
    if (isEnabled) {
      resumeWithIdentifyingObjectSync(identifyingObject);
    } else {
      pauseWithIdentifyingObjectSync(identifyingObject);
    }
  }
  if (!isEnabled && deleteDataOnDisabled) {
    DVACLogDebug(kDVACLogTag, "Delete all logs for group Id " + configuration_->groupId());
    deleteAllLogsWithErrorSync(dvac::makeRedEvududError(DVACConnectionPausedErrorCode));
    itemsCount_ = 0;
    availableBatchFromStorage_ = false;
    pendingBatchQueueFull_ = false;
    DVACRedEvududUserDefaults::shared()->removeObjectForKey(oldestPendingLogTimestampKey());
    discardLogs_ = true;
  } else {
    discardLogs_ = false;
  }
  auto channel = self();
  for (const auto& delegate : delegatesSnapshot()) {
    delegate->channelDidSetEnabled(channel, isEnabled, deleteDataOnDisabled);
  }
}

void DVACChannelUnitDefault::pauseWithIdentifyingObject(const DVACIdentifyingObject& identifyingObject) {
  auto strongSelf = shared_from_this();
  logsDispatchQueue_->async(
      [strongSelf, identifyingObject] { strongSelf->pauseWithIdentifyingObjectSync(identifyingObject); });
}

void DVACChannelUnitDefault::resumeWithIdentifyingObject(const DVACIdentifyingObject& identifyingObject) {
  auto strongSelf = shared_from_this();
  logsDispatchQueue_->async(
      [strongSelf, identifyingObject] { strongSelf->resumeWithIdentifyingObjectSync(identifyingObject); });
}

void DVACChannelUnitDefault::pauseWithIdentifyingObjectSync(const DVACIdentifyingObject& identifyingObject) {
  const std::string& groupId = configuration_->groupId();
  std::erase_if(pausedIdentifyingObjects_, [](const auto& weak) { return weak.expired(); });
  std::weak_ptr<const void> weak = identifyingObject;
  const bool known = std::any_of(pausedIdentifyingObjects_.begin(), pausedIdentifyingObjects_.end(),
                                 [&](const auto& other) { return sameObject(other, weak); });
  if (!known && identifyingObject) pausedIdentifyingObjects_.push_back(weak);
  DVACLogVerbose(kDVACLogTag, "Identifying object " + describe(identifyingObject) +
                                  " added to pause lane for channel " + groupId + ".");
  if (!paused_) {
    DVACLogDebug(kDVACLogTag, "Pause channel " + groupId + ".");
    paused_ = true;
    resetTimer();
  }
  auto channel = self();
  for (const auto& delegate : delegatesSnapshot()) {
    delegate->channelDidPauseWithIdentifyingObject(channel, identifyingObject);
  }
}

void DVACChannelUnitDefault::resumeWithIdentifyingObjectSync(const DVACIdentifyingObject& identifyingObject) {
  const std::string& groupId = configuration_->groupId();
  std::weak_ptr<const void> weak = identifyingObject;
  std::erase_if(pausedIdentifyingObjects_,
                [&](const auto& other) { return other.expired() || sameObject(other, weak); });
  DVACLogVerbose(kDVACLogTag, "Identifying object " + describe(identifyingObject) +
                                  " removed from pause lane for channel " + groupId + ".");
  if (pausedIdentifyingObjects_.empty()) {
    DVACLogDebug(kDVACLogTag, "Resume channel " + groupId + ".");
    paused_ = false;
    checkPendingLogs();
  }
  auto channel = self();
  for (const auto& delegate : delegatesSnapshot()) {
    delegate->channelDidResumeWithIdentifyingObject(channel, identifyingObject);
  }
}

void DVACChannelUnitDefault::pauseSendingLogsWithToken(const std::string& token) {
  const std::optional<std::string> targetKey = DVACUtility::targetKeyFromTargetToken(token);
  if (!targetKey) return;
  auto strongSelf = shared_from_this();
  logsDispatchQueue_->async([strongSelf, key = *targetKey] {
    DVACLogDebug(kDVACLogTag, "Pause channel for target key " + key + ".");
    strongSelf->pausedTargetKeys_.insert(key);
  });
}

void DVACChannelUnitDefault::resumeSendingLogsWithToken(const std::string& token) {
  const std::optional<std::string> targetKey = DVACUtility::targetKeyFromTargetToken(token);
  if (!targetKey) return;
  auto strongSelf = shared_from_this();
  logsDispatchQueue_->async([strongSelf, key = *targetKey] {
    DVACLogDebug(kDVACLogTag, "Resume channel for target key " + key + ".");
    strongSelf->pausedTargetKeys_.erase(key);
    strongSelf->itemsCount_ = strongSelf->storage_ ? strongSelf->storage_->countLogs() : 0;
    strongSelf->checkPendingLogs();
  });
}

// ---------------------------------------------------------------- Delete

void DVACChannelUnitDefault::deleteAllLogsWithError(const ns::Error& error) {
  auto strongSelf = shared_from_this();
  logsDispatchQueue_->async([strongSelf, error] { strongSelf->deleteAllLogsWithErrorSync(error); });
}

void DVACChannelUnitDefault::deleteAllLogsWithErrorSync(const ns::Error& error) {
  const std::string& groupId = configuration_->groupId();
  auto channel = self();
  const auto delegates = delegatesSnapshot();
  for (const auto& batchId : pendingBatchIds_) {
    if (storage_) storage_->deleteLogsWithBatchId(batchId, groupId);
    // These were told "will send" when the batch left; their answer will be
    // ignored now, so this is their outcome.
    if (auto found = inFlightLogs_.find(batchId); found != inFlightLogs_.end()) {
      for (const auto& delegate : delegates) {
        for (const auto& log : found->second) delegate->channelDidFailSendingLog(channel, log, error);
      }
    }
  }
  pendingBatchIds_.clear();
  inFlightLogs_.clear();
  if (!storage_) return;
  for (const auto& log : storage_->deleteLogsWithGroupId(groupId)) notifyFailureBeforeSendingForItem(log, error);
}

void DVACChannelUnitDefault::notifyFailureBeforeSendingForItem(const std::shared_ptr<DVACLog>& item,
                                                               const ns::Error& error) {
  auto channel = self();
  for (const auto& delegate : delegatesSnapshot()) {
    delegate->channelWillSendLog(channel, item);
    delegate->channelDidFailSendingLog(channel, item, error);
  }
}
