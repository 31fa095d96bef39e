#include "RedEvudud/RedEvudud/DVACRedEvudud.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "RedEvudud/RedEvudud/DVACServiceAbstract.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupDefault.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceTracker.h"
#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionContext.h"
#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdContext.h"
#include "RedEvudud/RedEvudud/Internals/DelegateForwarder/DVACAppDelegateForwarder.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACDependencyConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClient.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACRuvErirovevuChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACStartServiceLog.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACDispatcherUtil.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACSharedSlot.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/Log.h"

namespace {

std::string trimmed(const std::string& text) {
  const char* space = " \t\n\r\f\v";
  const size_t begin = text.find_first_not_of(space);
  if (begin == std::string::npos) return {};
  const size_t end = text.find_last_not_of(space);
  return text.substr(begin, end - begin + 1);
}

bool persistedFlag(const char* key) {
  auto value = DVACRedEvududUserDefaults::shared()->objectForKey(key);
  if (!value) return true;
  return value->asBool().value_or(true);
}

}  // namespace

// ------------------------------------------------------------ Construction

std::shared_ptr<DVACRedEvudud> DVACRedEvudud::sharedInstance() {
  std::lock_guard lock(DVACSharedSlot<DVACRedEvudud>::mutex());
  auto& slot = DVACSharedSlot<DVACRedEvudud>::instance();
  if (!slot) slot = std::shared_ptr<DVACRedEvudud>(new DVACRedEvudud());
  return slot;
}

void DVACRedEvudud::resetSharedInstance() {
  std::shared_ptr<DVACRedEvudud> old;
  {
    std::lock_guard lock(DVACSharedSlot<DVACRedEvudud>::mutex());
    old = std::move(DVACSharedSlot<DVACRedEvudud>::instance());
    DVACSharedSlot<DVACRedEvudud>::instance().reset();
  }
}

DVACRedEvudud::DVACRedEvudud() {
  DVACRedEvududUserDefaults::shared()->migrateKeys(DVACRedEvududUserDefaults::redEvududMigrationTable(),
                                                   kDVACRedEvududGroupId);
  DVACUtility::addMigrationClasses(DVACUtility::redEvududMigrationClasses());
}

DVACRedEvudud::~DVACRedEvudud() = default;

// ------------------------------------------------------------ Class level

void DVACRedEvudud::start(const std::optional<std::string>& appSecret, const DVACServiceList& services) {
  sharedInstance()->start(appSecret, services, true);
}

void DVACRedEvudud::startWithServices(const DVACServiceList& services) {
  sharedInstance()->start(std::nullopt, services, true);
}

void DVACRedEvudud::startFromLibraryWithServices(const DVACServiceList& services) {
  sharedInstance()->start(std::nullopt, services, false);
}

void DVACRedEvudud::startService(const DVACServiceClass& service) {
  auto sdk = sharedInstance();
  sdk->startServices({service}, sdk->appSecret(), sdk->defaultTransmissionTargetToken(), true);
}

void DVACRedEvudud::configureWithAppSecret(const std::optional<std::string>& appSecret) {
  sharedInstance()->configureWithAppSecret(DVACUtility::appSecretFrom(appSecret),
                                           DVACUtility::transmissionTargetTokenFrom(appSecret), true);
}

void DVACRedEvudud::configure() { sharedInstance()->configureWithAppSecret(std::nullopt, std::nullopt, true); }

bool DVACRedEvudud::isConfigured() {
  auto sdk = sharedInstance();
  return sdk->isSdkConfigured() && sdk->isConfiguredFromApplication();
}

bool DVACRedEvudud::isEnabled() {
  // Without the instance lock: the services ask this while holding their own.
  auto sdk = sharedInstance();
  return sdk->canBeUsed() && sdk->isInstanceEnabled();
}

void DVACRedEvudud::setEnabled(bool isEnabled) { sharedInstance()->setInstanceEnabled(isEnabled); }

