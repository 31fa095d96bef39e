#include "RedEvududAnalytics/RedEvududAnalytics/TransmissionTarget/DVACAnalyticsTransmissionTarget.h"

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSExtensions.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCommonSchemaLog.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACProtocolExtension.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventProperties.h"
#include "RedEvududAnalytics/RedEvududAnalytics/TransmissionTarget/DVACAnalyticsAuthenticationProvider.h"
#include "RedEvududAnalytics/RedEvududAnalytics/TransmissionTarget/DVACPropertyConfigurator.h"

namespace {

struct ProviderSlot {
  std::mutex mutex;
  std::shared_ptr<DVACAnalyticsAuthenticationProvider> provider;
};

ProviderSlot& providerSlot() {
  static auto* slot = new ProviderSlot();
  return *slot;
}

// The lock of the analytics service, which guards every target's state.
std::string enabledKeyFor(const std::string& token) {
  return std::string(kDVACAnalyticsGroupId) + "IsEnabled/" +
         DVACUtility::targetKeyFromTargetToken(token).value_or("(null)");
}

}  // namespace

// ------------------------------------------------------------ Construction

std::shared_ptr<DVACAnalyticsTransmissionTarget> DVACAnalyticsTransmissionTarget::initWithTransmissionTargetToken(
    const std::string& token, const std::shared_ptr<DVACAnalyticsTransmissionTarget>& parentTarget,
    const std::shared_ptr<DVACChannelGroupProtocol>& channelGroup) {
  auto target = std::shared_ptr<DVACAnalyticsTransmissionTarget>(
      new DVACAnalyticsTransmissionTarget(token, parentTarget, channelGroup));
  target->init();
  return target;
}

DVACAnalyticsTransmissionTarget::DVACAnalyticsTransmissionTarget(
    std::string token, std::shared_ptr<DVACAnalyticsTransmissionTarget> parentTarget,
    std::shared_ptr<DVACChannelGroupProtocol> channelGroup)
    : parentTarget_(parentTarget),
      hasParent_(parentTarget != nullptr),
      isEnabledKey_(enabledKeyFor(token)),
      channelGroup_(std::move(channelGroup)),
      transmissionTargetToken_(std::move(token)) {}

DVACAnalyticsTransmissionTarget::~DVACAnalyticsTransmissionTarget() = default;

void DVACAnalyticsTransmissionTarget::init() {
  propertyConfigurator_ = DVACPropertyConfigurator::initWithTransmissionTarget(shared_from_this());
  if (!isImmediateParent()) {
    std::lock_guard lock(DVACAnalytics::sharedSynchronizationLock());
    DVACRedEvududUserDefaults::shared()->setObject(ns::Value(false), isEnabledKey_);
  }
  if (channelGroup_) {
    channelGroup_->addDelegate(propertyConfigurator_);
    channelGroup_->addDelegate(shared_from_this());
  }
}

std::shared_ptr<DVACAnalyticsTransmissionTarget> DVACAnalyticsTransmissionTarget::transmissionTargetForToken(
    const std::string& token) {
  std::lock_guard lock(DVACAnalytics::sharedSynchronizationLock());
  auto found = childTransmissionTargets_.find(token);
  if (found != childTransmissionTargets_.end()) return found->second;
  auto child = initWithTransmissionTargetToken(token, shared_from_this(), channelGroup_);
  childTransmissionTargets_[token] = child;
  return child;
}

std::map<std::string, std::shared_ptr<DVACAnalyticsTransmissionTarget>>
DVACAnalyticsTransmissionTarget::childTransmissionTargets() const {
  std::lock_guard lock(DVACAnalytics::sharedSynchronizationLock());
  return childTransmissionTargets_;
}

// ---------------------------------------------------------------- Tracking

void DVACAnalyticsTransmissionTarget::trackEvent(const std::optional<std::string>& eventName) {
  trackEvent(eventName, std::optional<DVACPropertiesDictionary>());
}

void DVACAnalyticsTransmissionTarget::trackEvent(const std::optional<std::string>& eventName,
                                                 const std::optional<DVACPropertiesDictionary>& properties) {
  trackEvent(eventName, properties, DVACLogFlagsNormal);
}

void DVACAnalyticsTransmissionTarget::trackEvent(const std::optional<std::string>& eventName,
                                                 const std::optional<DVACPropertiesDictionary>& properties,
                                                 DVACLogFlags flags) {
  std::shared_ptr<DVACEventProperties> typedProperties;
  if (properties) {
    typedProperties = std::make_shared<DVACEventProperties>();
    for (const auto& [key, value] : *properties) typedProperties->setString(value, key);
  }
  trackEvent(eventName, typedProperties, flags);
}

