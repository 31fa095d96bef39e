#include "RedEvudud/RedEvudud/DVACServiceAbstract.h"

#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"

// ------------------------------------------------------------ Class object

void DVACServiceCommon::setEnabled(bool isEnabled) const {
  DVACServiceAbstract::setEnabled(sharedInstance(), isEnabled);
}

bool DVACServiceCommon::isEnabled() const { return DVACServiceAbstract::isEnabled(sharedInstance()); }

// ---------------------------------------------------------------- Enabled

bool DVACServiceAbstract::isEnabled() const {
  auto value = DVACRedEvududUserDefaults::shared()->objectForKey(isEnabledKey());
  if (!value) return true;
  return value->asBool().value_or(true);
}

void DVACServiceAbstract::setEnabled(bool isEnabled) {
  if (this->isEnabled() == isEnabled) return;
  applyEnabledState(isEnabled);
  DVACRedEvududUserDefaults::shared()->setObject(ns::Value(isEnabled), isEnabledKey());
}

void DVACServiceAbstract::applyEnabledState(bool isEnabled) {
  if (auto unit = channelUnit()) unit->setEnabled(isEnabled, true);
}

std::string DVACServiceAbstract::shortServiceName() const {
  const std::string name = className();
  return name.size() > 4 ? name.substr(4) : name;
}

bool DVACServiceAbstract::canBeUsed() const {
  auto sdk = DVACRedEvudud::sharedInstance();
  if (sdk->isSdkConfigured() && isStarted()) return true;
  DVACLogError(kDVACLogTag, shortServiceName() +
                                " service hasn't been started. You need to call [DVACRedEvudud "
                                "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first.");
  return false;
}

bool DVACServiceAbstract::isAvailable() const { return isEnabled() && isStarted(); }

// ------------------------------------------------------------------ Start

void DVACServiceAbstract::startWithChannelGroup(const std::shared_ptr<DVACChannelGroupProtocol>& channelGroup,
                                                const std::optional<std::string>& appSecret,
                                                const std::optional<std::string>& transmissionTargetToken,
                                                bool fromApplication) {
  setStartedFromApplication(fromApplication);
  setChannelGroup(channelGroup);
  setAppSecret(appSecret);
  setDefaultTransmissionTargetToken(transmissionTargetToken);
  setStarted(true);
  if (auto configuration = channelUnitConfiguration(); configuration && channelGroup) {
    setChannelUnit(channelGroup->addChannelUnitWithConfiguration(configuration));
  }
  if (isEnabled()) applyEnabledState(true);
}

void DVACServiceAbstract::updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                                           const std::optional<std::string>& transmissionTargetToken) {
  setStartedFromApplication(true);
  setAppSecret(appSecret);
  setDefaultTransmissionTargetToken(transmissionTargetToken);
  if (isEnabled()) applyEnabledState(true);
}

// ------------------------------------------------------------ Class level

void DVACServiceAbstract::setEnabled(const std::shared_ptr<DVACServiceAbstract>& sharedInstance, bool isEnabled) {
  if (!sharedInstance) return;
  std::lock_guard lock(sharedInstance->synchronizationLock());
  if (!sharedInstance->canBeUsed()) return;
  if (!DVACRedEvudud::isEnabled() && !DVACRedEvudud::sharedInstance()->isEnabledStateUpdating()) {
    DVACLogError(kDVACLogTag,
                 "The SDK is disabled. Re-enable the whole SDK from RedEvudud first before enabling " +
                     sharedInstance->shortServiceName() + " service.");
    return;
  }
  sharedInstance->setEnabled(isEnabled);
}

bool DVACServiceAbstract::isEnabled(const std::shared_ptr<DVACServiceAbstract>& sharedInstance) {
  if (!sharedInstance) return false;
  std::lock_guard lock(sharedInstance->synchronizationLock());
  return sharedInstance->canBeUsed() && sharedInstance->isEnabled();
}

// -------------------------------------------------------------- Accessors

std::shared_ptr<DVACChannelGroupProtocol> DVACServiceAbstract::channelGroup() const {
  std::lock_guard lock(stateMutex_);
  return channelGroup_;
}
void DVACServiceAbstract::setChannelGroup(std::shared_ptr<DVACChannelGroupProtocol> channelGroup) {
  std::lock_guard lock(stateMutex_);
  channelGroup_ = std::move(channelGroup);
}
std::shared_ptr<DVACChannelUnitProtocol> DVACServiceAbstract::channelUnit() const {
  std::lock_guard lock(stateMutex_);
  return channelUnit_;
}
void DVACServiceAbstract::setChannelUnit(std::shared_ptr<DVACChannelUnitProtocol> channelUnit) {
  std::lock_guard lock(stateMutex_);
  channelUnit_ = std::move(channelUnit);
}
std::optional<std::string> DVACServiceAbstract::appSecret() const {
  std::lock_guard lock(stateMutex_);
  return appSecret_;
}
void DVACServiceAbstract::setAppSecret(std::optional<std::string> appSecret) {
  std::lock_guard lock(stateMutex_);
  appSecret_ = std::move(appSecret);
}
std::optional<std::string> DVACServiceAbstract::defaultTransmissionTargetToken() const {
  std::lock_guard lock(stateMutex_);
  return defaultTransmissionTargetToken_;
}
void DVACServiceAbstract::setDefaultTransmissionTargetToken(std::optional<std::string> token) {
  std::lock_guard lock(stateMutex_);
  defaultTransmissionTargetToken_ = std::move(token);
}
bool DVACServiceAbstract::isStarted() const {
  std::lock_guard lock(stateMutex_);
  return started_;
}
void DVACServiceAbstract::setStarted(bool started) {
  std::lock_guard lock(stateMutex_);
  started_ = started;
}
bool DVACServiceAbstract::isStartedFromApplication() const {
  std::lock_guard lock(stateMutex_);
  return startedFromApplication_;
}
void DVACServiceAbstract::setStartedFromApplication(bool startedFromApplication) {
  std::lock_guard lock(stateMutex_);
  startedFromApplication_ = startedFromApplication;
}
