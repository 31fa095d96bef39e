#include "app/shell/AnalyticsManager.h"

#include <mutex>

#include "platform/appkit/NSAlert.h"
#include "platform/foundation/UserDefaults.h"

namespace {

std::mutex gSharedMutex;
std::shared_ptr<AnalyticsManager> gShared;

}  // namespace

std::string AnalyticsManager::rawValue(EventProperty property) {
  switch (property) {
    case EventProperty::window_ScreenDisplayMode: return "window_ScreenDisplayMode";
    case EventProperty::window_SpaceDisplayMode: return "window_SpaceDisplayMode";
  }
  return {};
}

std::optional<AnalyticsManager::EventProperty> AnalyticsManager::eventProperty(std::string_view rawValue) {
  if (rawValue == "window_ScreenDisplayMode") return EventProperty::window_ScreenDisplayMode;
  if (rawValue == "window_SpaceDisplayMode") return EventProperty::window_SpaceDisplayMode;
  return std::nullopt;
}

std::shared_ptr<AnalyticsManager> AnalyticsManager::shared() {
  std::lock_guard lock(gSharedMutex);
  if (!gShared) gShared = make(AnalyticsTelemetry::redEvudud());
  return gShared;
}

std::shared_ptr<AnalyticsManager> AnalyticsManager::make(std::shared_ptr<AnalyticsTelemetry> telemetry) {
  return std::shared_ptr<AnalyticsManager>(new AnalyticsManager(std::move(telemetry)));
}

void AnalyticsManager::setSharedForTesting(std::shared_ptr<AnalyticsManager> manager) {
  std::lock_guard lock(gSharedMutex);
  gShared = std::move(manager);
}

AnalyticsManager::AnalyticsManager(std::shared_ptr<AnalyticsTelemetry> telemetry) : telemetry_(std::move(telemetry)) {}

void AnalyticsManager::start() {
  telemetry_->start(kAppSecret);
  telemetry_->setCrashesEnabled(true);
  // Weak both ways: the client keeps the handler for the life of the process.
  std::weak_ptr<AnalyticsManager> weakSelf = weak_from_this();
  std::weak_ptr<AnalyticsTelemetry> weakTelemetry = telemetry_;
  telemetry_->setUserConfirmationHandler([weakSelf, weakTelemetry](const ErrorReports&) {
    auto telemetry = weakTelemetry.lock();
    if (!telemetry) return false;
    auto self = weakSelf.lock();
    return confirmCrashReports(self.get(), *telemetry);
  });
}

void AnalyticsManager::applyAnalyticsMode() {
  const auto defaults = MorvalentDefaults::standard();
  if (defaults.preferencesOnboardingRequired()) {
    setMode(Mode::manualReportingOnly);
    if (analyticsSwitched_) telemetry_->setAnalyticsEnabled(false);
    return;
  }
  setMode(defaults.analyticsMode());
  setAnalyticsEnabled(mode() != Mode::manualReportingOnly);
}

void AnalyticsManager::setAnalyticsEnabled(bool enabled) {
  analyticsSwitched_ = true;
  telemetry_->setAnalyticsEnabled(enabled);
}

void AnalyticsManager::trackPreferenceChange(const std::string& key) {
  auto stored = ns::UserDefaults::standard()->object(key);
  telemetry_->trackEvent("preference_" + key, Properties{{"Value", stored ? stored->description() : "nil"}});
}

void AnalyticsManager::trackPermissionsFailure(bool accessibility, bool screenRecording) {
  if (MorvalentDefaults::standard().analyticsMode() == Mode::manualReportingOnly) return;
  // The process ends right after; the event must not wait for the mode rule.
  setAnalyticsEnabled(true);
  telemetry_->trackEvent("permissions failure",
                         Properties{{"accessibilityPermissions", accessibility ? "true" : "false"},
                                    {"screenRecordingPermissions", screenRecording ? "true" : "false"}},
                         AnalyticsTelemetry::kCriticalFlags);
}

bool AnalyticsManager::confirmCrashReports(const ErrorReports&) { return confirmCrashReports(this, *telemetry_); }

bool AnalyticsManager::confirmCrashReports(AnalyticsManager* manager, AnalyticsTelemetry& telemetry) {
  using Confirmation = AnalyticsTelemetry::UserConfirmation;
  if (manager && manager->mode() != Mode::manualReportingOnly) {
    telemetry.notifyWithUserConfirmation(Confirmation::send);
    return false;
  }
  appkit::NSAlert alert;
  alert.setMessageText("Crash Reporting");
  alert.setInformativeText("Do you want to send an anonymous crash report so we can investigate the issue?");
  alert.addButtonWithTitle("Send");
  alert.addButtonWithTitle("Don't send");
  alert.setAlertStyle(appkit::NSAlertStyle::critical);
  notifyCrashAlertResponse(alert.runModal(), telemetry);
  return true;
}

void AnalyticsManager::notifyCrashAlertResponse(long response, AnalyticsTelemetry& telemetry) {
  using Confirmation = AnalyticsTelemetry::UserConfirmation;
  switch (response) {
    case appkit::NSAlertFirstButtonReturn: telemetry.notifyWithUserConfirmation(Confirmation::send); break;
    case appkit::NSAlertSecondButtonReturn: telemetry.notifyWithUserConfirmation(Confirmation::dontSend); break;
    // Dismissed without a choice: no decision, and the service is not left waiting for one.
    default: telemetry.postponeUserConfirmation(); break;
  }
}

bool AnalyticsManager::applicationWillTerminate() {
  return telemetry_->waitUntilEventsStored(kTerminationStoreWaitSeconds);
}

void AnalyticsManager::trackEvent(const std::string& name) { telemetry_->trackEvent(name); }

void AnalyticsManager::trackEvent(const std::string& name, const std::map<EventProperty, std::string>& properties) {
  Properties byKey;
  for (const auto& [key, value] : properties) byKey[rawValue(key)] = value;
  telemetry_->trackEvent(name, byKey);
}