void DVACAnalyticsTransmissionTarget::trackEvent(const std::optional<std::string>& eventName,
                                                 const std::shared_ptr<DVACEventProperties>& typedProperties) {
  trackEvent(eventName, typedProperties, DVACLogFlagsNormal);
}

void DVACAnalyticsTransmissionTarget::trackEvent(const std::optional<std::string>& eventName,
                                                 const std::shared_ptr<DVACEventProperties>& typedProperties,
                                                 DVACLogFlags flags) {
  auto merged = std::make_shared<DVACEventProperties>();
  for (auto target = shared_from_this(); target; target = target->parentTarget()) {
    target->propertyConfigurator_->mergeTypedPropertiesWith(*merged);
  }
  if (typedProperties) {
    merged->mergeEventProperties(*typedProperties);
  } else if (merged->isEmpty()) {
    merged = nullptr;
  }
  DVACAnalytics::trackEvent(eventName, merged, shared_from_this(), flags);
}

// ------------------------------------------------------------ Enabled state

bool DVACAnalyticsTransmissionTarget::isEnabled() const {
  std::lock_guard lock(DVACAnalytics::sharedSynchronizationLock());
  auto value = DVACRedEvududUserDefaults::shared()->objectForKey(isEnabledKey_);
  if (!value) return true;
  return value->asBool().value_or(true);
}

void DVACAnalyticsTransmissionTarget::setEnabled(bool isEnabled) {
  std::lock_guard lock(DVACAnalytics::sharedSynchronizationLock());
  if (isEnabled != this->isEnabled()) {
    if (isEnabled && !isImmediateParent()) {
      DVACLogWarning(kDVACAnalyticsLogTag,
                     "Can't enable; parent transmission target and/or Analytics service is disabled.");
      return;
    }
    DVACRedEvududUserDefaults::shared()->setObject(ns::Value(isEnabled), isEnabledKey_);
    if (isEnabled) resume();
  }
  const auto children = childTransmissionTargets_;
  for (const auto& [token, child] : children) child->setEnabled(isEnabled);
}

void DVACAnalyticsTransmissionTarget::pause() {
  if (!isEnabled()) {
    DVACLogError(kDVACAnalyticsLogTag, "This transmission target is disabled.");
    return;
  }
  DVACAnalytics::pauseTransmissionTargetForToken(transmissionTargetToken_);
}

void DVACAnalyticsTransmissionTarget::resume() {
  if (!isEnabled()) {
    DVACLogError(kDVACAnalyticsLogTag, "This transmission target is disabled.");
    return;
  }
  DVACAnalytics::resumeTransmissionTargetForToken(transmissionTargetToken_);
}

bool DVACAnalyticsTransmissionTarget::isImmediateParent() const {
  if (!hasParent_) return DVACAnalytics::serviceClass()->isEnabled();
  // A parent that is gone can enable nothing.
  auto parent = parentTarget();
  return parent && parent->isEnabled();
}

// ------------------------------------------------------------------ Stamping

void DVACAnalyticsTransmissionTarget::channelPrepareLog(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                                        const std::shared_ptr<DVACLog>& log) {
  auto csLog = std::dynamic_pointer_cast<DVACCommonSchemaLog>(log);
  if (!csLog) return;
  auto tokens = csLog->transmissionTargetTokens();
  if (!tokens || !tokens->count(transmissionTargetToken_)) return;
  auto provider = authenticationProvider();
  if (!provider || !isEnabled()) return;
  if (!csLog->ext()) csLog->setExt(std::make_shared<DVACCSExtensions>());
  if (!csLog->ext()->protocolExt) csLog->ext()->protocolExt = std::make_shared<DVACProtocolExtension>();
  std::vector<std::string> ticketKeys;
  if (provider->ticketKeyHash()) ticketKeys.push_back(*provider->ticketKeyHash());
  csLog->ext()->protocolExt->ticketKeys = std::move(ticketKeys);
  provider->checkTokenExpiry();
}

// ------------------------------------------------------------ Authentication

void DVACAnalyticsTransmissionTarget::addAuthenticationProvider(
    const std::shared_ptr<DVACAnalyticsAuthenticationProvider>& provider) {
  if (!provider) {
    DVACLogError(kDVACAnalyticsLogTag, "Authentication provider may not be null.");
    return;
  }
  setAuthenticationProvider(provider);
  provider->acquireTokenAsync();
}

std::shared_ptr<DVACAnalyticsAuthenticationProvider> DVACAnalyticsTransmissionTarget::authenticationProvider() {
  std::lock_guard lock(providerSlot().mutex);
  return providerSlot().provider;
}

void DVACAnalyticsTransmissionTarget::setAuthenticationProvider(
    std::shared_ptr<DVACAnalyticsAuthenticationProvider> provider) {
  std::lock_guard lock(providerSlot().mutex);
  providerSlot().provider = std::move(provider);
}
