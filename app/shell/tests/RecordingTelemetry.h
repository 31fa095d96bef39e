#pragma once
// A telemetry client that records what the analytics manager hands it: the
// calls in order and every event with whether the Analytics service would
// have recorded it (started, as the real client starts it at its first
// switch, and enabled).

#include <optional>
#include <string>
#include <vector>

#include "app/shell/AnalyticsManager.h"

namespace telemetrytest {

struct RecordedEvent {
  std::string name;
  std::optional<AnalyticsTelemetry::Properties> properties;
  std::optional<int> flags;
  // Whether the Analytics service was started and enabled when the event came in.
  bool analyticsEnabled = false;
};

class RecordingTelemetry : public AnalyticsTelemetry {
 public:
  std::vector<std::string> calls;
  std::vector<RecordedEvent> events;
  std::vector<UserConfirmation> confirmations;
  UserConfirmationHandler handler;
  bool analyticsStarted = false;
  // The service's persisted switch: on until switched off.
  bool analyticsEnabled = true;
  bool crashesEnabled = false;

  bool recording() const { return analyticsStarted && analyticsEnabled; }

  void start(const std::string& appSecret) override { calls.push_back("start:" + appSecret); }
  void setAnalyticsEnabled(bool enabled) override {
    analyticsStarted = true;
    analyticsEnabled = enabled;
    calls.push_back(std::string("Analytics.setEnabled:") + (enabled ? "YES" : "NO"));
  }
  void setCrashesEnabled(bool enabled) override {
    crashesEnabled = enabled;
    calls.push_back(std::string("Crashes.setEnabled:") + (enabled ? "YES" : "NO"));
  }
  void setUserConfirmationHandler(UserConfirmationHandler h) override {
    handler = std::move(h);
    calls.push_back("Crashes.setUserConfirmationHandler");
  }
  void notifyWithUserConfirmation(UserConfirmation c) override {
    confirmations.push_back(c);
    calls.push_back("Crashes.notifyWithUserConfirmation:" + std::to_string(static_cast<int>(c)));
  }
  void postponeUserConfirmation() override { calls.push_back("Crashes.postponeUserConfirmation"); }
  void trackEvent(const std::string& name) override {
    events.push_back({name, std::nullopt, std::nullopt, recording()});
  }
  void trackEvent(const std::string& name, const Properties& p) override {
    events.push_back({name, p, std::nullopt, recording()});
  }
  void trackEvent(const std::string& name, const Properties& p, int flags) override {
    events.push_back({name, p, flags, recording()});
  }
  bool waitUntilEventsStored(double timeoutSeconds) override {
    calls.push_back("waitUntilEventsStored:" + std::to_string(timeoutSeconds));
    return true;
  }

  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : events) out.push_back(e.name);
    return out;
  }
  std::vector<std::string> recordedNames() const {
    std::vector<std::string> out;
    for (const auto& e : recorded()) out.push_back(e.name);
    return out;
  }

  // Events the Analytics service would have recorded (it drops them while
  // not started or disabled).
  std::vector<RecordedEvent> recorded() const {
    std::vector<RecordedEvent> out;
    for (const auto& e : events) {
      if (e.analyticsEnabled) out.push_back(e);
    }
    return out;
  }
};

}  // namespace telemetrytest