bool DVACRedEvudud::isNetworkRequestsAllowed() { return sharedInstance()->isInstanceNetworkRequestsAllowed(); }

void DVACRedEvudud::setNetworkRequestsAllowed(bool isAllowed) {
  sharedInstance()->setInstanceNetworkRequestsAllowed(isAllowed);
}

ns::UUID DVACRedEvudud::installId() { return sharedInstance()->instanceInstallId(); }

std::optional<std::string> DVACRedEvudud::logUrl() { return sharedInstance()->instanceLogUrl(); }

void DVACRedEvudud::setLogUrl(const std::string& logUrl) { sharedInstance()->setInstanceLogUrl(logUrl); }

void DVACRedEvudud::setUserId(const std::optional<std::string>& userId) {
  sharedInstance()->setInstanceUserId(userId);
}

std::optional<std::string> DVACRedEvudud::userId() { return DVACUserIdContext::sharedInstance()->userId(); }

bool DVACRedEvudud::waitUntilLogsStored(double timeoutSeconds) {
  auto group = std::dynamic_pointer_cast<DVACChannelGroupDefault>(sharedInstance()->channelGroup());
  if (!group) return true;
  // The queue is serial: an empty block runs after everything queued before it.
  return DVACDispatcherUtil::dispatchSyncWithTimeout(timeoutSeconds, group->logsDispatchQueue(), nullptr);
}

void DVACRedEvudud::setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool success)> completionHandler) {
  sharedInstance()->setInstanceMaxStorageSize(sizeInBytes, std::move(completionHandler));
}

DVACLogLevel DVACRedEvudud::logLevel() { return DVACLogger::currentLogLevel(); }

void DVACRedEvudud::setLogLevel(DVACLogLevel logLevel) {
  DVACLogger::setCurrentLogLevel(logLevel);
  DVACDelegateForwarder::flushTraceBuffer();
}

DVACLogHandler DVACRedEvudud::logHandler() { return DVACLogger::logHandler(); }

void DVACRedEvudud::setLogHandler(DVACLogHandler logHandler) { DVACLogger::setLogHandler(std::move(logHandler)); }

void DVACRedEvudud::setWrapperSdk(std::shared_ptr<DVACWrapperSdk> wrapperSdk) {
  DVACDeviceTracker::sharedInstance()->setWrapperSdk(std::move(wrapperSdk));
}

std::shared_ptr<DVACWrapperSdk> DVACRedEvudud::wrapperSdk() { return DVACDeviceTracker::sharedInstance()->wrapperSdk(); }

void DVACRedEvudud::setCountryCode(std::optional<std::string> countryCode) {
  DVACDeviceTracker::sharedInstance()->setCountryCode(std::move(countryCode));
}

std::optional<std::string> DVACRedEvudud::countryCode() { return DVACDeviceTracker::sharedInstance()->countryCode(); }

bool DVACRedEvudud::isAppDelegateForwarderEnabled() { return DVACAppDelegateForwarder::sharedInstance()->isEnabled(); }

bool DVACRedEvudud::isRunningInRedEvududTestCloud() {
  const char* value = std::getenv(kDVACRunningInRedEvududEnvironmentVariable);
  return value && std::string(value) == "1";
}

bool DVACRedEvudud::isDebuggerAttached() {
  static const bool attached = [] {
    // The kernel's process record of this process: a tracer's pid, 0 for none.
    std::ifstream status("/proc/self/status");
    std::string line;
    bool found = false;
    bool traced = false;
    while (status && std::getline(status, line)) {
      if (line.rfind("TracerPid:", 0) != 0) continue;
      found = true;
      traced = std::strtol(line.c_str() + 10, nullptr, 10) != 0;
      break;
    }
    if (!found) {
      ns::NSLog("[DVACCrashes] ERROR: Checking for a running debugger via sysctl() failed.");
      return false;
    }
    return traced;
  }();
  return attached;
}

std::string DVACRedEvudud::sdkVersion() { return DVACUtility::sdkVersion(); }

