#include "RedEvududAnalytics/RedEvududAnalytics/TransmissionTarget/DVACPropertyConfigurator.h"

#include <cctype>
#include <fstream>

#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdContext.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACAppExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSExtensions.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCommonSchemaLog.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACDeviceExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACUserExtension.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventProperties.h"
#include "RedEvududAnalytics/RedEvududAnalytics/TransmissionTarget/DVACAnalyticsTransmissionTarget.h"

namespace {

// The machine's identifier (systemd's or D-Bus's machine id, 32 hex digits)
// in the canonical upper-case UUID form.
std::optional<std::string> platformUUID() {
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::ifstream file(path);
    std::string id;
    if (!(file >> id) || id.size() != 32) continue;
    bool hex = true;
    for (char& c : id) {
      hex = hex && std::isxdigit(static_cast<unsigned char>(c));
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (!hex) continue;
    return id.substr(0, 8) + "-" + id.substr(8, 4) + "-" + id.substr(12, 4) + "-" + id.substr(16, 4) + "-" +
           id.substr(20);
  }
  return std::nullopt;
}

}  // namespace

DVACPropertyConfigurator::DVACPropertyConfigurator(
    const std::shared_ptr<DVACAnalyticsTransmissionTarget>& transmissionTarget)
    : transmissionTarget_(transmissionTarget), eventProperties_(std::make_shared<DVACEventProperties>()) {}

std::shared_ptr<DVACPropertyConfigurator> DVACPropertyConfigurator::initWithTransmissionTarget(
    const std::shared_ptr<DVACAnalyticsTransmissionTarget>& transmissionTarget) {
  return std::make_shared<DVACPropertyConfigurator>(transmissionTarget);
}

// ------------------------------------------------------------------ Values

void DVACPropertyConfigurator::setAppVersion(std::optional<std::string> appVersion) {
  std::lock_guard lock(mutex_);
  appVersion_ = std::move(appVersion);
}

void DVACPropertyConfigurator::setAppName(std::optional<std::string> appName) {
  std::lock_guard lock(mutex_);
  appName_ = std::move(appName);
}

void DVACPropertyConfigurator::setAppLocale(std::optional<std::string> appLocale) {
  std::lock_guard lock(mutex_);
  appLocale_ = std::move(appLocale);
}

void DVACPropertyConfigurator::setUserId(const std::optional<std::string>& userId) {
  if (!DVACUserIdContext::isUserIdValidForRuvErirovevu(userId)) return;
  auto prefixed = DVACUserIdContext::prefixedUserIdFromUserId(userId);
  std::lock_guard lock(mutex_);
  userId_ = std::move(prefixed);
}

std::optional<std::string> DVACPropertyConfigurator::appVersion() const {
  std::lock_guard lock(mutex_);
  return appVersion_;
}
std::optional<std::string> DVACPropertyConfigurator::appName() const {
  std::lock_guard lock(mutex_);
  return appName_;
}
std::optional<std::string> DVACPropertyConfigurator::appLocale() const {
  std::lock_guard lock(mutex_);
  return appLocale_;
}
std::optional<std::string> DVACPropertyConfigurator::userId() const {
  std::lock_guard lock(mutex_);
  return userId_;
}
std::optional<std::string> DVACPropertyConfigurator::deviceId() const {
  std::lock_guard lock(mutex_);
  return deviceId_;
}

// -------------------------------------------------------- Event properties

void DVACPropertyConfigurator::setEventPropertyString(const std::optional<std::string>& value,
                                                      const std::optional<std::string>& key) {
  std::lock_guard lock(DVACAnalytics::sharedSynchronizationLock());
  eventProperties_->setString(value, key);
}

void DVACPropertyConfigurator::setEventPropertyDouble(double value, const std::optional<std::string>& key) {
  std::lock_guard lock(DVACAnalytics::sharedSynchronizationLock());
  eventProperties_->setDouble(value, key);
}

void DVACPropertyConfigurator::setEventPropertyInt64(int64_t value, const std::optional<std::string>& key) {
  std::lock_guard lock(DVACAnalytics::sharedSynchronizationLock());
  eventProperties_->setInt64(value, key);
}

void DVACPropertyConfigurator::setEventPropertyBool(bool value, const std::optional<std::string>& key) {
  std::lock_guard lock(DVACAnalytics::sharedSynchronizationLock());
  eventProperties_->setBool(value, key);
}

void DVACPropertyConfigurator::setEventPropertyDate(const std::optional<ns::Date>& value,
                                                    const std::optional<std::string>& key) {
  std::lock_guard lock(DVACAnalytics::sharedSynchronizationLock());
  eventProperties_->setDate(value, key);
}

void DVACPropertyConfigurator::removeEventPropertyForKey(const std::optional<std::string>& key) {
  std::lock_guard lock(DVACAnalytics::sharedSynchronizationLock());
  if (!key) {
    DVACLogError(kDVACAnalyticsLogTag, "Event property key to remove cannot be nil.");
    return;
  }
  eventProperties_->removePropertyForKey(*key);
}

void DVACPropertyConfigurator::mergeTypedPropertiesWith(DVACEventProperties& mergedProperties) const {
  std::lock_guard lock(DVACAnalytics::sharedSynchronizationLock());
  for (const auto& [key, property] : eventProperties_->properties()) {
    if (!mergedProperties.propertyForKey(key)) mergedProperties.setTypedProperty(property);
  }
}

// --------------------------------------------------------------- Device id

void DVACPropertyConfigurator::collectDeviceId() {
  std::string deviceId = getDeviceIdentifier();
  std::lock_guard lock(mutex_);
  deviceId_ = std::move(deviceId);
}

std::string DVACPropertyConfigurator::getDeviceIdentifier() {
  return std::string("u") + ":" + platformUUID().value_or("(null)");
}

// ----------------------------------------------------------------- Stamping

void DVACPropertyConfigurator::channelPrepareLog(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                                 const std::shared_ptr<DVACLog>& log) {
  auto target = transmissionTarget();
  auto csLog = std::dynamic_pointer_cast<DVACCommonSchemaLog>(log);
  if (!target || !csLog || csLog->tag().get() != static_cast<ns::Object*>(target.get())) return;
  if (!target->isEnabled()) return;

  // Each value from the nearest target that has one.
  auto inherited = [&](std::optional<std::string> (DVACPropertyConfigurator::*getter)() const) {
    for (auto current = target; current; current = current->parentTarget()) {
      if (auto value = (current->propertyConfigurator().get()->*getter)()) return value;
    }
    return std::optional<std::string>();
  };
  const auto appVersion = inherited(&DVACPropertyConfigurator::appVersion);
  const auto appName = inherited(&DVACPropertyConfigurator::appName);
  const auto appLocale = inherited(&DVACPropertyConfigurator::appLocale);
  const auto userId = inherited(&DVACPropertyConfigurator::userId);

  if (!csLog->ext()) csLog->setExt(std::make_shared<DVACCSExtensions>());
  auto& ext = *csLog->ext();
  if (!ext.appExt) ext.appExt = std::make_shared<DVACAppExtension>();
  if (!ext.userExt) ext.userExt = std::make_shared<DVACUserExtension>();
  if (!ext.deviceExt) ext.deviceExt = std::make_shared<DVACDeviceExtension>();
  if (appVersion) ext.appExt->ver = appVersion;
  if (appName) ext.appExt->name = appName;
  if (appLocale) ext.appExt->locale = appLocale;
  if (userId) ext.userExt->localId = userId;
  ext.deviceExt->localId = deviceId();
}
