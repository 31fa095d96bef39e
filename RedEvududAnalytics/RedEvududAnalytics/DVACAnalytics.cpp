#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"

#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionContext.h"
#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdContext.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACRuvErirovevuChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACDispatcherUtil.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACSharedSlot.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Internals/DVACAnalyticsCategory.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Internals/Session/DVACSessionTracker.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventProperties.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACPageLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/TransmissionTarget/DVACAnalyticsTransmissionTarget.h"

namespace {

// The class object. Its switch is the base's, but it lands on the service's
// own setInstanceEnabled so the transmission targets follow.
class DVACAnalyticsClass final : public DVACServiceCommon {
 public:
  std::string className() const override { return DVACAnalytics::kClassName; }
  std::shared_ptr<DVACServiceAbstract> sharedInstance() const override { return DVACAnalytics::sharedInstance(); }
  std::string serviceName() const override { return DVACAnalytics::serviceName(); }
  std::string logTag() const override { return DVACAnalytics::logTag(); }

  void setEnabled(bool isEnabled) const override {
    auto analytics = DVACAnalytics::sharedInstance();
    std::lock_guard lock(analytics->synchronizationLock());
    if (!analytics->canBeUsed()) return;
    if (!DVACRedEvudud::isEnabled() && !DVACRedEvudud::sharedInstance()->isEnabledStateUpdating()) {
      DVACLogError(kDVACLogTag,
                   "The SDK is disabled. Re-enable the whole SDK from RedEvudud first before enabling Analytics "
                   "service.");
      return;
    }
    analytics->setInstanceEnabled(isEnabled);
  }
};

std::optional<ns::Value> propertiesValue(const std::optional<DVACPropertiesDictionary>& properties) {
  if (!properties) return std::nullopt;
  ns::Dictionary dict;
  for (const auto& [key, value] : *properties) dict.emplace(key, ns::Value(value));
  return ns::Value(std::move(dict));
}

std::string criticalGroupId() { return std::string(kDVACAnalyticsGroupId) + "_" + "critical"; }

}  // namespace

// ------------------------------------------------------------ Construction

std::shared_ptr<DVACAnalytics> DVACAnalytics::sharedInstance() {
  std::lock_guard lock(DVACSharedSlot<DVACAnalytics>::mutex());
  auto& slot = DVACSharedSlot<DVACAnalytics>::instance();
  if (!slot) {
    slot = std::shared_ptr<DVACAnalytics>(new DVACAnalytics());
    slot->init();
  }
  return slot;
}

void DVACAnalytics::resetSharedInstance() {
  std::shared_ptr<DVACAnalytics> old;
  {
    std::lock_guard lock(DVACSharedSlot<DVACAnalytics>::mutex());
    old = std::exchange(DVACSharedSlot<DVACAnalytics>::instance(), nullptr);
  }
  if (old) old->sessionTracker()->stop();
}

DVACServiceClass DVACAnalytics::serviceClass() {
  static const DVACServiceClass serviceClass = std::make_shared<DVACAnalyticsClass>();
  return serviceClass;
}

DVACAnalytics::DVACAnalytics() = default;
DVACAnalytics::~DVACAnalytics() = default;

void DVACAnalytics::init() {
  DVACRedEvududUserDefaults::shared()->migrateKeys(DVACRedEvududUserDefaults::analyticsMigrationTable(),
                                                   kDVACAnalyticsServiceName);
  DVACUtility::addMigrationClasses({
      {"DVSessionHistoryInfo", "DVACSessionHistoryInfo"},
      {"DVAbstractLog", "DVACAbstractLog"},
      {"DVEventLog", "DVACEventLog"},
      {"DVPageLog", "DVACPageLog"},
      {"DVEventProperties", "DVACEventProperties"},
      {"DVLogWithNameAndProperties", "DVACLogWithNameAndProperties"},
      {"DVBooleanTypedProperty", "DVACBooleanTypedProperty"},
      {"DVDateTimeTypedProperty", "DVACDateTimeTypedProperty"},
      {"DVDoubleTypedProperty", "DVACDoubleTypedProperty"},
      {"DVLongTypedProperty", "DVACLongTypedProperty"},
      {"DVStringTypedProperty", "DVACStringTypedProperty"},
      {"DVTypedProperty", "DVACTypedProperty"},
      {"DVStartSessionLog", "DVACStartSessionLog"},
  });
  sessionTracker_ = DVACSessionTracker::make();
  sessionTracker_->setDelegate(self());
}

