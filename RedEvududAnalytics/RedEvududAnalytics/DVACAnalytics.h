#pragma once
// The usage-analytics service: one process-wide instance, started by the SDK
// entry beside the crash service. It turns the application's calls (track an
// event with its properties, track a page) into event and page logs, checks
// them and hands them to its two channel units: "Analytics", and
// "Analytics_critical" for critical events. It owns the session tracker that
// stamps every log with the current session, the transmission targets made
// for tokens, and the switch for automatic page tracking.
//
// The application calls the class-level (static) operations. The instance
// operations behind them that would share a name carry "Instance" in
// theirs. Tracking, page tracking, pause and resume hold the service's lock
// (the base's synchronization lock, also held by the class-level switch) for
// their whole run, so switching the service and tracking never interleave.
// Nothing that holds another lock of the SDK ever waits for this one, except
// the SDK entry's own lock, which is always taken first.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "RedEvudud/RedEvudud/DVACServiceAbstract.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvudud/RedEvudud/Model/DVACLogFlags.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalyticsDelegate.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Internals/Session/DVACSessionTrackerDelegate.h"
#include "platform/foundation/Value.h"

class DVACAnalyticsTransmissionTarget;
class DVACEventProperties;
class DVACLogWithNameAndProperties;
class DVACSessionTracker;
class DVACTypedProperty;

inline constexpr const char* kDVACAnalyticsServiceName = "Analytics";
inline constexpr const char* kDVACAnalyticsGroupId = "Analytics";
inline constexpr const char* kDVACAnalyticsLogTag = "RedEvududAnalytics";
inline constexpr const char* kDVACAnalyticsCriticalGroupId = "Analytics_critical";
// The flush interval a caller may choose, in seconds.
inline constexpr uint32_t kDVACFlushIntervalMinimum = 6;
inline constexpr uint32_t kDVACFlushIntervalMaximum = 86400;
// Limits of the checks on the way to the Red Evudud ingestion.
inline constexpr size_t kDVACMaxEventNameLength = 256;
inline constexpr size_t kDVACMaxTypedPropertiesPerEvent = 20;
inline constexpr size_t kDVACMaxTypedPropertyKeyLength = 125;
inline constexpr size_t kDVACMaxTypedPropertyValueLength = 125;

class DVACAnalytics : public DVACServiceAbstract, public DVACChannelDelegate, public DVACSessionTrackerDelegate {
 public:
  static constexpr const char* kClassName = "DVACAnalytics";

  // ---- Class level -----------------------------------------------------------
  // Made once, on first use.
  static std::shared_ptr<DVACAnalytics> sharedInstance();
  // The shared instance's lock, which the transmission targets and their
  // property configurators take as well.
  static std::recursive_mutex& sharedSynchronizationLock() { return sharedInstance()->synchronizationLock(); }
  // Stops the session tracker and forgets the instance; the next use makes a
  // fresh one.
  static void resetSharedInstance();
  static std::string serviceName() { return kDVACAnalyticsServiceName; }
  static std::string logTag() { return kDVACAnalyticsLogTag; }
  // The class object the SDK entry is started with.
  static DVACServiceClass serviceClass();

  // Refused (logged) unless the service can be used and the SDK is enabled
  // or is cascading its own state; propagates to the transmission targets.
  // The class-level reading is serviceClass()->isEnabled(): a static
  // isEnabled() here would hide the instance's own.
  static void setEnabled(bool isEnabled);

