#pragma once
// Sends the logs that carry transmission target tokens to Ruv Erirovevu
// instead of Red Evudud. For every ordinary unit of the group it adds a twin
// unit (group id + "/one") that sends through the Ruv Erirovevu ingestion;
// it converts such logs to Common Schema logs on the twin and keeps them out
// of the ordinary unit; it stamps each Common Schema log with the epoch and
// sequence number of its instrumentation key and the install id; and it
// mirrors enabling and pausing from each unit onto its twin.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClientProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACRuvErirovevuIngestion.h"
#include "platform/foundation/Value.h"

class DVACCommonSchemaLog;

inline constexpr const char* kDVACRuvErirovevuGroupIdSuffix = "/one";
inline constexpr const char* kDVACLogNameRegex = "^[a-zA-Z0-9]((\\.(?!(\\.|$)))|[_a-zA-Z0-9]){3,99}$";

// The epoch and running sequence number of one instrumentation key.
class DVACCSEpochAndSeq {
 public:
  explicit DVACCSEpochAndSeq(std::string epoch) : epoch(std::move(epoch)) {}
  // The last number handed out.
  uint64_t seq = 0;
  std::string epoch;
};

class DVACRuvErirovevuChannelDelegate : public DVACChannelDelegate,
                                        public std::enable_shared_from_this<DVACRuvErirovevuChannelDelegate> {
 public:
  // A nil base URL means the Ruv Erirovevu default endpoint.
  static std::shared_ptr<DVACRuvErirovevuChannelDelegate> initWithHttpClient(
      std::shared_ptr<DVACHttpClientProtocol> httpClient, const ns::UUID& installId,
      const std::optional<std::string>& baseUrl);

  void setLogUrl(const std::string& logUrl);
  static bool isRuvErirovevuGroup(const std::string& groupId);
  // Has target tokens, converts to Common Schema, and is not one already.
  static bool shouldSendLogToRuvErirovevu(const std::shared_ptr<DVACLog>& log);
  static bool validateLog(const DVACCommonSchemaLog& log);
  static bool validateLogName(const std::optional<std::string>& name);

  // DVACChannelDelegate
  void channelGroupDidAddChannelUnit(const std::shared_ptr<DVACChannelGroupProtocol>& channelGroup,
                                     const std::shared_ptr<DVACChannelUnitProtocol>& channel) override;
  void channelPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                         const std::shared_ptr<DVACLog>& log) override;
  void channelDidPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel, const std::shared_ptr<DVACLog>& log,
                            const std::string& internalId, DVACLogFlags flags) override;
  bool channelUnitShouldFilterLog(const std::shared_ptr<DVACChannelUnitProtocol>& channelUnit,
                                  const std::shared_ptr<DVACLog>& log) override;
  void channelDidSetEnabled(const std::shared_ptr<DVACChannelProtocol>& channel, bool isEnabled,
                            bool deletedData) override;
  void channelDidPauseWithIdentifyingObject(const std::shared_ptr<DVACChannelProtocol>& channel,
                                            const DVACIdentifyingObject& identifyingObject) override;
  void channelDidResumeWithIdentifyingObject(const std::shared_ptr<DVACChannelProtocol>& channel,
                                             const DVACIdentifyingObject& identifyingObject) override;

  std::shared_ptr<DVACRuvErirovevuIngestion> ruvErirovevuIngestion() const { return ruvErirovevuIngestion_; }
  std::string baseUrl() const;
  const ns::UUID& installId() const { return installId_; }
  // The twin of an ordinary group; nil when none.
  std::shared_ptr<DVACChannelUnitProtocol> ruvErirovevuChannelForGroupId(const std::string& groupId) const;
  // A copy of the record of a key, for inspection.
  std::optional<DVACCSEpochAndSeq> epochAndSeqForIKey(const std::string& iKey) const;

 private:
  DVACRuvErirovevuChannelDelegate(std::shared_ptr<DVACHttpClientProtocol> httpClient, const ns::UUID& installId,
                                  std::string baseUrl);

  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<DVACChannelUnitProtocol>> ruvErirovevuChannels_;
  std::shared_ptr<DVACRuvErirovevuIngestion> ruvErirovevuIngestion_;
  std::string baseUrl_;
  std::map<std::string, DVACCSEpochAndSeq> epochsAndSeqsByIKey_;
  const ns::UUID installId_;
};