std::shared_ptr<DVACAnalytics> DVACAnalytics::self() {
  return std::static_pointer_cast<DVACAnalytics>(shared_from_this());
}

// ------------------------------------------------------------ Class level

void DVACAnalytics::setEnabled(bool isEnabled) { serviceClass()->setEnabled(isEnabled); }

void DVACAnalytics::trackEvent(const std::optional<std::string>& eventName) {
  trackEvent(eventName, std::optional<DVACPropertiesDictionary>());
}

void DVACAnalytics::trackEvent(const std::optional<std::string>& eventName,
                               const std::optional<DVACPropertiesDictionary>& properties) {
  trackEvent(eventName, properties, DVACLogFlagsNormal);
}

void DVACAnalytics::trackEvent(const std::optional<std::string>& eventName,
                               const std::optional<DVACPropertiesDictionary>& properties, DVACLogFlags flags) {
  trackEvent(eventName, properties, nullptr, flags);
}

void DVACAnalytics::trackEvent(const std::optional<std::string>& eventName,
                               const std::shared_ptr<DVACEventProperties>& typedProperties) {
  trackEvent(eventName, typedProperties, DVACLogFlagsNormal);
}

void DVACAnalytics::trackEvent(const std::optional<std::string>& eventName,
                               const std::shared_ptr<DVACEventProperties>& typedProperties, DVACLogFlags flags) {
  trackEvent(eventName, typedProperties, nullptr, flags);
}

void DVACAnalytics::trackEvent(const std::optional<std::string>& eventName,
                               const std::optional<DVACPropertiesDictionary>& properties,
                               const std::shared_ptr<DVACAnalyticsTransmissionTarget>& transmissionTarget,
                               DVACLogFlags flags) {
  sharedInstance()->trackInstanceEvent(eventName, propertiesValue(properties), transmissionTarget, flags);
}

void DVACAnalytics::trackEvent(const std::optional<std::string>& eventName,
                               const std::shared_ptr<DVACEventProperties>& typedProperties,
                               const std::shared_ptr<DVACAnalyticsTransmissionTarget>& transmissionTarget,
                               DVACLogFlags flags) {
  sharedInstance()->trackInstanceEvent(eventName, typedProperties, transmissionTarget, flags);
}

void DVACAnalytics::trackPage(const std::optional<std::string>& pageName) { trackPage(pageName, std::nullopt); }

void DVACAnalytics::trackPage(const std::optional<std::string>& pageName,
                              const std::optional<DVACPropertiesDictionary>& properties) {
  sharedInstance()->trackInstancePage(pageName, propertiesValue(properties));
}

void DVACAnalytics::pause() { sharedInstance()->pauseInstance(); }
void DVACAnalytics::resume() { sharedInstance()->resumeInstance(); }
void DVACAnalytics::startSession() { sharedInstance()->sessionTracker()->startSession(); }
void DVACAnalytics::enableManualSessionTracker() { sharedInstance()->sessionTracker()->enableManualSessionTracker(); }
void DVACAnalytics::setAutoPageTrackingEnabled(bool isEnabled) {
  sharedInstance()->setInstanceAutoPageTrackingEnabled(isEnabled);
}
bool DVACAnalytics::isAutoPageTrackingEnabled() { return sharedInstance()->autoPageTrackingEnabled(); }
uint64_t DVACAnalytics::transmissionInterval() { return sharedInstance()->flushInterval(); }
void DVACAnalytics::setTransmissionInterval(uint32_t interval) {
  sharedInstance()->setInstanceTransmissionInterval(interval);
}
std::shared_ptr<DVACAnalyticsTransmissionTarget> DVACAnalytics::transmissionTargetForToken(const std::string& token) {
  return sharedInstance()->instanceTransmissionTargetForToken(token);
}
void DVACAnalytics::pauseTransmissionTargetForToken(const std::string& token) {
  sharedInstance()->pauseInstanceTransmissionTargetForToken(token);
}
void DVACAnalytics::resumeTransmissionTargetForToken(const std::string& token) {
  sharedInstance()->resumeInstanceTransmissionTargetForToken(token);
}
void DVACAnalytics::setDelegate(std::shared_ptr<DVACAnalyticsDelegate> delegate) {
  sharedInstance()->setInstanceDelegate(std::move(delegate));
}

