#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACRuvErirovevuChannelDelegate.h"


#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCommonSchemaLog.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"

namespace {

constexpr const char* kLogValidationFailed = "Log validation failed.";

bool isAlphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// What kDVACLogNameRegex accepts: 4 to 100 characters, the first a letter
// or digit, the rest letters, digits, underscores and single dots, never a
// dot at the end.
bool matchesLogNamePattern(const std::string& name) {
  if (name.size() < 4 || name.size() > 100 || !isAlphanumeric(name[0])) return false;
  for (size_t i = 1; i < name.size(); ++i) {
    const char c = name[i];
    if (isAlphanumeric(c) || c == '_') continue;
    if (c == '.' && i + 1 < name.size() && name[i + 1] != '.') continue;
    return false;
  }
  return true;
}

std::shared_ptr<DVACChannelUnitProtocol> asUnit(const std::shared_ptr<DVACChannelProtocol>& channel) {
  return std::dynamic_pointer_cast<DVACChannelUnitProtocol>(channel);
}

std::string groupIdOf(const std::shared_ptr<DVACChannelUnitProtocol>& unit) {
  auto configuration = unit ? unit->configuration() : nullptr;
  return configuration ? configuration->groupId() : std::string();
}

}  // namespace

std::shared_ptr<DVACRuvErirovevuChannelDelegate> DVACRuvErirovevuChannelDelegate::initWithHttpClient(
    std::shared_ptr<DVACHttpClientProtocol> httpClient, const ns::UUID& installId,
    const std::optional<std::string>& baseUrl) {
  return std::shared_ptr<DVACRuvErirovevuChannelDelegate>(new DVACRuvErirovevuChannelDelegate(
      std::move(httpClient), installId, baseUrl.value_or(kDVACRuvErirovevuDefaultBaseUrl)));
}

DVACRuvErirovevuChannelDelegate::DVACRuvErirovevuChannelDelegate(std::shared_ptr<DVACHttpClientProtocol> httpClient,
                                                                 const ns::UUID& installId, std::string baseUrl)
    : ruvErirovevuIngestion_(DVACRuvErirovevuIngestion::initWithHttpClient(std::move(httpClient), baseUrl)),
      baseUrl_(std::move(baseUrl)),
      installId_(installId) {}

void DVACRuvErirovevuChannelDelegate::setLogUrl(const std::string& logUrl) {
  {
    std::lock_guard lock(mutex_);
    baseUrl_ = logUrl;
  }
  ruvErirovevuIngestion_->setBaseURL(logUrl);
}

std::string DVACRuvErirovevuChannelDelegate::baseUrl() const {
  std::lock_guard lock(mutex_);
  return baseUrl_;
}

bool DVACRuvErirovevuChannelDelegate::isRuvErirovevuGroup(const std::string& groupId) {
  return groupId.ends_with(kDVACRuvErirovevuGroupIdSuffix);
}

bool DVACRuvErirovevuChannelDelegate::shouldSendLogToRuvErirovevu(const std::shared_ptr<DVACLog>& log) {
  if (!log) return false;
  auto tokens = log->transmissionTargetTokens();
  if (!tokens || tokens->empty()) return false;
  return std::dynamic_pointer_cast<DVACAbstractLog>(log) && !std::dynamic_pointer_cast<DVACCommonSchemaLog>(log);
}

bool DVACRuvErirovevuChannelDelegate::validateLog(const DVACCommonSchemaLog& log) {
  return validateLogName(log.name());
}

bool DVACRuvErirovevuChannelDelegate::validateLogName(const std::optional<std::string>& name) {
  if (!name || name->empty()) {
    DVACLogError(kDVACLogTag, std::string(kLogValidationFailed) + " Name must not be nil or empty.");
    return false;
  }
  if (!matchesLogNamePattern(*name)) {
    DVACLogError(kDVACLogTag, std::string(kLogValidationFailed) + " Name must match '" + kDVACLogNameRegex +
                                  "' but was '" + *name + "'");
    return false;
  }
  return true;
}

std::shared_ptr<DVACChannelUnitProtocol> DVACRuvErirovevuChannelDelegate::ruvErirovevuChannelForGroupId(
    const std::string& groupId) const {
  std::lock_guard lock(mutex_);
  auto found = ruvErirovevuChannels_.find(groupId);
  return found == ruvErirovevuChannels_.end() ? nullptr : found->second;
}

std::optional<DVACCSEpochAndSeq> DVACRuvErirovevuChannelDelegate::epochAndSeqForIKey(const std::string& iKey) const {
  std::lock_guard lock(mutex_);
  auto found = epochsAndSeqsByIKey_.find(iKey);
  if (found == epochsAndSeqsByIKey_.end()) return std::nullopt;
  return found->second;
}

// -------------------------------------------------------------- Callbacks

