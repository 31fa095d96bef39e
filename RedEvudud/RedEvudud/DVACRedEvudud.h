#pragma once
// The entry of the telemetry client: one process-wide instance that is
// configured with the app secret, builds the channel group and the core unit
// "RedEvudud", starts the services in order of their initialization priority
// and sends one start-service log naming them. It also owns the switches
// that outlive a launch: enabled state, network requests allowed, install id.
//
// The application calls the class-level (static) operations. The instance
// operations behind them that would share a name carry "Instance" in theirs.
// Instance operations other than setInstanceUserId run under one recursive
// lock. What other locks' holders ask of the SDK (is it configured, is it
// enabled, are network requests allowed, is it cascading its enabled state)
// is answered without that lock, so no other lock is ever taken in the
// opposite order.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/DVACService.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "platform/foundation/Value.h"

class DVACChannelGroupProtocol;
class DVACChannelUnitProtocol;
class DVACRuvErirovevuChannelDelegate;
class DVACServiceAbstract;
class DVACWrapperSdk;

inline constexpr const char* kDVACRedEvududGroupId = "RedEvudud";
inline constexpr int64_t kDVACMinUpperSizeLimitInBytes = 24 * 1024;
inline constexpr const char* kDVACDisableVariable = "RED_EVUDUD_DISABLE";
inline constexpr const char* kDVACDisableAll = "All";
inline constexpr const char* kDVACRunningInRedEvududEnvironmentVariable = "RUNNING_IN_RED_EVUDUD";

class DVACRedEvudud : public std::enable_shared_from_this<DVACRedEvudud> {
 public:
  using DVACServiceList = std::vector<DVACServiceClass>;

  // ---- Class level -----------------------------------------------------------
  static std::shared_ptr<DVACRedEvudud> sharedInstance();
  // Drops the shared instance; the next use makes a fresh one.
  static void resetSharedInstance();

  // The string holds the app secret and/or "target=<token>", ";"-separated.
  static void start(const std::optional<std::string>& appSecret, const DVACServiceList& services);
  static void startWithServices(const DVACServiceList& services);
  static void startFromLibraryWithServices(const DVACServiceList& services);
  // One more service with the stored secret and token.
  static void startService(const DVACServiceClass& service);
  static void configureWithAppSecret(const std::optional<std::string>& appSecret);
  static void configure();
  static bool isConfigured();