// ------------------------------------------------------------------ Start

std::shared_ptr<const DVACChannelUnitConfiguration> DVACAnalytics::channelUnitConfiguration() const {
  std::lock_guard lock(fieldsMutex_);
  return channelUnitConfiguration_;
}

void DVACAnalytics::startWithChannelGroup(const std::shared_ptr<DVACChannelGroupProtocol>& channelGroup,
                                          const std::optional<std::string>& appSecret,
                                          const std::optional<std::string>& transmissionTargetToken,
                                          bool fromApplication) {
  {
    std::lock_guard lock(fieldsMutex_);
    channelUnitConfiguration_ =
        DVACChannelUnitConfiguration::initDefaultConfigurationWithGroupId(kDVACAnalyticsGroupId, flushInterval_);
  }
  // The base switches the service on as soon as it has added the default
  // unit; the critical unit exists by then, so it is switched with it.
  if (channelGroup) {
    auto critical = channelGroup->addChannelUnitWithConfiguration(
        DVACChannelUnitConfiguration::initDefaultConfigurationWithGroupId(criticalGroupId()));
    std::lock_guard lock(fieldsMutex_);
    criticalChannelUnit_ = std::move(critical);
  }
  DVACServiceAbstract::startWithChannelGroup(channelGroup, appSecret, transmissionTargetToken, fromApplication);
  if (transmissionTargetToken) {
    auto target = createTransmissionTargetForToken(*transmissionTargetToken);
    std::lock_guard lock(fieldsMutex_);
    defaultTransmissionTarget_ = std::move(target);
  }
  DVACLogVerbose(kDVACAnalyticsLogTag, "Started Analytics service.");
}

void DVACAnalytics::updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                                     const std::optional<std::string>& transmissionTargetToken) {
  DVACServiceAbstract::updateConfigurationWithAppSecret(appSecret, transmissionTargetToken);
  if (transmissionTargetToken && !defaultTransmissionTarget()) {
    auto target = createTransmissionTargetForToken(*transmissionTargetToken);
    std::lock_guard lock(fieldsMutex_);
    if (!defaultTransmissionTarget_) defaultTransmissionTarget_ = std::move(target);
  }
}

// ------------------------------------------------------------ Enabling

void DVACAnalytics::applyEnabledState(bool isEnabled) {
  DVACServiceAbstract::applyEnabledState(isEnabled);
  if (auto critical = criticalChannelUnit()) critical->setEnabled(isEnabled, true);
  if (!isStartedFromApplication()) return;
  auto group = channelGroup();
  if (isEnabled) {
    resumeInstance();
    sessionTracker_->start();
    if (group) {
      group->addDelegate(sessionTracker_);
      group->addDelegate(self());
    }
    if (autoPageTrackingEnabled()) {
      // The waiting page is taken, so it is recorded once however often the
      // service is switched on.
      DVACDispatcherUtil::performBlockOnMainThread([] {
        auto pageName = DVACAnalyticsCategory::takeMissedPageViewName();
        if (pageName && !pageName->empty()) DVACAnalytics::trackPage(*pageName);
      });
    }
    DVACLogInfo(kDVACAnalyticsLogTag, "Analytics service has been enabled.");
  } else {
    if (group) {
      group->removeDelegate(sessionTracker_);
      group->removeDelegate(self());
    }
    sessionTracker_->stop();
    DVACSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(false);
    DVACLogInfo(kDVACAnalyticsLogTag, "Analytics service has been disabled.");
  }
}

void DVACAnalytics::setInstanceEnabled(bool isEnabled) {
  std::lock_guard lock(synchronizationLock());
  DVACServiceAbstract::setEnabled(isEnabled);
  const auto targets = transmissionTargets_;
  for (const auto& [token, target] : targets) target->setEnabled(isEnabled);
  if (auto target = defaultTransmissionTarget()) target->setEnabled(isEnabled);
}

