#pragma once
// Fixtures for the shell's tests: a virtual clock, fresh in-memory standard
// defaults with the registered defaults, a reset simulated desktop (both
// permissions granted), no windows, the first alert button, a recording
// telemetry client behind the shared analytics manager, and the standard
// directories under a temporary root.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/shell/AnalyticsManager.h"
#include "app/shell/PermissionManagers.h"
#include "app/shell/Preferences.h"
#include "platform/appkit/NSAlert.h"
#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/TestSupport.h"
#include "platform/sim/World.h"

namespace shelltest {

struct RecordedEvent {
  std::string name;
  std::optional<AnalyticsTelemetry::Properties> properties;
  std::optional<int> flags;
  // Whether the Analytics service was enabled when the event came in.
  bool analyticsEnabled = false;
};

class RecordingTelemetry : public AnalyticsTelemetry {
 public:
  std::vector<std::string> calls;
  std::vector<RecordedEvent> events;
  std::vector<UserConfirmation> confirmations;
  UserConfirmationHandler handler;
  bool analyticsEnabled = true;
  bool crashesEnabled = false;

  void start(const std::string& appSecret) override { calls.push_back("start:" + appSecret); }
  void setAnalyticsEnabled(bool enabled) override {
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
  void trackEvent(const std::string& name) override { events.push_back({name, std::nullopt, std::nullopt, analyticsEnabled}); }
  void trackEvent(const std::string& name, const Properties& p) override {
    events.push_back({name, p, std::nullopt, analyticsEnabled});
  }
  void trackEvent(const std::string& name, const Properties& p, int flags) override {
    events.push_back({name, p, flags, analyticsEnabled});
  }

  // Events the Analytics service would have recorded (it drops them while disabled).
  std::vector<RecordedEvent> recorded() const {
    std::vector<RecordedEvent> out;
    for (const auto& e : events) {
      if (e.analyticsEnabled) out.push_back(e);
    }
    return out;
  }
};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::World::shared().reset();
    appkit::WindowList::resetForTesting();
    appkit::NSAlert::resetResponder();
    appkit::NSAlert::clearShownMessages();
    ScreenRecordingPermissionManager::shared()->resetForTesting();
    MorvalentDefaults::standard().registerDefaults();
    telemetry = std::make_shared<RecordingTelemetry>();
    manager = AnalyticsManager::make(telemetry);
    AnalyticsManager::setSharedForTesting(manager);
  }
  void TearDown() override {
    AnalyticsManager::setSharedForTesting(nullptr);
    appkit::NSAlert::resetResponder();
    appkit::WindowList::resetForTesting();
    sim::World::shared().reset();
    ScreenRecordingPermissionManager::shared()->resetForTesting();
  }

  MorvalentDefaults defaults() const { return MorvalentDefaults::standard(); }
  void drain() { dispatch::Scheduler::shared().runUntilIdle(); }
  void advance(double seconds) { dispatch::Scheduler::shared().advance(seconds); }

  dispatch::VirtualClockScope clock;
  ns::test::ScopedPathsRoot paths;
  ns::test::ScopedStandardDefaults standardDefaults;
  std::shared_ptr<RecordingTelemetry> telemetry;
  std::shared_ptr<AnalyticsManager> manager;
};

}  // namespace shelltest
