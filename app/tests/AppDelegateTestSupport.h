#pragma once
// The desk the application delegate's tests run on, under the virtual clock,
// with in-memory preferences, a recording telemetry client, and the shared
// application object, status bar, windows and updater reset around each test.
//
// One display, 1440 x 900, Dock along the bottom (icons y 839 to 891):
// Finder, Mail, Notes and this program's own icon. Mail has Inbox and Drafts,
// Notes has Memo, Finder has Documents; all on Space 1.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/shell/AnalyticsManager.h"
#include "app/shell/tests/RecordingTelemetry.h"
#include "app/snapping/SnapAnalytics.h"
#include "platform/appkit/NSAlert.h"
#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSStatusBar.h"
#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestSupport.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/World.h"

namespace apptest {

inline constexpr pid_t kFinder = 501;
inline constexpr pid_t kMail = 502;
inline constexpr pid_t kNotes = 503;
inline constexpr CGPoint kMailIcon{398, 865};
inline constexpr CGPoint kOwnIcon{522, 865};

inline const char* const kDesk = R"({
  "displays": [
    {"id": 1, "uuid": "11111111-1111-4111-8111-111111111111", "frame": [0, 0, 1440, 900],
     "visibleFrame": [0, 70, 1440, 805], "spaces": [{"id": 1}, {"id": 2}], "currentSpace": 1}
  ],
  "self": {"pid": 100, "bundleIdentifier": "com.morvalent.Morvalent", "name": "Morvalent"},
  "dock": {"pid": 90, "frame": [300, 830, 840, 70], "items": [
    {"title": "Finder", "url": "file:///System/Library/CoreServices/Finder.app/", "frame": [310, 839, 52, 52]},
    {"title": "Mail", "url": "file:///System/Applications/Mail.app/", "frame": [372, 839, 52, 52]},
    {"title": "Notes", "url": "file:///System/Applications/Notes.app/", "frame": [434, 839, 52, 52]},
    {"title": "Morvalent", "frame": [496, 839, 52, 52]}
  ]},
  "applications": [
    {"pid": 501, "bundleIdentifier": "com.apple.finder", "name": "Finder",
     "bundleURL": "file:///System/Library/CoreServices/Finder.app/",
     "windows": [{"id": 11, "title": "Documents", "frame": [40, 80, 500, 300], "spaces": [1]}]},
    {"pid": 502, "bundleIdentifier": "com.apple.mail", "name": "Mail",
     "bundleURL": "file:///System/Applications/Mail.app/",
     "windows": [{"id": 21, "title": "Inbox", "frame": [100, 100, 700, 500], "spaces": [1]},
                 {"id": 22, "title": "Drafts", "frame": [150, 150, 600, 400], "spaces": [1]}]},
    {"pid": 503, "bundleIdentifier": "com.apple.Notes", "name": "Notes",
     "bundleURL": "file:///System/Applications/Notes.app/",
     "windows": [{"id": 31, "title": "Memo", "frame": [900, 150, 500, 400], "spaces": [1]}]}
  ],
  "frontmost": 502,
  "zOrder": [21, 22, 31, 11],
  "mouse": [1300, 700]
})";

using telemetrytest::RecordingTelemetry;

class AppDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetShared();
    scenario = std::make_unique<sim::ScopedScenario>(kDesk);
    telemetry = std::make_shared<RecordingTelemetry>();
    AnalyticsManager::setSharedForTesting(AnalyticsManager::make(telemetry));
    // A later start: no onboarding window, no first-run settings window.
    defaults().setPreferencesOnboardingRequired(false);
    defaults().setPermissionsOnboardingRequired(false);
    ns::UserDefaults::standard()->setObject(diagnostics::kLoggingModulesKey,
                                            ns::Value(ns::Array{ns::Value("AppDelegate"),
                                                                ns::Value("DockPreviewCoordinator"),
                                                                ns::Value("ScreenResizeCorrector")}));
  }

  void TearDown() override {
    delegate.reset();
    drain();
    scenario.reset();
    AnalyticsManager::setSharedForTesting(nullptr);
    SnapAnalytics::setShared(nullptr);
    resetShared();
  }

  static void resetShared() {
    appkit::NSApplication::shared().resetForTesting();
    appkit::NSStatusBar::systemStatusBar().removeAllForTesting();
    appkit::WindowList::resetForTesting();
    appkit::NSAlert::resetResponder();
    ScreenRecordingPermissionManager::shared()->resetForTesting();
    UpdateManager::resetForTesting();
  }

  static MorvalentDefaults defaults() { return MorvalentDefaults::standard(); }
  static void drain() { dispatch::Scheduler::shared().runUntilIdle(); }
  static void advance(double seconds) { dispatch::Scheduler::shared().advance(seconds); }
  static sim::World& world() { return sim::World::shared(); }

  // Launches the delegate and lets every task of the start-up finish (the
  // repository's first collection included).
  void launch() {
    delegate = AppDelegate::make();
    delegate->applicationDidFinishLaunching(ns::Notification(appkit::NSApplicationDidFinishLaunchingNotification));
    drain();
    advance(6);
  }

  bool hidden(pid_t pid) const {
    auto app = sim::World::shared().application(pid);
    return app && app->hidden;
  }

  // The snap controller's monitor; holding it keeps a re-installed one from
  // reusing its address.
  appkit::NSEventMonitorToken monitorIdentity() const { return delegate->snapController->monitor; }

  dispatch::VirtualClockScope clock;
  ns::test::ScopedPathsRoot paths;
  ns::test::ScopedStandardDefaults standardDefaults;
  ns::LogCapture log;
  std::unique_ptr<sim::ScopedScenario> scenario;
  std::shared_ptr<RecordingTelemetry> telemetry;
  std::shared_ptr<AppDelegate> delegate;
};

}  // namespace apptest
