#pragma once
// A channel unit: the per-group pipeline from the services to the ingestion.
//
// Each log is stamped, validated and prepared on the caller's thread, then
// filtered and stored on the group's serial logs queue. The unit counts what
// it stored and flushes at once when a full batch waits (default interval
// only) or after its flush interval: it loads up to a batch from the store,
// hands it to the ingestion and, on the answer, deletes it (success), keeps
// it (recoverable failure) or switches itself off deleting its data (any
// other failure). At most pendingBatchesLimit batches are in flight.
//
// Every field but the delegate list is read and written on the logs queue
// only; the accessors below are meant to be called there too.

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACStorage.h"
#include "platform/dispatch/Dispatch.h"

class DVACLogContainer;

class DVACChannelUnitDefault : public DVACChannelUnitProtocol,
                               public std::enable_shared_from_this<DVACChannelUnitDefault> {
 public:
  // The unit starts counting from the store's number of logs (of every
  // group), so logs of an earlier launch count toward the first flush.
  static std::shared_ptr<DVACChannelUnitDefault> initWithIngestion(
      std::shared_ptr<DVACIngestionProtocol> ingestion, std::shared_ptr<DVACStorage> storage,
      std::shared_ptr<const DVACChannelUnitConfiguration> configuration,
      std::shared_ptr<dispatch::Queue> logsDispatchQueue);

  ~DVACChannelUnitDefault() override;
  DVACChannelUnitDefault(const DVACChannelUnitDefault&) = delete;
  DVACChannelUnitDefault& operator=(const DVACChannelUnitDefault&) = delete;

  // DVACChannelProtocol (asynchronous on the logs queue, except the delegate
  // list, which is changed at once).
  void addDelegate(const std::shared_ptr<DVACChannelDelegate>& delegate) override;
  void removeDelegate(const std::shared_ptr<DVACChannelDelegate>& delegate) override;
  void pauseWithIdentifyingObject(const DVACIdentifyingObject& identifyingObject) override;
  void resumeWithIdentifyingObject(const DVACIdentifyingObject& identifyingObject) override;
  void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;
  bool isEnabled() const override;

  // DVACChannelUnitProtocol
  void enqueueItem(const std::shared_ptr<DVACLog>& item, DVACLogFlags flags) override;
  void pauseSendingLogsWithToken(const std::string& token) override;
  void resumeSendingLogsWithToken(const std::string& token) override;
  std::shared_ptr<const DVACChannelUnitConfiguration> configuration() const override { return configuration_; }
  std::shared_ptr<dispatch::Queue> logsDispatchQueue() const override { return logsDispatchQueue_; }

  // ---- On the logs queue --------------------------------------------------
  void checkPendingLogs();
  void flushQueue();
  void sendLogContainer(const std::shared_ptr<DVACLogContainer>& container);
  void startTimer(uint64_t seconds);
  void resetTimer();
  uint64_t resolveFlushInterval();
  // "ChannelStartTimer:<group id>"
  std::string oldestPendingLogTimestampKey() const;
  void pauseWithIdentifyingObjectSync(const DVACIdentifyingObject& identifyingObject);
  void resumeWithIdentifyingObjectSync(const DVACIdentifyingObject& identifyingObject);
  void deleteAllLogsWithError(const ns::Error& error);
  // Every log of the group ends with a failure: those in flight (already
  // told "will send") and those still stored.
  void deleteAllLogsWithErrorSync(const ns::Error& error);
  // "Will send" then "did fail" to every delegate.
  void notifyFailureBeforeSendingForItem(const std::shared_ptr<DVACLog>& item, const ns::Error& error);

  bool isPaused() const { return paused_; }
  bool discardLogs() const { return discardLogs_; }
  bool availableBatchFromStorage() const { return availableBatchFromStorage_; }
  bool pendingBatchQueueFull() const { return pendingBatchQueueFull_; }
  uint64_t itemsCount() const { return itemsCount_; }
  const std::vector<std::string>& pendingBatchIds() const { return pendingBatchIds_; }
  const std::set<std::string>& pausedTargetKeys() const { return pausedTargetKeys_; }
  // The flush timer while one is armed (a cancelled one stays until the next).
  const std::shared_ptr<dispatch::TimerSource>& timerSource() const { return timerSource_; }
  std::shared_ptr<DVACIngestionProtocol> ingestion() const { return ingestion_; }
  std::shared_ptr<DVACStorage> storage() const { return storage_; }

  // A snapshot taken under the list's lock; callbacks run outside it.
  std::vector<std::shared_ptr<DVACChannelDelegate>> delegatesSnapshot() const;

 private:
  DVACChannelUnitDefault(std::shared_ptr<DVACIngestionProtocol> ingestion, std::shared_ptr<DVACStorage> storage,
                         std::shared_ptr<const DVACChannelUnitConfiguration> configuration,
                         std::shared_ptr<dispatch::Queue> logsDispatchQueue);

  void setEnabledSync(bool isEnabled, bool deleteDataOnDisabled);
  void handleSendResult(const std::string& batchId, int64_t statusCode, const std::optional<ns::Error>& error);
  std::shared_ptr<DVACChannelProtocol> self();
  ns::Date now() const;

  bool availableBatchFromStorage_ = false;
  bool pendingBatchQueueFull_ = false;
  // Also read off the queue, by isEnabled().
  std::atomic<bool> enabled_{true};
  bool paused_ = false;
  bool discardLogs_ = false;
  const std::shared_ptr<const DVACChannelUnitConfiguration> configuration_;
  const std::shared_ptr<dispatch::Queue> logsDispatchQueue_;
  mutable std::mutex delegatesMutex_;
  std::vector<std::weak_ptr<DVACChannelDelegate>> delegates_;
  const std::shared_ptr<DVACIngestionProtocol> ingestion_;
  const std::shared_ptr<DVACStorage> storage_;
  std::shared_ptr<dispatch::TimerSource> timerSource_;
  uint64_t itemsCount_ = 0;
  std::vector<std::string> pendingBatchIds_;
  // The logs of each batch in flight, until its answer has been reported.
  std::map<std::string, std::vector<std::shared_ptr<DVACLog>>> inFlightLogs_;
  std::vector<std::weak_ptr<const void>> pausedIdentifyingObjects_;
  std::set<std::string> pausedTargetKeys_;
};