// ---------------------------------------------------------------- Tracking

void DVACAnalytics::trackInstanceEvent(const std::optional<std::string>& eventName,
                                       const std::optional<ns::Value>& properties,
                                       const std::shared_ptr<DVACAnalyticsTransmissionTarget>& transmissionTarget,
                                       DVACLogFlags flags) {
  auto typedProperties = DVACEventProperties::initWithStringDictionary(removeInvalidProperties(properties));
  trackInstanceEvent(eventName, typedProperties, transmissionTarget, flags);
}

void DVACAnalytics::trackInstanceEvent(const std::optional<std::string>& eventName,
                                       const std::shared_ptr<DVACEventProperties>& typedProperties,
                                       const std::shared_ptr<DVACAnalyticsTransmissionTarget>& transmissionTarget,
                                       DVACLogFlags flags) {
  std::lock_guard lock(synchronizationLock());
  if (!canBeUsed() || !isEnabled()) return;
  auto defaultTarget = defaultTransmissionTarget();
  auto target = transmissionTarget ? transmissionTarget : defaultTarget;
  DVACLogFlags persistenceFlags = flags & DVACLogFlagsPriorityMask;
  if (persistenceFlags != DVACLogFlagsNormal && persistenceFlags != DVACLogFlagsCritical) {
    DVACLogWarning(kDVACAnalyticsLogTag,
                   "Invalid flags (" + std::to_string(persistenceFlags) + ") received, using normal as a default.");
    persistenceFlags = DVACLogFlagsNormal;
  }
  auto log = std::make_shared<DVACEventLog>();
  std::shared_ptr<DVACEventProperties> properties;
  if (target) {
    if (!target->isEnabled()) {
      DVACLogError(kDVACAnalyticsLogTag, "This transmission target is disabled.");
      return;
    }
    log->addTransmissionTargetToken(target->transmissionTargetToken());
    log->setTag(target);
    if (target == defaultTarget) log->setUserId(DVACUserIdContext::sharedInstance()->userId());
    // A set of the log's own: the caller may go on changing theirs, and the
    // Common Schema conversion trims this one.
    if (typedProperties) {
      properties = std::make_shared<DVACEventProperties>();
      properties->mergeEventProperties(*typedProperties);
    }
  } else {
    properties = validateRedEvududEventProperties(typedProperties);
  }
  log->setName(eventName);
  log->setEventId(ns::UUID::random().UUIDString());
  if (properties && !properties->isEmpty()) log->setTypedProperties(properties);
  sendLog(log, persistenceFlags);
}

void DVACAnalytics::trackInstancePage(const std::optional<std::string>& pageName,
                                      const std::optional<ns::Value>& properties) {
  std::lock_guard lock(synchronizationLock());
  if (!canBeUsed() || !isEnabled()) return;
  auto log = std::make_shared<DVACPageLog>();
  log->setName(pageName);
  if (properties && properties->count() > 0) log->setProperties(removeInvalidProperties(properties));
  sendLog(log, DVACLogFlagsNormal);
}

void DVACAnalytics::sendLog(const std::shared_ptr<DVACLog>& log, DVACLogFlags flags) {
  auto unit = (flags & DVACLogFlagsCritical) ? criticalChannelUnit() : channelUnit();
  if (unit) unit->enqueueItem(log, flags);
}

void DVACAnalytics::pauseInstance() {
  std::lock_guard lock(synchronizationLock());
  if (!canBeUsed()) return;
  const DVACIdentifyingObject identifyingObject = self();
  if (auto unit = channelUnit()) unit->pauseWithIdentifyingObject(identifyingObject);
  if (auto unit = criticalChannelUnit()) unit->pauseWithIdentifyingObject(identifyingObject);
}

void DVACAnalytics::resumeInstance() {
  std::lock_guard lock(synchronizationLock());
  if (!canBeUsed()) return;
  const DVACIdentifyingObject identifyingObject = self();
  if (auto unit = channelUnit()) unit->resumeWithIdentifyingObject(identifyingObject);
  if (auto unit = criticalChannelUnit()) unit->resumeWithIdentifyingObject(identifyingObject);
}