// ----------------------------------------------------------- Configuration

void DVACRedEvudud::start(const std::optional<std::string>& appSecret, const DVACServiceList& services,
                          bool fromApplication) {
  const std::optional<std::string> secret = DVACUtility::appSecretFrom(appSecret);
  const std::optional<std::string> token = DVACUtility::transmissionTargetTokenFrom(appSecret);
  if (configureWithAppSecret(secret, token, fromApplication)) {
    startServices(services, secret, token, fromApplication);
  }
}

bool DVACRedEvudud::configureWithAppSecret(const std::optional<std::string>& appSecret,
                                           const std::optional<std::string>& transmissionTargetToken,
                                           bool fromApplication) {
  const std::string origin = fromApplication ? "" : "from a library ";
  std::lock_guard lock(mutex_);
  if (configuredFromApplication_ && fromApplication) {
    DVACLogAssert(kDVACLogTag, "Red Evudud SDK has already been configured.");
    DVACLogAssert(kDVACLogTag, "Red Evudud SDK configuration " + origin + "failed.");
    return false;
  }
  if (!appSecret_) {
    appSecret_ = appSecret;
    DVACSessionContext::sharedInstance()->setSessionId(std::nullopt);
  }
  if (!defaultTransmissionTargetToken_) defaultTransmissionTargetToken_ = transmissionTargetToken;
  DVACUserIdContext::sharedInstance();
  initializeChannelGroup();
  applyPipelineEnabledState(isInstanceEnabled());
  sdkConfigured_ = true;
  configuredFromApplication_ = configuredFromApplication_ || fromApplication;
  if (!DVACLogger::isUserDefinedLogLevel() && DVACUtility::currentAppEnvironment() == DVACEnvironmentOther) {
    setLogLevel(DVACLogLevelWarning);
  }
  DVACLogInfo(kDVACLogTag, "Red Evudud SDK configured " + origin + "successfully.");
  return true;
}

void DVACRedEvudud::initializeChannelGroup() {
  std::lock_guard lock(mutex_);
  const ns::UUID installId = instanceInstallId();
  if (!ruvErirovevuChannelDelegate_) {
    ruvErirovevuChannelDelegate_ = DVACRuvErirovevuChannelDelegate::initWithHttpClient(
        DVACHttpClient::make(), installId, appSecret_ ? std::nullopt : logUrl_);
  }
  if (!channelGroup_) {
    std::shared_ptr<DVACHttpClientProtocol> httpClient = DVACDependencyConfiguration::httpClient();
    if (!httpClient) httpClient = DVACHttpClient::make();
    auto group = DVACChannelGroupDefault::initWithHttpClient(
        httpClient, installId, logUrl_ ? logUrl_ : std::optional<std::string>(DVACIngestionDefaults::defaultLogUrl()));
    group->addDelegate(ruvErirovevuChannelDelegate_);
    channelGroup_ = group;
    if (requestedMaxStorageSizeInBytes_) {
      channelGroup_->setMaxStorageSize(*requestedMaxStorageSizeInBytes_, maxStorageSizeCompletionHandler_);
    }
  }
  channelGroup_->setAppSecret(appSecret_);
  if (!channelUnit_) {
    channelUnit_ = channelGroup_->addChannelUnitWithConfiguration(
        DVACChannelUnitConfiguration::initDefaultConfigurationWithGroupId(kDVACRedEvududGroupId));
  }
}

// ---------------------------------------------------------------- Services

DVACRedEvudud::DVACServiceList DVACRedEvudud::sortServices(const DVACServiceList& services) {
  DVACServiceList sorted = services;
  if (sorted.size() < 2) return sorted;
  auto priorityOf = [](const DVACServiceClass& service) -> int64_t {
    auto instance = service ? service->sharedInstance() : nullptr;
    return instance ? instance->initializationPriority() : INT64_MIN;
  };
  std::vector<std::pair<int64_t, DVACServiceClass>> keyed;
  keyed.reserve(sorted.size());
  for (const auto& service : sorted) keyed.emplace_back(priorityOf(service), service);
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (size_t i = 0; i < keyed.size(); ++i) sorted[i] = keyed[i].second;
  return sorted;
}

