#pragma once
// A transmission target: events sent to a Common Schema tenant named by a
// target token. Targets form trees; each has a persisted enabled state under
// its parent's (and, at the top, the analytics service's), and a property
// configurator whose overrides are stamped on the Common Schema logs made
// for its token. One process-wide authentication provider may attach a
// ticket to those logs.
//
// Enabled state, the child map and the configurators' properties are all
// guarded by the analytics service's lock.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvudud/RedEvudud/Model/DVACLogFlags.h"
#include "platform/foundation/Value.h"

class DVACAnalyticsAuthenticationProvider;
class DVACChannelGroupProtocol;
class DVACEventProperties;
class DVACPropertyConfigurator;

class DVACAnalyticsTransmissionTarget : public ns::Object,
                                        public DVACChannelDelegate,
                                        public std::enable_shared_from_this<DVACAnalyticsTransmissionTarget> {
 public:
  // A target born under a disabled parent (or service) is stored disabled.
  // The configurator and the target are registered as channel delegates.
  static std::shared_ptr<DVACAnalyticsTransmissionTarget> initWithTransmissionTargetToken(
      const std::string& token, const std::shared_ptr<DVACAnalyticsTransmissionTarget>& parentTarget,
      const std::shared_ptr<DVACChannelGroupProtocol>& channelGroup);
  ~DVACAnalyticsTransmissionTarget() override;
  DVACAnalyticsTransmissionTarget(const DVACAnalyticsTransmissionTarget&) = delete;
  DVACAnalyticsTransmissionTarget& operator=(const DVACAnalyticsTransmissionTarget&) = delete;

  // The child for the token, made on first use.
  std::shared_ptr<DVACAnalyticsTransmissionTarget> transmissionTargetForToken(const std::string& token);

  // Flags 1 unless given. The default properties of this target and its
  // ancestors go under the caller's, the nearest target winning.
  void trackEvent(const std::optional<std::string>& eventName);
  void trackEvent(const std::optional<std::string>& eventName,
                  const std::optional<DVACPropertiesDictionary>& properties);
  void trackEvent(const std::optional<std::string>& eventName,
                  const std::optional<DVACPropertiesDictionary>& properties, DVACLogFlags flags);
  void trackEvent(const std::optional<std::string>& eventName,
                  const std::shared_ptr<DVACEventProperties>& typedProperties);
  void trackEvent(const std::optional<std::string>& eventName,
                  const std::shared_ptr<DVACEventProperties>& typedProperties, DVACLogFlags flags);

  // The stored state; absent means enabled.
  bool isEnabled() const;
  // Refused (logged) when enabling under a disabled parent; otherwise stored,
  // and every child gets the same value.
  void setEnabled(bool isEnabled);
  void pause();
  void resume();
  // The parent's state, or the service's at the top.
  bool isImmediateParent() const;

  // Adds the authentication ticket key to this target's Common Schema logs.
  void channelPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                         const std::shared_ptr<DVACLog>& log) override;

  static void addAuthenticationProvider(const std::shared_ptr<DVACAnalyticsAuthenticationProvider>& provider);
  static std::shared_ptr<DVACAnalyticsAuthenticationProvider> authenticationProvider();
  static void setAuthenticationProvider(std::shared_ptr<DVACAnalyticsAuthenticationProvider> provider);

  const std::shared_ptr<DVACPropertyConfigurator>& propertyConfigurator() const { return propertyConfigurator_; }
  // Held weakly: a parent keeps its children, and is itself kept by its own
  // parent or by the service for as long as its children are reachable.
  std::shared_ptr<DVACAnalyticsTransmissionTarget> parentTarget() const { return parentTarget_.lock(); }
  std::map<std::string, std::shared_ptr<DVACAnalyticsTransmissionTarget>> childTransmissionTargets() const;
  // "AnalyticsIsEnabled/<target key>"
  const std::string& isEnabledKey() const { return isEnabledKey_; }
  const std::shared_ptr<DVACChannelGroupProtocol>& channelGroup() const { return channelGroup_; }
  const std::string& transmissionTargetToken() const { return transmissionTargetToken_; }

  std::string className() const override { return "DVACAnalyticsTransmissionTarget"; }

 private:
  DVACAnalyticsTransmissionTarget(std::string token, std::shared_ptr<DVACAnalyticsTransmissionTarget> parentTarget,
                                  std::shared_ptr<DVACChannelGroupProtocol> channelGroup);
  void init();

  std::shared_ptr<DVACPropertyConfigurator> propertyConfigurator_;
  const std::weak_ptr<DVACAnalyticsTransmissionTarget> parentTarget_;
  const bool hasParent_;
  std::map<std::string, std::shared_ptr<DVACAnalyticsTransmissionTarget>> childTransmissionTargets_;
  const std::string isEnabledKey_;
  const std::shared_ptr<DVACChannelGroupProtocol> channelGroup_;
  const std::string transmissionTargetToken_;
};