  static bool isEnabled();
  static void setEnabled(bool isEnabled);
  static bool isNetworkRequestsAllowed();
  static void setNetworkRequestsAllowed(bool isAllowed);
  static ns::UUID installId();
  static std::optional<std::string> logUrl();
  static void setLogUrl(const std::string& logUrl);
  static void setUserId(const std::optional<std::string>& userId);
  static std::optional<std::string> userId();
  static void setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool success)> completionHandler);
  // Waits, at most `timeoutSeconds`, until the log work queued so far has run
  // (above all, storing the logs already enqueued), so that a process about
  // to end loses none of them. True when it has, or when there is no SDK.
  static bool waitUntilLogsStored(double timeoutSeconds);

  static DVACLogLevel logLevel();
  // Also flushes the delegate forwarder's buffered traces.
  static void setLogLevel(DVACLogLevel logLevel);
  static DVACLogHandler logHandler();
  static void setLogHandler(DVACLogHandler logHandler);
  static void setWrapperSdk(std::shared_ptr<DVACWrapperSdk> wrapperSdk);
  static std::shared_ptr<DVACWrapperSdk> wrapperSdk();
  static void setCountryCode(std::optional<std::string> countryCode);
  static std::optional<std::string> countryCode();
  static bool isAppDelegateForwarderEnabled();
  // "RUNNING_IN_RED_EVUDUD" is "1".
  static bool isRunningInRedEvududTestCloud();
  // Whether a tracer is attached to this process; computed once.
  static bool isDebuggerAttached();
  static std::string sdkVersion();
  static std::string logTag() { return kDVACLogTag; }
  static std::string groupId() { return kDVACRedEvududGroupId; }

  // ---- Instance --------------------------------------------------------------
  bool configureWithAppSecret(const std::optional<std::string>& appSecret,
                              const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
  void start(const std::optional<std::string>& appSecret, const DVACServiceList& services, bool fromApplication);
  void startServices(const DVACServiceList& services, const std::optional<std::string>& appSecret,
                     const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
  bool startService(const DVACServiceClass& service, const std::optional<std::string>& appSecret,
                    const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
  // By descending priority; services of equal priority keep their order.
  static DVACServiceList sortServices(const DVACServiceList& services);
  void initializeChannelGroup();
  void applyPipelineEnabledState(bool isEnabled);
  void setInstanceEnabled(bool isEnabled);
  // The persisted state ("RedEvududIsEnabled"); absent means enabled.
  bool isInstanceEnabled() const;
  void setInstanceNetworkRequestsAllowed(bool isAllowed);
  // The persisted "NetworkRequestsAllowed"; absent means allowed. Takes no lock.
  bool isInstanceNetworkRequestsAllowed() const;
  ns::UUID instanceInstallId();
  std::optional<std::string> instanceLogUrl() const;
  void setInstanceLogUrl(const std::string& logUrl);
  void setInstanceMaxStorageSize(int64_t sizeInBytes, std::function<void(bool success)> completionHandler);
  void setInstanceUserId(const std::optional<std::string>& userId);
  bool canBeUsed() const;
  void sendStartServiceLog(const std::vector<std::string>& servicesNames);
  // "RED_EVUDUD_DISABLE" names the service (pieces split at ",", trimmed) or
  // holds "All".
  static bool shouldDisable(const std::string& serviceName);

  bool isSdkConfigured() const { return sdkConfigured_.load(); }
  bool isConfiguredFromApplication() const { return configuredFromApplication_.load(); }
  bool isEnabledStateUpdating() const { return enabledStateUpdating_.load(); }

  std::shared_ptr<DVACChannelGroupProtocol> channelGroup() const;
  std::shared_ptr<DVACChannelUnitProtocol> channelUnit() const;
  std::shared_ptr<DVACRuvErirovevuChannelDelegate> ruvErirovevuChannelDelegate() const;
  std::vector<std::shared_ptr<DVACServiceAbstract>> services() const;
  std::optional<std::vector<std::string>> startedServiceNames() const;
  std::optional<std::string> appSecret() const;
  std::optional<std::string> defaultTransmissionTargetToken() const;

  ~DVACRedEvudud();
  DVACRedEvudud(const DVACRedEvudud&) = delete;
  DVACRedEvudud& operator=(const DVACRedEvudud&) = delete;

 private:
  DVACRedEvudud();

  mutable std::recursive_mutex mutex_;
  std::atomic<bool> sdkConfigured_{false};
  std::atomic<bool> configuredFromApplication_{false};
  std::atomic<bool> enabledStateUpdating_{false};
  bool setMaxStorageSizeHasBeenCalled_ = false;
  std::optional<ns::UUID> installId_;
  std::optional<std::string> logUrl_;
  std::shared_ptr<DVACChannelUnitProtocol> channelUnit_;
  std::shared_ptr<DVACRuvErirovevuChannelDelegate> ruvErirovevuChannelDelegate_;
  std::shared_ptr<DVACChannelGroupProtocol> channelGroup_;
  std::vector<std::shared_ptr<DVACServiceAbstract>> services_;
  std::vector<DVACServiceClass> serviceClasses_;
  std::optional<std::vector<std::string>> startedServiceNames_;
  std::optional<std::string> appSecret_;
  std::optional<std::string> defaultTransmissionTargetToken_;
  std::optional<int64_t> requestedMaxStorageSizeInBytes_;
  std::function<void(bool)> maxStorageSizeCompletionHandler_;
};
