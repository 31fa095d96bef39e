#pragma once
// The base class of every SDK service: a persisted enabled state, the channel
// group and unit the service logs through, the app secret and default
// transmission target token it was started with, and whether it has been
// started and by whom.
//
// The enabled state is kept in the SDK settings under "<group id>IsEnabled";
// an absent key means enabled.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "RedEvudud/RedEvudud/DVACService.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitProtocol.h"

class DVACServiceAbstract : public DVACServiceInternal, public std::enable_shared_from_this<DVACServiceAbstract> {
 public:
  ~DVACServiceAbstract() override = default;
  DVACServiceAbstract(const DVACServiceAbstract&) = delete;
  DVACServiceAbstract& operator=(const DVACServiceAbstract&) = delete;

  // ---- Supplied by the subclass --------------------------------------------
  virtual std::string groupId() const = 0;
  // The class's name; the service name in messages is this without its
  // first four characters.
  virtual std::string className() const = 0;
  // A service without one gets no unit of its own.
  virtual std::shared_ptr<const DVACChannelUnitConfiguration> channelUnitConfiguration() const { return nullptr; }

  // ---- DVACServiceInternal ---------------------------------------------------
  int64_t initializationPriority() const override { return 500; }
  bool isAppSecretRequired() const override { return true; }
  bool isAvailable() const override;
  bool isStartedFromApplication() const override;
  void startWithChannelGroup(const std::shared_ptr<DVACChannelGroupProtocol>& channelGroup,
                             const std::optional<std::string>& appSecret,
                             const std::optional<std::string>& transmissionTargetToken, bool fromApplication) override;
  void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                        const std::optional<std::string>& transmissionTargetToken) override;

  // ---- Instance state --------------------------------------------------------
  bool isEnabled() const;
  // Only a change does anything: applyEnabledState first (isEnabled still
  // answers the old value meanwhile), then the new value is stored.
  void setEnabled(bool isEnabled);
  // Switches the unit, deleting its logs when switching off. Subclasses call
  // this first.
  virtual void applyEnabledState(bool isEnabled);
  // The SDK is configured and this service started; logs why not.
  bool canBeUsed() const;
  // "<group id>IsEnabled"
  std::string isEnabledKey() const { return groupId() + "IsEnabled"; }

  std::shared_ptr<DVACChannelGroupProtocol> channelGroup() const;
  void setChannelGroup(std::shared_ptr<DVACChannelGroupProtocol> channelGroup);
  std::shared_ptr<DVACChannelUnitProtocol> channelUnit() const;
  void setChannelUnit(std::shared_ptr<DVACChannelUnitProtocol> channelUnit);
  std::optional<std::string> appSecret() const;
  void setAppSecret(std::optional<std::string> appSecret);
  std::optional<std::string> defaultTransmissionTargetToken() const;
  void setDefaultTransmissionTargetToken(std::optional<std::string> token);
  bool isStarted() const;
  void setStarted(bool started);
  void setStartedFromApplication(bool startedFromApplication);

  // What @synchronized on the shared instance stands for: the class-level
  // switch holds it.
  std::recursive_mutex& synchronizationLock() const { return synchronizationLock_; }

  // The class-level operations, for the service's shared instance.
  static void setEnabled(const std::shared_ptr<DVACServiceAbstract>& sharedInstance, bool isEnabled);
  static bool isEnabled(const std::shared_ptr<DVACServiceAbstract>& sharedInstance);

 protected:
  DVACServiceAbstract() = default;
  std::string shortServiceName() const;

 private:
  mutable std::recursive_mutex synchronizationLock_;
  mutable std::mutex stateMutex_;
  bool startedFromApplication_ = false;
  bool started_ = false;
  std::shared_ptr<DVACChannelGroupProtocol> channelGroup_;
  std::shared_ptr<DVACChannelUnitProtocol> channelUnit_;
  std::optional<std::string> appSecret_;
  std::optional<std::string> defaultTransmissionTargetToken_;
};
