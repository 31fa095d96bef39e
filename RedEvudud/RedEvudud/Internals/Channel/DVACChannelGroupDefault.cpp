#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupDefault.h"

#include <algorithm>

#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACRedEvududIngestion.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACLogDBStorage.h"

// ------------------------------------------------------------ Construction

std::shared_ptr<DVACChannelGroupDefault> DVACChannelGroupDefault::initWithHttpClient(
    std::shared_ptr<DVACHttpClientProtocol> httpClient, const ns::UUID& installId,
    const std::optional<std::string>& logUrl) {
  return initWithIngestion(DVACRedEvududIngestion::initWithHttpClient(std::move(httpClient), logUrl,
                                                                      installId.UUIDString()));
}

std::shared_ptr<DVACChannelGroupDefault> DVACChannelGroupDefault::initWithIngestion(
    std::shared_ptr<DVACIngestionProtocol> ingestion) {
  return initWithIngestion(std::move(ingestion), DVACLogDBStorage::create());
}

std::shared_ptr<DVACChannelGroupDefault> DVACChannelGroupDefault::initWithIngestion(
    std::shared_ptr<DVACIngestionProtocol> ingestion, std::shared_ptr<DVACStorage> storage) {
  return std::shared_ptr<DVACChannelGroupDefault>(new DVACChannelGroupDefault(std::move(ingestion), std::move(storage)));
}

DVACChannelGroupDefault::DVACChannelGroupDefault(std::shared_ptr<DVACIngestionProtocol> ingestion,
                                                 std::shared_ptr<DVACStorage> storage)
    : ingestion_(std::move(ingestion)),
      storage_(std::move(storage)),
      logsDispatchQueue_(dispatch::Queue::makeSerial(kDVACLogsDispatchQueueLabel)) {}

// ------------------------------------------------------------------ Units

std::shared_ptr<DVACChannelUnitProtocol> DVACChannelGroupDefault::addChannelUnitWithConfiguration(
    const std::shared_ptr<const DVACChannelUnitConfiguration>& configuration) {
  return addChannelUnitWithConfiguration(configuration, nullptr);
}

std::shared_ptr<DVACChannelUnitProtocol> DVACChannelGroupDefault::addChannelUnitWithConfiguration(
    const std::shared_ptr<const DVACChannelUnitConfiguration>& configuration,
    const std::shared_ptr<DVACIngestionProtocol>& ingestion) {
  if (!configuration) return nullptr;
  auto unit = DVACChannelUnitDefault::initWithIngestion(ingestion ? ingestion : ingestion_, storage_, configuration,
                                                        logsDispatchQueue_);
  unit->addDelegate(shared_from_this());
  // Logs stored by an earlier launch start a flush cycle.
  logsDispatchQueue_->async([unit] { unit->checkPendingLogs(); });
  {
    std::lock_guard lock(channelsMutex_);
    channels_.push_back(unit);
  }
  auto group = shared_from_this();
  for (const auto& delegate : delegatesSnapshot()) delegate->channelGroupDidAddChannelUnit(group, unit);
  return unit;
}

std::shared_ptr<DVACChannelUnitProtocol> DVACChannelGroupDefault::channelUnitForGroupId(
    const std::string& groupId) const {
  std::lock_guard lock(channelsMutex_);
  for (const auto& channel : channels_) {
    if (channel->configuration()->groupId() == groupId) return channel;
  }
  return nullptr;
}

std::vector<std::shared_ptr<DVACLog>> DVACChannelGroupDefault::storedLogsWithGroupId(const std::string& groupId) const {
  // The store serialises its own operations.
  return storage_ ? storage_->logsWithGroupId(groupId) : std::vector<std::shared_ptr<DVACLog>>{};
}

std::vector<std::shared_ptr<DVACChannelUnitProtocol>> DVACChannelGroupDefault::channels() const {
  std::lock_guard lock(channelsMutex_);
  return channels_;
}

// ---------------------------------------------------------------- Storage

void DVACChannelGroupDefault::setMaxStorageSize(int64_t sizeInBytes,
                                                std::function<void(bool success)> completionHandler) {
  auto storage = storage_;
  logsDispatchQueue_->async([storage, sizeInBytes, completionHandler = std::move(completionHandler)] {
    if (storage) {
      storage->setMaxStorageSize(sizeInBytes, [completionHandler](bool success) {
        if (completionHandler) completionHandler(success);
      });
    } else if (completionHandler) {
      completionHandler(false);
    }
  });
}

std::shared_ptr<DVACRedEvududIngestion> DVACChannelGroupDefault::redEvududIngestion() const {
  return std::dynamic_pointer_cast<DVACRedEvududIngestion>(ingestion_);
}

std::optional<std::string> DVACChannelGroupDefault::logUrl() const {
  if (auto ingestion = redEvududIngestion()) return ingestion->baseURL();
  return std::nullopt;
}

void DVACChannelGroupDefault::setLogUrl(const std::string& logUrl) {
  if (auto ingestion = redEvududIngestion()) ingestion->setBaseURL(logUrl);
}

std::optional<std::string> DVACChannelGroupDefault::appSecret() const {
  if (auto ingestion = redEvududIngestion()) return ingestion->appSecret();
  return std::nullopt;
}

void DVACChannelGroupDefault::setAppSecret(const std::optional<std::string>& appSecret) {
  if (auto ingestion = redEvududIngestion()) ingestion->setAppSecret(appSecret);
}

// --------------------------------------------------------------- Delegates