void DVACRuvErirovevuChannelDelegate::channelGroupDidAddChannelUnit(
    const std::shared_ptr<DVACChannelGroupProtocol>& channelGroup,
    const std::shared_ptr<DVACChannelUnitProtocol>& channel) {
  const std::string groupId = groupIdOf(channel);
  // Also what keeps adding the twin from adding a twin of its own.
  if (!channelGroup || groupId.empty() || isRuvErirovevuGroup(groupId)) return;
  auto configuration = DVACChannelUnitConfiguration::initDefaultConfigurationWithGroupId(
      groupId + kDVACRuvErirovevuGroupIdSuffix, channel->configuration()->flushInterval());
  auto twin = channelGroup->addChannelUnitWithConfiguration(configuration, ruvErirovevuIngestion_);
  std::lock_guard lock(mutex_);
  ruvErirovevuChannels_[groupId] = twin;
}

void DVACRuvErirovevuChannelDelegate::channelPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                        const std::shared_ptr<DVACLog>& log) {
  auto csLog = std::dynamic_pointer_cast<DVACCommonSchemaLog>(log);
  if (!csLog) return;
  // Stamped once, in the unit that sends it: a Common Schema log enqueued on
  // an ordinary unit passes through here again on its way to the twin.
  if (!isRuvErirovevuGroup(groupIdOf(asUnit(channel)))) return;
  if (!csLog->iKey()) {
    DVACLogWarning(kDVACLogTag, "Common Schema log without instrumentation key; no epoch and sequence number.");
    return;
  }
  const std::string& iKey = *csLog->iKey();
  std::string epoch;
  uint64_t seq = 0;
  {
    std::lock_guard lock(mutex_);
    auto found = epochsAndSeqsByIKey_.find(iKey);
    if (found == epochsAndSeqsByIKey_.end()) {
      found = epochsAndSeqsByIKey_.emplace(iKey, DVACCSEpochAndSeq(ns::UUID::random().UUIDString())).first;
    }
    seq = ++found->second.seq;
    epoch = found->second.epoch;
  }
  if (!csLog->ext()) csLog->setExt(std::make_shared<DVACCSExtensions>());
  if (!csLog->ext()->sdkExt) csLog->ext()->sdkExt = std::make_shared<DVACSDKExtension>();
  auto& sdkExt = *csLog->ext()->sdkExt;
  sdkExt.epoch = epoch;
  sdkExt.seq = seq;
  sdkExt.installId = installId_;
}

void DVACRuvErirovevuChannelDelegate::channelDidPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                           const std::shared_ptr<DVACLog>& log,
                                                           const std::string& /*internalId*/, DVACLogFlags flags) {
  auto unit = asUnit(channel);
  if (!unit || !log) return;
  const std::string groupId = groupIdOf(unit);
  if (std::dynamic_pointer_cast<DVACCommonSchemaLog>(log)) {
    if (isRuvErirovevuGroup(groupId)) return;
    if (auto twin = ruvErirovevuChannelForGroupId(groupId)) twin->enqueueItem(log, flags);
    return;
  }
  if (!shouldSendLogToRuvErirovevu(log)) return;
  auto twin = ruvErirovevuChannelForGroupId(groupId);
  if (!twin) return;
  auto abstractLog = std::dynamic_pointer_cast<DVACAbstractLog>(log);
  auto converted = abstractLog->toCommonSchemaLogsWithFlags(flags);
  if (!converted) return;
  for (const auto& csLog : *converted) twin->enqueueItem(csLog, flags);
}

bool DVACRuvErirovevuChannelDelegate::channelUnitShouldFilterLog(
    const std::shared_ptr<DVACChannelUnitProtocol>& channelUnit, const std::shared_ptr<DVACLog>& log) {
  if (!log) return false;
  if (auto csLog = std::dynamic_pointer_cast<DVACCommonSchemaLog>(log)) {
    if (isRuvErirovevuGroup(groupIdOf(channelUnit))) return !validateLog(*csLog);
    return true;
  }
  auto tokens = log->transmissionTargetTokens();
  return tokens && !tokens->empty();
}

void DVACRuvErirovevuChannelDelegate::channelDidSetEnabled(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                           bool isEnabled, bool deletedData) {
  if (auto unit = asUnit(channel)) {
    const std::string groupId = groupIdOf(unit);
    if (isRuvErirovevuGroup(groupId)) return;
    if (auto twin = ruvErirovevuChannelForGroupId(groupId)) twin->setEnabled(isEnabled, deletedData);
    return;
  }
  if (std::dynamic_pointer_cast<DVACChannelGroupProtocol>(channel) && !isEnabled && deletedData) {
    std::lock_guard lock(mutex_);
    epochsAndSeqsByIKey_.clear();
  }
}

void DVACRuvErirovevuChannelDelegate::channelDidPauseWithIdentifyingObject(
    const std::shared_ptr<DVACChannelProtocol>& channel, const DVACIdentifyingObject& identifyingObject) {
  if (auto unit = asUnit(channel)) {
    if (auto twin = ruvErirovevuChannelForGroupId(groupIdOf(unit))) twin->pauseWithIdentifyingObject(identifyingObject);
  }
}

void DVACRuvErirovevuChannelDelegate::channelDidResumeWithIdentifyingObject(
    const std::shared_ptr<DVACChannelProtocol>& channel, const DVACIdentifyingObject& identifyingObject) {
  if (auto unit = asUnit(channel)) {
    if (auto twin = ruvErirovevuChannelForGroupId(groupIdOf(unit))) {
      twin->resumeWithIdentifyingObject(identifyingObject);
    }
  }
}
