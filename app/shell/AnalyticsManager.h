#pragma once
// AnalyticsManager: the application's front to the telemetry client. It
// starts the client with its Analytics and Crashes services, holds the
// analytics mode the user chose (applied from the preferences), asks before a
// crash report is sent in the manual mode, and sends the application's own
// usage events. The preview and snapping code read `mode()` and send their
// events only in `automaticAnalytics`.
//
// Main thread only, like the crash service's confirmation call.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/preferences/Preferences.h"
#include "app/snapping/SnapAnalytics.h"

class DVACErrorReport;

// What the manager uses of the telemetry client: the SDK's start, the
// Analytics service's switch and events, the Crashes service's switch and
// user confirmation. `redEvudud()` is the real client; tests record instead.
class AnalyticsTelemetry {
 public:
  using ErrorReports = std::vector<std::shared_ptr<DVACErrorReport>>;
  // Returns whether the user is being asked (the answer then comes through
  // notifyWithUserConfirmation).
  using UserConfirmationHandler = std::function<bool(const ErrorReports&)>;
  using Properties = std::map<std::string, std::string>;
  enum class UserConfirmation { dontSend = 0, send = 1, always = 2 };
  // trackEvent flags: 2 marks an event critical.
  static constexpr int kCriticalFlags = 2;

  virtual ~AnalyticsTelemetry() = default;

  // DVACRedEvudud start:withServices: with DVACAnalytics, then DVACCrashes.
  virtual void start(const std::string& appSecret) = 0;
  // DVACAnalytics setEnabled:
  virtual void setAnalyticsEnabled(bool enabled) = 0;
  // DVACCrashes setEnabled:
  virtual void setCrashesEnabled(bool enabled) = 0;
  // DVACCrashes setUserConfirmationHandler:
  virtual void setUserConfirmationHandler(UserConfirmationHandler handler) = 0;
  // DVACCrashes notifyWithUserConfirmation:
  virtual void notifyWithUserConfirmation(UserConfirmation confirmation) = 0;
  // DVACAnalytics trackEvent:, trackEvent:withProperties:, trackEvent:withProperties:flags:
  virtual void trackEvent(const std::string& name) = 0;
  virtual void trackEvent(const std::string& name, const Properties& properties) = 0;
  virtual void trackEvent(const std::string& name, const Properties& properties, int flags) = 0;

  // The telemetry SDK's client (stateless: every call goes to the SDK's classes).
  static std::shared_ptr<AnalyticsTelemetry> redEvudud();
};

class AnalyticsManager final : public SnapAnalytics, public std::enable_shared_from_this<AnalyticsManager> {
 public:
  using Mode = AnalyticsMode;
  using ErrorReports = AnalyticsTelemetry::ErrorReports;
  using Properties = AnalyticsTelemetry::Properties;

  // Keys of the properties of the preview and snapping events.
  enum class EventProperty { window_ScreenDisplayMode, window_SpaceDisplayMode };
  static std::string rawValue(EventProperty property);
  // Nothing for any other string.
  static std::optional<EventProperty> eventProperty(std::string_view rawValue);

  // The application's identifier at the telemetry service.
  static constexpr const char* kAppSecret = "6f1c2a9e-3b7d-4e85-9a0c-d24f5b8e1c37";

  // Made on first use over the real telemetry client, in manualReportingOnly.
  static std::shared_ptr<AnalyticsManager> shared();
  static std::shared_ptr<AnalyticsManager> make(std::shared_ptr<AnalyticsTelemetry> telemetry);
  // Replaces the shared manager (nullptr: the next use makes a new one).
  static void setSharedForTesting(std::shared_ptr<AnalyticsManager> manager);

  Mode mode() const override { return mode_.load(); }
  void setMode(Mode mode) { mode_.store(mode); }

  // Starts the client: SDK start, Analytics off until the mode rule runs,
  // Crashes on, and the crash confirmation handler.
  void start();

  // The mode rule, run whenever "analyticsMode" or
  // "preferencesOnboardingRequired" changes: mode 0 and Analytics off while
  // the preferences onboarding is pending, else the stored mode, Analytics on
  // unless it is 0.
  void applyAnalyticsMode();

  // "preference_" + key with the stored value's text under "Value" ("nil"
  // when nothing is stored). Whether it is recorded is the Analytics
  // service's decision (its enabled state follows the mode).
  void trackPreferenceChange(const std::string& key);

  // The onboarding window was closed with a permission missing. Sent (as a
  // critical event) unless the stored mode is 0, even while Analytics is off.
  void trackPermissionsFailure(bool accessibility, bool screenRecording);

  // The crash service's confirmation handler. Outside the manual mode the
  // reports are sent without asking (returns false); otherwise the user is
  // asked with an alert and the answer is passed on (returns true).
  bool confirmCrashReports(const ErrorReports& reports);
  // Passes the alert's answer on: the first button sends, the second
  // discards, any other response (the alert was dismissed) says nothing.
  static void notifyCrashAlertResponse(long response, AnalyticsTelemetry& telemetry);

  // Usage events of the previews and snapping; the callers check the mode.
  void trackEvent(const std::string& name) override;
  void trackEvent(const std::string& name, const std::map<EventProperty, std::string>& properties);

  const std::shared_ptr<AnalyticsTelemetry>& telemetry() const { return telemetry_; }

 private:
  explicit AnalyticsManager(std::shared_ptr<AnalyticsTelemetry> telemetry);
  // The handler's body: `manager` is null once the manager is gone.
  static bool confirmCrashReports(AnalyticsManager* manager, AnalyticsTelemetry& telemetry);

  std::shared_ptr<AnalyticsTelemetry> telemetry_;
  std::atomic<Mode> mode_{Mode::manualReportingOnly};
};
