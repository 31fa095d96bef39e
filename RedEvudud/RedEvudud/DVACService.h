#pragma once
// How the SDK entry sees a service.
//
// DVACServiceCommon is the service *class*: the calls the application and
// the SDK make on the class itself (its shared instance, its name, and
// switching it on and off). DVACServiceInternal is what the SDK needs of the
// shared instance to start it. A concrete service offers a class object,
// typically a static DVACServiceClassOf<Service>, and hands it to
// DVACRedEvudud::start.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class DVACChannelGroupProtocol;
class DVACChannelUnitConfiguration;
class DVACServiceAbstract;

class DVACServiceInternal {
 public:
  virtual ~DVACServiceInternal() = default;
  // Higher starts first.
  virtual int64_t initializationPriority() const = 0;
  virtual bool isAppSecretRequired() const = 0;
  virtual bool isAvailable() const = 0;
  virtual bool isStartedFromApplication() const = 0;
  virtual void startWithChannelGroup(const std::shared_ptr<DVACChannelGroupProtocol>& channelGroup,
                                     const std::optional<std::string>& appSecret,
                                     const std::optional<std::string>& transmissionTargetToken,
                                     bool fromApplication) = 0;
  virtual void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                                const std::optional<std::string>& transmissionTargetToken) = 0;
};

class DVACServiceCommon {
 public:
  virtual ~DVACServiceCommon() = default;
  // The class's name, "DVACAnalytics".
  virtual std::string className() const = 0;
  virtual std::shared_ptr<DVACServiceAbstract> sharedInstance() const = 0;
  // "Analytics"
  virtual std::string serviceName() const = 0;
  virtual std::string logTag() const = 0;
  // The class-level switch: refused (logged) unless the service can be used
  // and the SDK is enabled or is itself cascading its state.
  virtual void setEnabled(bool isEnabled) const;
  // False (logged) when the service cannot be used.
  virtual bool isEnabled() const;
};

using DVACServiceClass = std::shared_ptr<const DVACServiceCommon>;

// The class object of a service type that offers the static functions
// sharedInstance(), serviceName() and logTag(), and kClassName.
template <typename Service>
class DVACServiceClassOf final : public DVACServiceCommon {
 public:
  std::string className() const override { return Service::kClassName; }
  std::shared_ptr<DVACServiceAbstract> sharedInstance() const override { return Service::sharedInstance(); }
  std::string serviceName() const override { return Service::serviceName(); }
  std::string logTag() const override { return Service::logTag(); }

  static DVACServiceClass make() { return std::make_shared<DVACServiceClassOf<Service>>(); }
};