  // Flags 1 unless given; only the low 8 bits count, and anything but 1
  // (normal) or 2 (critical) there is sent as normal.
  static void trackEvent(const std::optional<std::string>& eventName);
  static void trackEvent(const std::optional<std::string>& eventName,
                         const std::optional<DVACPropertiesDictionary>& properties);
  static void trackEvent(const std::optional<std::string>& eventName,
                         const std::optional<DVACPropertiesDictionary>& properties, DVACLogFlags flags);
  static void trackEvent(const std::optional<std::string>& eventName,
                         const std::shared_ptr<DVACEventProperties>& typedProperties);
  static void trackEvent(const std::optional<std::string>& eventName,
                         const std::shared_ptr<DVACEventProperties>& typedProperties, DVACLogFlags flags);
  static void trackEvent(const std::optional<std::string>& eventName,
                         const std::optional<DVACPropertiesDictionary>& properties,
                         const std::shared_ptr<DVACAnalyticsTransmissionTarget>& transmissionTarget,
                         DVACLogFlags flags);
  static void trackEvent(const std::optional<std::string>& eventName,
                         const std::shared_ptr<DVACEventProperties>& typedProperties,
                         const std::shared_ptr<DVACAnalyticsTransmissionTarget>& transmissionTarget,
                         DVACLogFlags flags);
  static void trackPage(const std::optional<std::string>& pageName);
  static void trackPage(const std::optional<std::string>& pageName,
                        const std::optional<DVACPropertiesDictionary>& properties);
  static void pause();
  static void resume();
  static void startSession();
  static void enableManualSessionTracker();
  static void setAutoPageTrackingEnabled(bool isEnabled);
  static bool isAutoPageTrackingEnabled();
  static uint64_t transmissionInterval();
  static void setTransmissionInterval(uint32_t interval);
  static std::shared_ptr<DVACAnalyticsTransmissionTarget> transmissionTargetForToken(const std::string& token);
  static void pauseTransmissionTargetForToken(const std::string& token);
  static void resumeTransmissionTargetForToken(const std::string& token);
  static void setDelegate(std::shared_ptr<DVACAnalyticsDelegate> delegate);