void DVACRedEvudud::startServices(const DVACServiceList& services, const std::optional<std::string>& appSecret,
                                  const std::optional<std::string>& transmissionTargetToken, bool fromApplication) {
  if (services.empty() || !sdkConfigured_) return;
  const DVACServiceList sorted = sortServices(services);
  std::vector<std::string> classNames;
  for (const auto& service : sorted) classNames.push_back(service ? service->className() : "(null)");
  DVACLogVerbose(kDVACLogTag, "Start services " + DVACUtility::joinStrings(classNames, ", ") + " from " +
                                  (fromApplication ? "an application" : "a library"));
  std::vector<std::string> started;
  for (const auto& service : sorted) {
    if (startService(service, appSecret, transmissionTargetToken, fromApplication)) {
      started.push_back(service->serviceName());
    }
  }
  if (!started.empty()) {
    if (fromApplication) sendStartServiceLog(started);
  } else {
    DVACLogDebug(kDVACLogTag, "No services have been started.");
  }
}

bool DVACRedEvudud::startService(const DVACServiceClass& service, const std::optional<std::string>& appSecret,
                                 const std::optional<std::string>& transmissionTargetToken, bool fromApplication) {
  std::lock_guard lock(mutex_);
  auto instance = service ? service->sharedInstance() : nullptr;
  if (!instance) {
    DVACLogError(kDVACLogTag, "Cannot start service " + (service ? service->className() : std::string("(null)")) +
                                  ". Provided value is nil or invalid.");
    return false;
  }
  if (!sdkConfigured_ || (fromApplication && !configuredFromApplication_)) {
    DVACLogError(kDVACLogTag, "Red Evudud has not been configured so it couldn't start the service.");
    return false;
  }
  if (fromApplication && instance->isAvailable() && instance->isStartedFromApplication()) return false;
  if (instance->isAppSecretRequired() && (!appSecret || appSecret->empty())) {
    DVACLogError(kDVACLogTag, "Cannot start service " + service->className() +
                                  ". Red Evudud was started without app secret, but the service requires it.");
    return false;
  }
  if (shouldDisable(service->serviceName())) {
    DVACLogDebug(kDVACLogTag, "Environment variable to disable service has been set; not starting service " +
                                  service->className());
    return false;
  }
  if (!instance->isAvailable()) {
    services_.push_back(instance);
    serviceClasses_.push_back(service);
    instance->startWithChannelGroup(channelGroup_, appSecret, transmissionTargetToken, fromApplication);
    if (service->isEnabled() && !isInstanceEnabled()) {
      enabledStateUpdating_ = true;
      service->setEnabled(false);
      enabledStateUpdating_ = false;
    }
  } else if (fromApplication) {
    instance->updateConfigurationWithAppSecret(appSecret, transmissionTargetToken);
  }
  return true;
}

