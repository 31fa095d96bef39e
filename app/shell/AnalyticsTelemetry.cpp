#include "app/shell/AnalyticsManager.h"

#if MORVALENT_SHELL_TELEMETRY
#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"
#endif

namespace {

#if MORVALENT_SHELL_TELEMETRY

// Every call goes to the SDK's class-level operations.
class RedEvududTelemetry final : public AnalyticsTelemetry {
 public:
  // Until then events are dropped quietly, as a stopped service would.
  static bool analyticsStarted() { return DVACAnalytics::sharedInstance()->isStarted(); }

  void start(const std::string& appSecret) override { DVACRedEvudud::start(appSecret, {DVACCrashes::serviceClass()}); }
  void setAnalyticsEnabled(bool enabled) override {
    if (!analyticsStarted()) DVACRedEvudud::startService(DVACAnalytics::serviceClass());
    DVACAnalytics::setEnabled(enabled);
  }
  void setCrashesEnabled(bool enabled) override { DVACCrashes::serviceClass()->setEnabled(enabled); }
  void setUserConfirmationHandler(UserConfirmationHandler handler) override {
    if (!handler) {
      DVACCrashes::setUserConfirmationHandler(nullptr);
      return;
    }
    DVACCrashes::setUserConfirmationHandler(
        [handler = std::move(handler)](const DVACErrorReports& reports) { return handler(reports); });
  }
  void notifyWithUserConfirmation(UserConfirmation confirmation) override {
    DVACCrashes::notifyWithUserConfirmation(static_cast<DVACUserConfirmation>(confirmation));
  }
  void postponeUserConfirmation() override { DVACCrashes::postponeUserConfirmation(); }
  void trackEvent(const std::string& name) override {
    if (analyticsStarted()) DVACAnalytics::trackEvent(name);
  }
  void trackEvent(const std::string& name, const Properties& properties) override {
    if (!analyticsStarted()) return;
    DVACAnalytics::trackEvent(name, DVACPropertiesDictionary(properties.begin(), properties.end()));
  }
  void trackEvent(const std::string& name, const Properties& properties, int flags) override {
    if (!analyticsStarted()) return;
    DVACAnalytics::trackEvent(name, DVACPropertiesDictionary(properties.begin(), properties.end()),
                              static_cast<DVACLogFlags>(flags));
  }
  bool waitUntilEventsStored(double timeoutSeconds) override {
    return DVACRedEvudud::waitUntilLogsStored(timeoutSeconds);
  }
};

#else

// The telemetry services are not part of this build: nothing is sent.
class RedEvududTelemetry final : public AnalyticsTelemetry {
 public:
  void start(const std::string&) override {}
  void setAnalyticsEnabled(bool) override {}
  void setCrashesEnabled(bool) override {}
  void setUserConfirmationHandler(UserConfirmationHandler) override {}
  void notifyWithUserConfirmation(UserConfirmation) override {}
  void postponeUserConfirmation() override {}
  void trackEvent(const std::string&) override {}
  void trackEvent(const std::string&, const Properties&) override {}
  void trackEvent(const std::string&, const Properties&, int) override {}
};

#endif

}  // namespace

std::shared_ptr<AnalyticsTelemetry> AnalyticsTelemetry::redEvudud() {
  static const auto client = std::make_shared<RedEvududTelemetry>();
  return client;
}
