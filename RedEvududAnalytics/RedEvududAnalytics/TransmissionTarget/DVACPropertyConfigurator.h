#pragma once
// The overrides of one transmission target: application version, name and
// locale, user id, device id and default event properties. It stamps them on
// the Common Schema logs its target tagged, looking each value up from the
// target through its ancestors (the device id is the target's own).

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelDelegate.h"
#include "platform/foundation/Value.h"

class DVACAnalyticsTransmissionTarget;
class DVACEventProperties;

class DVACPropertyConfigurator : public DVACChannelDelegate {
 public:
  // The target is held weakly.
  explicit DVACPropertyConfigurator(const std::shared_ptr<DVACAnalyticsTransmissionTarget>& transmissionTarget);
  static std::shared_ptr<DVACPropertyConfigurator> initWithTransmissionTarget(
      const std::shared_ptr<DVACAnalyticsTransmissionTarget>& transmissionTarget);

  void setAppVersion(std::optional<std::string> appVersion);
  void setAppName(std::optional<std::string> appName);
  void setAppLocale(std::optional<std::string> appLocale);
  // Only an id valid for Common Schema is taken, with "c:" added when it has
  // no prefix; a refused one leaves the stored id as it was.
  void setUserId(const std::optional<std::string>& userId);

  // The default event properties, with the rules of an event's property set.
  void setEventPropertyString(const std::optional<std::string>& value, const std::optional<std::string>& key);
  void setEventPropertyDouble(double value, const std::optional<std::string>& key);
  void setEventPropertyInt64(int64_t value, const std::optional<std::string>& key);
  void setEventPropertyBool(bool value, const std::optional<std::string>& key);
  void setEventPropertyDate(const std::optional<ns::Date>& value, const std::optional<std::string>& key);
  void removeEventPropertyForKey(const std::optional<std::string>& key);

  // The device id becomes "u:" and the machine's identifier.
  void collectDeviceId();
  static std::string getDeviceIdentifier();

  // Adds the default properties whose names the set does not have yet.
  void mergeTypedPropertiesWith(DVACEventProperties& mergedProperties) const;

  void channelPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                         const std::shared_ptr<DVACLog>& log) override;

  std::optional<std::string> appVersion() const;
  std::optional<std::string> appName() const;
  std::optional<std::string> appLocale() const;
  std::optional<std::string> userId() const;
  std::optional<std::string> deviceId() const;
  std::shared_ptr<DVACAnalyticsTransmissionTarget> transmissionTarget() const { return transmissionTarget_.lock(); }
  const std::shared_ptr<DVACEventProperties>& eventProperties() const { return eventProperties_; }

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> appVersion_;
  std::optional<std::string> appName_;
  std::optional<std::string> appLocale_;
  std::optional<std::string> userId_;
  const std::weak_ptr<DVACAnalyticsTransmissionTarget> transmissionTarget_;
  const std::shared_ptr<DVACEventProperties> eventProperties_;
  std::optional<std::string> deviceId_;
};
