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

  // DVACRedEvudud start:withServices: with DVACCrashes. The Analytics
  // service joins at its first switch (startService: DVACAnalytics): until
  // then it records nothing, and what earlier runs left unsent stays stored.
  virtual void start(const std::string& appSecret) = 0;
  // DVACAnalytics setEnabled:, after starting the service when it is not yet.
  virtual void setAnalyticsEnabled(bool enabled) = 0;
  // DVACCrashes setEnabled:
  virtual void setCrashesEnabled(bool enabled) = 0;
  // DVACCrashes setUserConfirmationHandler:
  virtual void setUserConfirmationHandler(UserConfirmationHandler handler) = 0;
  // DVACCrashes notifyWithUserConfirmation:
  virtual void notifyWithUserConfirmation(UserConfirmation confirmation) = 0;
  // No answer for now: the crash service stops waiting and keeps the reports
  // for the next launch.
  virtual void postponeUserConfirmation() = 0;
  // DVACAnalytics trackEvent:, trackEvent:withProperties:, trackEvent:withProperties:flags:
  // (dropped while the service has not been started)
  virtual void trackEvent(const std::string& name) = 0;
  virtual void trackEvent(const std::string& name, const Properties& properties) = 0;
  virtual void trackEvent(const std::string& name, const Properties& properties, int flags) = 0;
  // Waits, at most that long, until the events handed over so far are
  // stored; true when they are.
  virtual bool waitUntilEventsStored(double /*timeoutSeconds*/) { return true; }

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

  // How long termination waits for the events already tracked to be stored.
  static constexpr double kTerminationStoreWaitSeconds = 2.0;

  // Starts the client: SDK start, Crashes on, and the crash confirmation
  // handler. The Analytics service is left to the mode rule: switching it
  // off here would delete the events an earlier run left unsent, and until
  // its first switch it records nothing anyway.
  void start();

  // The mode rule, run whenever "analyticsMode" or
  // "preferencesOnboardingRequired" changes: mode 0 and Analytics off while
  // the preferences onboarding is pending, else the stored mode, Analytics on
  // unless it is 0. While the onboarding is pending, a service this process
  // has not switched yet is left unstarted rather than switched off: the
  // events it keeps (the permissions failure that ended an earlier run) wait
  // for the user's choice instead of being deleted.
  void applyAnalyticsMode();

  // "preference_" + key with the stored value's text under "Value" ("nil"
  // when nothing is stored). Whether it is recorded is the Analytics
  // service's decision (its enabled state follows the mode).
  void trackPreferenceChange(const std::string& key);

  // The process is ending: waits, bounded, until the events already tracked
  // are stored (the next launch sends them); false when the time ran out.
  bool applicationWillTerminate();

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
  void setAnalyticsEnabled(bool enabled);
  // The handler's body: `manager` is null once the manager is gone.
  static bool confirmCrashReports(AnalyticsManager* manager, AnalyticsTelemetry& telemetry);

  std::shared_ptr<AnalyticsTelemetry> telemetry_;
  std::atomic<Mode> mode_{Mode::manualReportingOnly};
  // Whether this process has switched the Analytics service yet.
  std::atomic<bool> analyticsSwitched_{false};
};