void DVACChannelGroupDefault::addDelegate(const std::shared_ptr<DVACChannelDelegate>& delegate) {
  if (!delegate) return;
  std::lock_guard lock(delegatesMutex_);
  std::erase_if(delegates_, [](const auto& weak) { return weak.expired(); });
  for (const auto& weak : delegates_) {
    if (weak.lock() == delegate) return;
  }
  delegates_.push_back(delegate);
}

void DVACChannelGroupDefault::removeDelegate(const std::shared_ptr<DVACChannelDelegate>& delegate) {
  std::lock_guard lock(delegatesMutex_);
  std::erase_if(delegates_, [&](const auto& weak) {
    auto strong = weak.lock();
    return !strong || strong == delegate;
  });
}

std::vector<std::shared_ptr<DVACChannelDelegate>> DVACChannelGroupDefault::delegatesSnapshot() const {
  std::vector<std::shared_ptr<DVACChannelDelegate>> snapshot;
  std::lock_guard lock(delegatesMutex_);
  for (const auto& weak : delegates_) {
    if (auto strong = weak.lock()) snapshot.push_back(std::move(strong));
  }
  return snapshot;
}

// ------------------------------------------------------ Enable and pause

void DVACChannelGroupDefault::setEnabled(bool isEnabled, bool deleteDataOnDisabled) {
  enabled_ = isEnabled;
  if (ingestion_) ingestion_->setEnabled(isEnabled, deleteDataOnDisabled);
  for (const auto& channel : channels()) channel->setEnabled(isEnabled, deleteDataOnDisabled);
  auto group = shared_from_this();
  for (const auto& delegate : delegatesSnapshot()) delegate->channelDidSetEnabled(group, isEnabled, deleteDataOnDisabled);
}

bool DVACChannelGroupDefault::isEnabled() const { return enabled_; }

void DVACChannelGroupDefault::pauseWithIdentifyingObject(const DVACIdentifyingObject& identifyingObject) {
  if (ingestion_) ingestion_->setEnabled(false, false);
  for (const auto& channel : channels()) channel->pauseWithIdentifyingObject(identifyingObject);
}

void DVACChannelGroupDefault::resumeWithIdentifyingObject(const DVACIdentifyingObject& identifyingObject) {
  if (ingestion_) ingestion_->setEnabled(true, false);
  for (const auto& channel : channels()) channel->resumeWithIdentifyingObject(identifyingObject);
}

// ------------------------------------------------------------- Forwarding

void DVACChannelGroupDefault::channelPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                const std::shared_ptr<DVACLog>& log) {
  for (const auto& delegate : delegatesSnapshot()) delegate->channelPrepareLog(channel, log);
}

void DVACChannelGroupDefault::channelDidPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                   const std::shared_ptr<DVACLog>& log, const std::string& internalId,
                                                   DVACLogFlags flags) {
  for (const auto& delegate : delegatesSnapshot()) delegate->channelDidPrepareLog(channel, log, internalId, flags);
}

void DVACChannelGroupDefault::channelDidCompleteEnqueueingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                              const std::shared_ptr<DVACLog>& log,
                                                              const std::string& internalId) {
  for (const auto& delegate : delegatesSnapshot()) delegate->channelDidCompleteEnqueueingLog(channel, log, internalId);
}

void DVACChannelGroupDefault::channelDidCompleteEnqueueingLogWithStoreResult(
    const std::shared_ptr<DVACChannelProtocol>& channel, const std::shared_ptr<DVACLog>& log,
    const std::string& internalId, DVACLogStoreResult result) {
  for (const auto& delegate : delegatesSnapshot()) {
    delegate->channelDidCompleteEnqueueingLogWithStoreResult(channel, log, internalId, result);
  }
}

void DVACChannelGroupDefault::channelWillSendLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                 const std::shared_ptr<DVACLog>& log) {
  for (const auto& delegate : delegatesSnapshot()) delegate->channelWillSendLog(channel, log);
}

void DVACChannelGroupDefault::channelDidSucceedSendingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                          const std::shared_ptr<DVACLog>& log) {
  for (const auto& delegate : delegatesSnapshot()) delegate->channelDidSucceedSendingLog(channel, log);
}

void DVACChannelGroupDefault::channelDidFailSendingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                       const std::shared_ptr<DVACLog>& log,
                                                       const std::optional<ns::Error>& error) {
  for (const auto& delegate : delegatesSnapshot()) delegate->channelDidFailSendingLog(channel, log, error);
}

void DVACChannelGroupDefault::channelDidSetEnabled(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                   bool isEnabled, bool deletedData) {
  for (const auto& delegate : delegatesSnapshot()) delegate->channelDidSetEnabled(channel, isEnabled, deletedData);
}

void DVACChannelGroupDefault::channelDidPauseWithIdentifyingObject(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                                   const DVACIdentifyingObject& identifyingObject) {
  for (const auto& delegate : delegatesSnapshot()) {
    delegate->channelDidPauseWithIdentifyingObject(channel, identifyingObject);
  }
}

void DVACChannelGroupDefault::channelDidResumeWithIdentifyingObject(
    const std::shared_ptr<DVACChannelProtocol>& channel, const DVACIdentifyingObject& identifyingObject) {
  for (const auto& delegate : delegatesSnapshot()) {
    delegate->channelDidResumeWithIdentifyingObject(channel, identifyingObject);
  }
}

bool DVACChannelGroupDefault::channelUnitShouldFilterLog(const std::shared_ptr<DVACChannelUnitProtocol>& channelUnit,
                                                         const std::shared_ptr<DVACLog>& log) {
  for (const auto& delegate : delegatesSnapshot()) {
    if (delegate->channelUnitShouldFilterLog(channelUnit, log)) return true;
  }
  return false;
}