  // ---- The service -------------------------------------------------------------
  std::string groupId() const override { return kDVACAnalyticsGroupId; }
  std::string className() const override { return kClassName; }
  std::shared_ptr<const DVACChannelUnitConfiguration> channelUnitConfiguration() const override;
  // A transmission target token alone is enough to start it.
  bool isAppSecretRequired() const override { return false; }
  // Makes both units before either is switched, so the critical unit always
  // follows the service's state.
  void startWithChannelGroup(const std::shared_ptr<DVACChannelGroupProtocol>& channelGroup,
                             const std::optional<std::string>& appSecret,
                             const std::optional<std::string>& transmissionTargetToken, bool fromApplication) override;
  void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                        const std::optional<std::string>& transmissionTargetToken) override;
  // Both units; when started from the application, also the session tracker,
  // the channel-group registrations and the catch-up of a missed page.
  void applyEnabledState(bool isEnabled) override;
  // The base switch, then every target's (also when the value stays).
  void setInstanceEnabled(bool isEnabled);

  // ---- Tracking ------------------------------------------------------------------
  // The properties are a dictionary of any values; pairs that are not text
  // to text are dropped first.
  void trackInstanceEvent(const std::optional<std::string>& eventName, const std::optional<ns::Value>& properties,
                          const std::shared_ptr<DVACAnalyticsTransmissionTarget>& transmissionTarget,
                          DVACLogFlags flags);
  void trackInstanceEvent(const std::optional<std::string>& eventName,
                          const std::shared_ptr<DVACEventProperties>& typedProperties,
                          const std::shared_ptr<DVACAnalyticsTransmissionTarget>& transmissionTarget,
                          DVACLogFlags flags);
  void trackInstancePage(const std::optional<std::string>& pageName, const std::optional<ns::Value>& properties);
  // To the critical unit when bit 2 of the flags is set, else the default one.
  void sendLog(const std::shared_ptr<DVACLog>& log, DVACLogFlags flags);
  void pauseInstance();
  void resumeInstance();
  // Only before start, and within 6 s to 1 day.
  void setInstanceTransmissionInterval(uint32_t interval);

  // ---- Transmission targets ----------------------------------------------------
  std::shared_ptr<DVACAnalyticsTransmissionTarget> instanceTransmissionTargetForToken(const std::string& token);
  std::shared_ptr<DVACAnalyticsTransmissionTarget> createTransmissionTargetForToken(const std::string& token);
  void pauseInstanceTransmissionTargetForToken(const std::string& token);
  void resumeInstanceTransmissionTargetForToken(const std::string& token);
  // The "/one" twins of the two units, looked up once.
  std::shared_ptr<DVACChannelUnitProtocol> ruvErirovevuChannelUnit();
  std::shared_ptr<DVACChannelUnitProtocol> ruvErirovevuCriticalChannelUnit();

  // ---- Validation ----------------------------------------------------------------
  // Text keys to text values only; an absent (null) value is reported.
  DVACPropertiesDictionary removeInvalidProperties(const std::optional<ns::Value>& properties);
  // The event or page name checked and cut, the string properties limited;
  // false leaves the log untouched and keeps it out.
  bool validateLog(DVACLogWithNameAndProperties& log);
  // None for an absent or empty name; cut to 256 UTF-16 units.
  std::optional<std::string> validateEventName(const std::optional<std::string>& eventName,
                                               const std::string& logType);
  DVACPropertiesDictionary validateProperties(const std::optional<DVACPropertiesDictionary>& properties,
                                              const std::string& logName, const std::string& logType);
  // At most 20, each through validateRedEvududTypedProperty.
  std::shared_ptr<DVACEventProperties> validateRedEvududEventProperties(
      const std::shared_ptr<DVACEventProperties>& eventProperties);
  // A new property of the same kind with its name and text value cut; none
  // for a kind it does not know.
  std::shared_ptr<DVACTypedProperty> validateRedEvududTypedProperty(
      const std::shared_ptr<DVACTypedProperty>& typedProperty);
  std::optional<std::string> validateRedEvududPropertyName(const std::optional<std::string>& propertyKey);
  std::optional<std::string> validateRedEvududStringTypedPropertyValue(const std::optional<std::string>& value);

  // ---- Channel delegate ------------------------------------------------------------
  void channelWillSendLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                          const std::shared_ptr<DVACLog>& log) override;
  void channelDidSucceedSendingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                   const std::shared_ptr<DVACLog>& log) override;
  void channelDidFailSendingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                const std::shared_ptr<DVACLog>& log, const std::optional<ns::Error>& error) override;
  // Event and page logs that fail validateLog are kept out.
  bool channelUnitShouldFilterLog(const std::shared_ptr<DVACChannelUnitProtocol>& channelUnit,
                                  const std::shared_ptr<DVACLog>& log) override;

  // ---- Session tracker delegate ----------------------------------------------------
  void sessionTrackerProcessLog(DVACSessionTracker& sessionTracker, const std::shared_ptr<DVACLog>& log) override;

  // ---- State ---------------------------------------------------------------------
  bool autoPageTrackingEnabled() const;
  void setInstanceAutoPageTrackingEnabled(bool isEnabled);
  uint64_t flushInterval() const;
  std::shared_ptr<DVACSessionTracker> sessionTracker() const { return sessionTracker_; }
  std::shared_ptr<DVACAnalyticsDelegate> delegate() const;
  void setInstanceDelegate(std::shared_ptr<DVACAnalyticsDelegate> delegate);
  std::map<std::string, std::shared_ptr<DVACAnalyticsTransmissionTarget>> transmissionTargets() const;
  std::shared_ptr<DVACAnalyticsTransmissionTarget> defaultTransmissionTarget() const;
  std::shared_ptr<DVACChannelUnitProtocol> criticalChannelUnit() const;

  ~DVACAnalytics() override;
  DVACAnalytics(const DVACAnalytics&) = delete;
  DVACAnalytics& operator=(const DVACAnalytics&) = delete;

 private:
  DVACAnalytics();
  // The steps of init that need the object to be shared already.
  void init();
  std::shared_ptr<DVACAnalytics> self();

  // Leaf lock for the fields below; never held while calling out.
  mutable std::mutex fieldsMutex_;
  bool autoPageTrackingEnabled_ = false;
  std::shared_ptr<const DVACChannelUnitConfiguration> channelUnitConfiguration_;
  std::shared_ptr<DVACSessionTracker> sessionTracker_;
  std::shared_ptr<DVACAnalyticsDelegate> delegate_;
  uint64_t flushInterval_ = kDVACFlushIntervalMinimum;
  std::shared_ptr<DVACAnalyticsTransmissionTarget> defaultTransmissionTarget_;
  std::shared_ptr<DVACChannelUnitProtocol> ruvErirovevuChannelUnit_;
  std::shared_ptr<DVACChannelUnitProtocol> ruvErirovevuCriticalChannelUnit_;
  std::shared_ptr<DVACChannelUnitProtocol> criticalChannelUnit_;
  // Changed and read under the service's lock.
  std::map<std::string, std::shared_ptr<DVACAnalyticsTransmissionTarget>> transmissionTargets_;
};
