#pragma once
// The SDK's one channel group: the serial logs queue
// "com.diruriduv.redevudud.ChannelGroupQueue" shared by every unit, the log
// store, the Red Evudud ingestion, the units and the channel delegates. It
// is the delegate of each of its units and passes their callbacks on to its
// own delegates, and it applies enabling and pausing to the ingestion and to
// every unit at once.

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitDefault.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClientProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACStorage.h"
#include "platform/dispatch/Dispatch.h"

class DVACRedEvududIngestion;

inline constexpr const char* kDVACLogsDispatchQueueLabel = "com.diruriduv.redevudud.ChannelGroupQueue";

class DVACChannelGroupDefault : public DVACChannelGroupProtocol,
                                public DVACChannelDelegate,
                                public std::enable_shared_from_this<DVACChannelGroupDefault> {
 public:
  // A Red Evudud ingestion on that client, sending to the log URL (nil: the
  // default endpoint) with the install id; the store on "Logs.sqlite".
  static std::shared_ptr<DVACChannelGroupDefault> initWithHttpClient(
      std::shared_ptr<DVACHttpClientProtocol> httpClient, const ns::UUID& installId,
      const std::optional<std::string>& logUrl);
  // The store on "Logs.sqlite"; the ingestion may be nil.
  static std::shared_ptr<DVACChannelGroupDefault> initWithIngestion(std::shared_ptr<DVACIngestionProtocol> ingestion);
  // With a store of the caller's (tests).
  static std::shared_ptr<DVACChannelGroupDefault> initWithIngestion(std::shared_ptr<DVACIngestionProtocol> ingestion,
                                                                    std::shared_ptr<DVACStorage> storage);

  ~DVACChannelGroupDefault() override = default;
  DVACChannelGroupDefault(const DVACChannelGroupDefault&) = delete;
  DVACChannelGroupDefault& operator=(const DVACChannelGroupDefault&) = delete;

  // DVACChannelGroupProtocol
  std::shared_ptr<DVACChannelUnitProtocol> addChannelUnitWithConfiguration(
      const std::shared_ptr<const DVACChannelUnitConfiguration>& configuration) override;
  std::shared_ptr<DVACChannelUnitProtocol> addChannelUnitWithConfiguration(
      const std::shared_ptr<const DVACChannelUnitConfiguration>& configuration,
      const std::shared_ptr<DVACIngestionProtocol>& ingestion) override;
  std::shared_ptr<DVACChannelUnitProtocol> channelUnitForGroupId(const std::string& groupId) const override;
  std::vector<std::shared_ptr<DVACLog>> storedLogsWithGroupId(const std::string& groupId) const override;
  void setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool success)> completionHandler) override;
  std::optional<std::string> logUrl() const override;
  void setLogUrl(const std::string& logUrl) override;
  std::optional<std::string> appSecret() const override;
  void setAppSecret(const std::optional<std::string>& appSecret) override;

  // DVACChannelProtocol
  void addDelegate(const std::shared_ptr<DVACChannelDelegate>& delegate) override;
  void removeDelegate(const std::shared_ptr<DVACChannelDelegate>& delegate) override;
  void pauseWithIdentifyingObject(const DVACIdentifyingObject& identifyingObject) override;
  void resumeWithIdentifyingObject(const DVACIdentifyingObject& identifyingObject) override;
  // The ingestion first, then every unit (each on the queue), then the
  // group's delegates with the group as the channel.
  void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;
  bool isEnabled() const override;

  // DVACChannelDelegate: the units' callbacks, passed on unchanged.
  void channelPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                         const std::shared_ptr<DVACLog>& log) override;
  void channelDidPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel, const std::shared_ptr<DVACLog>& log,
                            const std::string& internalId, DVACLogFlags flags) override;
  void channelDidCompleteEnqueueingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                       const std::shared_ptr<DVACLog>& log, const std::string& internalId) override;
  void channelDidCompleteEnqueueingLogWithStoreResult(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                      const std::shared_ptr<DVACLog>& log,
                                                      const std::string& internalId,
                                                      DVACLogStoreResult result) override;
  void channelWillSendLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                          const std::shared_ptr<DVACLog>& log) override;
  void channelDidSucceedSendingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                   const std::shared_ptr<DVACLog>& log) override;
  void channelDidFailSendingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                const std::shared_ptr<DVACLog>& log, const std::optional<ns::Error>& error) override;
  void channelDidSetEnabled(const std::shared_ptr<DVACChannelProtocol>& channel, bool isEnabled,
                            bool deletedData) override;
  void channelDidPauseWithIdentifyingObject(const std::shared_ptr<DVACChannelProtocol>& channel,
                                            const DVACIdentifyingObject& identifyingObject) override;
  void channelDidResumeWithIdentifyingObject(const std::shared_ptr<DVACChannelProtocol>& channel,
                                             const DVACIdentifyingObject& identifyingObject) override;
  // Asks the delegates in turn until one says yes.
  bool channelUnitShouldFilterLog(const std::shared_ptr<DVACChannelUnitProtocol>& channelUnit,
                                  const std::shared_ptr<DVACLog>& log) override;

  std::shared_ptr<DVACIngestionProtocol> ingestion() const { return ingestion_; }
  // The ingestion when it is the Red Evudud one.
  std::shared_ptr<DVACRedEvududIngestion> redEvududIngestion() const;
  std::shared_ptr<DVACStorage> storage() const { return storage_; }
  std::shared_ptr<dispatch::Queue> logsDispatchQueue() const { return logsDispatchQueue_; }
  std::vector<std::shared_ptr<DVACChannelUnitProtocol>> channels() const;
  std::vector<std::shared_ptr<DVACChannelDelegate>> delegatesSnapshot() const;

 private:
  DVACChannelGroupDefault(std::shared_ptr<DVACIngestionProtocol> ingestion, std::shared_ptr<DVACStorage> storage);

  mutable std::mutex delegatesMutex_;
  std::vector<std::weak_ptr<DVACChannelDelegate>> delegates_;
  const std::shared_ptr<DVACIngestionProtocol> ingestion_;
  const std::shared_ptr<DVACStorage> storage_;
  const std::shared_ptr<dispatch::Queue> logsDispatchQueue_;
  mutable std::mutex channelsMutex_;
  std::vector<std::shared_ptr<DVACChannelUnitProtocol>> channels_;
  std::atomic<bool> enabled_{true};
};