void DVACAnalytics::setInstanceTransmissionInterval(uint32_t interval) {
  if (isStarted()) {
    DVACLogError(kDVACAnalyticsLogTag,
                 "The transmission interval should be set before the DVACAnalytics service is started.");
    return;
  }
  if (interval < kDVACFlushIntervalMinimum || interval > kDVACFlushIntervalMaximum) {
    DVACLogError(kDVACAnalyticsLogTag, "The transmission interval is not valid, it should be between " +
                                           std::to_string(kDVACFlushIntervalMinimum) + " second(s) and " +
                                           std::to_string(kDVACFlushIntervalMaximum) + " second(s) (" +
                                           std::to_string(kDVACFlushIntervalMaximum / 86400) + " day).");
    return;
  }
  {
    std::lock_guard lock(fieldsMutex_);
    flushInterval_ = interval;
  }
  DVACLogDebug(kDVACAnalyticsLogTag, "Transmission interval set to " + std::to_string(interval) + " second(s)");
}

// ---------------------------------------------------- Transmission targets

std::shared_ptr<DVACAnalyticsTransmissionTarget> DVACAnalytics::instanceTransmissionTargetForToken(
    const std::string& token) {
  std::lock_guard lock(synchronizationLock());
  auto found = transmissionTargets_.find(token);
  if (found != transmissionTargets_.end()) {
    DVACLogDebug(kDVACAnalyticsLogTag, "Returning transmission target found with id " +
                                           DVACUtility::targetKeyFromTargetToken(token).value_or("(null)") + ".");
    return found->second;
  }
  auto target = createTransmissionTargetForToken(token);
  transmissionTargets_[token] = target;
  return target;
}

std::shared_ptr<DVACAnalyticsTransmissionTarget> DVACAnalytics::createTransmissionTargetForToken(
    const std::string& token) {
  auto target = DVACAnalyticsTransmissionTarget::initWithTransmissionTargetToken(token, nullptr, channelGroup());
  DVACLogDebug(kDVACAnalyticsLogTag, "Created transmission target with target key " +
                                         DVACUtility::targetKeyFromTargetToken(token).value_or("(null)") + ".");
  return target;
}

void DVACAnalytics::pauseInstanceTransmissionTargetForToken(const std::string& token) {
  if (auto unit = ruvErirovevuChannelUnit()) unit->pauseSendingLogsWithToken(token);
  if (auto unit = ruvErirovevuCriticalChannelUnit()) unit->pauseSendingLogsWithToken(token);
}

void DVACAnalytics::resumeInstanceTransmissionTargetForToken(const std::string& token) {
  if (auto unit = ruvErirovevuChannelUnit()) unit->resumeSendingLogsWithToken(token);
  if (auto unit = ruvErirovevuCriticalChannelUnit()) unit->resumeSendingLogsWithToken(token);
}

std::shared_ptr<DVACChannelUnitProtocol> DVACAnalytics::ruvErirovevuChannelUnit() {
  {
    std::lock_guard lock(fieldsMutex_);
    if (ruvErirovevuChannelUnit_) return ruvErirovevuChannelUnit_;
  }
  auto group = channelGroup();
  auto unit = group ? group->channelUnitForGroupId(std::string(kDVACAnalyticsGroupId) +
                                                   kDVACRuvErirovevuGroupIdSuffix)
                    : nullptr;
  std::lock_guard lock(fieldsMutex_);
  if (!ruvErirovevuChannelUnit_) ruvErirovevuChannelUnit_ = unit;
  return ruvErirovevuChannelUnit_;
}

std::shared_ptr<DVACChannelUnitProtocol> DVACAnalytics::ruvErirovevuCriticalChannelUnit() {
  {
    std::lock_guard lock(fieldsMutex_);
    if (ruvErirovevuCriticalChannelUnit_) return ruvErirovevuCriticalChannelUnit_;
  }
  auto group = channelGroup();
  auto unit = group ? group->channelUnitForGroupId(criticalGroupId() + kDVACRuvErirovevuGroupIdSuffix) : nullptr;
  std::lock_guard lock(fieldsMutex_);
  if (!ruvErirovevuCriticalChannelUnit_) ruvErirovevuCriticalChannelUnit_ = unit;
  return ruvErirovevuCriticalChannelUnit_;
}