bool DVACRedEvudud::shouldDisable(const std::string& serviceName) {
  const char* value = std::getenv(kDVACDisableVariable);
  if (!value) return false;
  const std::string text(value);
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(',', start);
    const std::string piece = trimmed(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (piece == serviceName || piece == kDVACDisableAll) return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

void DVACRedEvudud::sendStartServiceLog(const std::vector<std::string>& servicesNames) {
  std::lock_guard lock(mutex_);
  if (isInstanceEnabled()) {
    auto log = std::make_shared<DVACStartServiceLog>();
    log->setServices(servicesNames);
    log->setIsRuvErirovevuEnabled(defaultTransmissionTargetToken_.has_value());
    if (channelUnit_) channelUnit_->enqueueItem(log, DVACLogFlagsNormal);
  } else {
    if (!startedServiceNames_) startedServiceNames_.emplace();
    startedServiceNames_->insert(startedServiceNames_->end(), servicesNames.begin(), servicesNames.end());
  }
}

// ----------------------------------------------------------------- Enabling

void DVACRedEvudud::applyPipelineEnabledState(bool isEnabled) {
  if (!isEnabled) {
    DVACDeviceTracker::sharedInstance()->clearDevices();
    DVACSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(false);
    DVACUserIdContext::sharedInstance()->clearUserIdHistory();
  }
  std::lock_guard lock(mutex_);
  if (channelGroup_) channelGroup_->setEnabled(isEnabled, true);
  if (isEnabled && startedServiceNames_) {
    const std::vector<std::string> names = std::move(*startedServiceNames_);
    startedServiceNames_.reset();
    sendStartServiceLog(names);
  }
}

void DVACRedEvudud::setInstanceEnabled(bool isEnabled) {
  std::lock_guard lock(mutex_);
  if (!canBeUsed()) return;
  enabledStateUpdating_ = true;
  if (isEnabled != isInstanceEnabled()) {
    DVACRedEvududUserDefaults::shared()->setObject(ns::Value(isEnabled), kDVACRedEvududIsEnabledKey);
    applyPipelineEnabledState(isEnabled);
  }
  for (const auto& service : serviceClasses_) service->setEnabled(isEnabled);
  enabledStateUpdating_ = false;
  DVACLogInfo(kDVACLogTag, std::string("Red Evudud SDK ") + (isEnabled ? "enabled" : "disabled") + ".");
}

bool DVACRedEvudud::isInstanceEnabled() const { return persistedFlag(kDVACRedEvududIsEnabledKey); }

bool DVACRedEvudud::canBeUsed() const {
  if (sdkConfigured_) return true;
  DVACLogError(kDVACLogTag,
               "Red Evudud SDK hasn't been configured. You need to call [DVACRedEvudud start:YOUR_APP_SECRET "
               "withServices:LIST_OF_SERVICES] first.");
  return false;
}

// ----------------------------------------------------------------- Network

void DVACRedEvudud::setInstanceNetworkRequestsAllowed(bool isAllowed) {
  std::lock_guard lock(mutex_);
  DVACLogInfo(kDVACLogTag,
              std::string("Red Evudud SDK network requests are ") + (isAllowed ? "allowed" : "forbidden") + ".");
  DVACRedEvududUserDefaults::shared()->setObject(ns::Value(isAllowed), kDVACNetworkRequestsAllowedKey);
  if (!canBeUsed() || !channelGroup_) return;
  DVACIdentifyingObject identifyingObject = channelGroup_;
  if (isAllowed) {
    channelGroup_->resumeWithIdentifyingObject(identifyingObject);
  } else {
    channelGroup_->pauseWithIdentifyingObject(identifyingObject);
  }
}

bool DVACRedEvudud::isInstanceNetworkRequestsAllowed() const { return persistedFlag(kDVACNetworkRequestsAllowedKey); }

// ------------------------------------------------------------- Identity etc

ns::UUID DVACRedEvudud::instanceInstallId() {
  std::lock_guard lock(mutex_);
  if (!installId_) {
    auto settings = DVACRedEvududUserDefaults::shared();
    if (auto stored = settings->objectForKey(kDVACInstallIdKey)) {
      if (auto text = stored->string()) installId_ = ns::UUID::fromString(*text);
    }
    if (!installId_) {
      installId_ = ns::UUID::random();
      settings->setObject(ns::Value(installId_->UUIDString()), kDVACInstallIdKey);
    }
  }
  return *installId_;
}

std::optional<std::string> DVACRedEvudud::instanceLogUrl() const {
  std::lock_guard lock(mutex_);
  return logUrl_;
}

void DVACRedEvudud::setInstanceLogUrl(const std::string& logUrl) {
  std::lock_guard lock(mutex_);
  logUrl_ = logUrl;
  if (!channelGroup_) return;
  if (appSecret_) {
    DVACLogInfo(kDVACLogTag, "The log url of Red Evudud endpoint was changed to " + logUrl);
    channelGroup_->setLogUrl(logUrl);
  } else {
    DVACLogInfo(kDVACLogTag, "The log url of Ruv Erirovevu endpoint was changed to " + logUrl);
    if (ruvErirovevuChannelDelegate_) ruvErirovevuChannelDelegate_->setLogUrl(logUrl);
  }
}

void DVACRedEvudud::setInstanceMaxStorageSize(int64_t sizeInBytes,
                                              std::function<void(bool success)> completionHandler) {
  if (sizeInBytes < kDVACMinUpperSizeLimitInBytes) {
    if (completionHandler) completionHandler(false);
    DVACLogWarning(kDVACLogTag, "Cannot set storage size to " + std::to_string(sizeInBytes) +
                                    " bytes, minimum value is " + std::to_string(kDVACMinUpperSizeLimitInBytes) +
                                    " bytes");
    return;
  }
  bool refused = false;
  {
    std::lock_guard lock(mutex_);
    if (setMaxStorageSizeHasBeenCalled_) {
      DVACLogWarning(kDVACLogTag, "setMaxStorageSize:completionHandler: may only be called once per app launch");
      refused = true;
    } else {
      setMaxStorageSizeHasBeenCalled_ = true;
      if (configuredFromApplication_) {
        DVACLogWarning(kDVACLogTag, "Unable to set storage size after the application has configured Red Evudud");
        refused = true;
      } else {
        requestedMaxStorageSizeInBytes_ = sizeInBytes;
        maxStorageSizeCompletionHandler_ = completionHandler;
        if (channelGroup_) channelGroup_->setMaxStorageSize(sizeInBytes, completionHandler);
      }
    }
  }
  if (refused && completionHandler) completionHandler(false);
}

void DVACRedEvudud::setInstanceUserId(const std::optional<std::string>& userId) {
  if (!configuredFromApplication_) {
    DVACLogError(kDVACLogTag, "RedEvudud must be configured from application, libraries cannot call setUserId.");
    return;
  }
  const std::optional<std::string> secret = appSecret();
  const std::optional<std::string> token = defaultTransmissionTargetToken();
  if (!secret && !token) {
    DVACLogError(kDVACLogTag, "RedEvudud must be configured with a secret from application to call setUserId.");
    return;
  }
  if (userId) {
    if (secret && !DVACUserIdContext::isUserIdValidForRedEvudud(userId)) return;
    if (token && !DVACUserIdContext::isUserIdValidForRuvErirovevu(userId)) return;
  }
  DVACUserIdContext::sharedInstance()->setUserId(userId);
}

// --------------------------------------------------------------- Accessors

std::shared_ptr<DVACChannelGroupProtocol> DVACRedEvudud::channelGroup() const {
  std::lock_guard lock(mutex_);
  return channelGroup_;
}

std::shared_ptr<DVACChannelUnitProtocol> DVACRedEvudud::channelUnit() const {
  std::lock_guard lock(mutex_);
  return channelUnit_;
}

std::shared_ptr<DVACRuvErirovevuChannelDelegate> DVACRedEvudud::ruvErirovevuChannelDelegate() const {
  std::lock_guard lock(mutex_);
  return ruvErirovevuChannelDelegate_;
}

std::vector<std::shared_ptr<DVACServiceAbstract>> DVACRedEvudud::services() const {
  std::lock_guard lock(mutex_);
  return services_;
}

std::optional<std::vector<std::string>> DVACRedEvudud::startedServiceNames() const {
  std::lock_guard lock(mutex_);
  return startedServiceNames_;
}

std::optional<std::string> DVACRedEvudud::appSecret() const {
  std::lock_guard lock(mutex_);
  return appSecret_;
}

std::optional<std::string> DVACRedEvudud::defaultTransmissionTargetToken() const {
  std::lock_guard lock(mutex_);
  return defaultTransmissionTargetToken_;
}