// --------------------------------------------------------- Channel delegate

void DVACAnalytics::channelWillSendLog(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                       const std::shared_ptr<DVACLog>& log) {
  auto listener = delegate();
  if (!listener) return;
  if (auto event = std::dynamic_pointer_cast<DVACEventLog>(log)) {
    listener->analyticsWillSendEventLog(*this, event);
  } else if (auto page = std::dynamic_pointer_cast<DVACPageLog>(log)) {
    listener->analyticsWillSendPageLog(*this, page);
  }
}

void DVACAnalytics::channelDidSucceedSendingLog(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                                const std::shared_ptr<DVACLog>& log) {
  auto listener = delegate();
  if (!listener) return;
  if (auto event = std::dynamic_pointer_cast<DVACEventLog>(log)) {
    listener->analyticsDidSucceedSendingEventLog(*this, event);
  } else if (auto page = std::dynamic_pointer_cast<DVACPageLog>(log)) {
    listener->analyticsDidSucceedSendingPageLog(*this, page);
  }
}

void DVACAnalytics::channelDidFailSendingLog(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                             const std::shared_ptr<DVACLog>& log,
                                             const std::optional<ns::Error>& error) {
  auto listener = delegate();
  if (!listener) return;
  if (auto event = std::dynamic_pointer_cast<DVACEventLog>(log)) {
    listener->analyticsDidFailSendingEventLog(*this, event, error);
  } else if (auto page = std::dynamic_pointer_cast<DVACPageLog>(log)) {
    listener->analyticsDidFailSendingPageLog(*this, page, error);
  }
}

bool DVACAnalytics::channelUnitShouldFilterLog(const std::shared_ptr<DVACChannelUnitProtocol>& /*channelUnit*/,
                                               const std::shared_ptr<DVACLog>& log) {
  auto named = std::dynamic_pointer_cast<DVACLogWithNameAndProperties>(log);
  if (!named || !(std::dynamic_pointer_cast<DVACEventLog>(log) || std::dynamic_pointer_cast<DVACPageLog>(log))) {
    return false;
  }
  return !validateLog(*named);
}

void DVACAnalytics::sessionTrackerProcessLog(DVACSessionTracker& /*sessionTracker*/,
                                             const std::shared_ptr<DVACLog>& log) {
  sendLog(log, DVACLogFlagsNormal);
}

// -------------------------------------------------------------------- State

bool DVACAnalytics::autoPageTrackingEnabled() const {
  std::lock_guard lock(fieldsMutex_);
  return autoPageTrackingEnabled_;
}
void DVACAnalytics::setInstanceAutoPageTrackingEnabled(bool isEnabled) {
  std::lock_guard lock(fieldsMutex_);
  autoPageTrackingEnabled_ = isEnabled;
}
uint64_t DVACAnalytics::flushInterval() const {
  std::lock_guard lock(fieldsMutex_);
  return flushInterval_;
}
std::shared_ptr<DVACAnalyticsDelegate> DVACAnalytics::delegate() const {
  std::lock_guard lock(fieldsMutex_);
  return delegate_;
}
void DVACAnalytics::setInstanceDelegate(std::shared_ptr<DVACAnalyticsDelegate> delegate) {
  std::lock_guard lock(fieldsMutex_);
  delegate_ = std::move(delegate);
}
std::map<std::string, std::shared_ptr<DVACAnalyticsTransmissionTarget>> DVACAnalytics::transmissionTargets() const {
  std::lock_guard lock(synchronizationLock());
  return transmissionTargets_;
}
std::shared_ptr<DVACAnalyticsTransmissionTarget> DVACAnalytics::defaultTransmissionTarget() const {
  std::lock_guard lock(fieldsMutex_);
  return defaultTransmissionTarget_;
}
std::shared_ptr<DVACChannelUnitProtocol> DVACAnalytics::criticalChannelUnit() const {
  std::lock_guard lock(fieldsMutex_);
  return criticalChannelUnit_;
}
