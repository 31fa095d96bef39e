// The application delegate: launch in two phases, the preference observers,
// icon mode, show desktop on reopen, sleep and wake, Space changes, the
// re-arm loop and the actions.

#include <algorithm>

#include "app/tests/AppDelegateTestSupport.h"
#include "platform/appkit/NSRunningApplication.h"

using namespace apptest;

namespace {

std::vector<std::string> titles(const appkit::NSMenu& menu) {
  std::vector<std::string> out;
  for (const auto& item : menu.items()) out.push_back(item->isSeparatorItem() ? "-" : item->title());
  return out;
}

}  // namespace

// ---------------------------------------------------------------- launch

TEST_F(AppDelegateTest, InitCreatesTheComponentsAndAnEmptyDockMenu) {
  delegate = AppDelegate::make();
  EXPECT_EQ(delegate->accessibilityPermissionManager, AccessibilityPermissionManager::shared());
  EXPECT_EQ(delegate->screenRecordingPermissionManager, ScreenRecordingPermissionManager::shared());
  EXPECT_TRUE(delegate->nowPlayingCoordinator->providers().empty());
  EXPECT_FALSE(delegate->hasScreenResizeCorrector());
  EXPECT_FALSE(delegate->dockPreviewCoordinator);
  EXPECT_EQ(delegate->dockMenu->title(), "Dock Menu");
  EXPECT_EQ(delegate->dockMenu->numberOfItems(), 0);
  EXPECT_EQ(delegate->applicationDockMenu(), delegate->dockMenu);
  EXPECT_EQ(delegate->className(), "AppDelegate");
  // The lazy corrector is made once, over the delegate's repository.
  auto corrector = delegate->screenResizeCorrector();
  EXPECT_EQ(delegate->screenResizeCorrector(), corrector);
  EXPECT_EQ(corrector->applicationRepository, delegate->applicationRepository);
  EXPECT_FALSE(corrector->enabled());
}

TEST_F(AppDelegateTest, LaunchStartsTelemetryWiresTheComponentsAndRegistersTwelveDefaults) {
  launch();
  ASSERT_GE(telemetry->calls.size(), 4u);
  EXPECT_EQ(telemetry->calls[0].rfind("start:", 0), 0u);
  EXPECT_EQ(telemetry->calls[1], "Crashes.setEnabled:YES");
  EXPECT_EQ(SnapAnalytics::shared(), AnalyticsManager::shared());

  ASSERT_TRUE(delegate->dockPreviewCoordinator && delegate->snapPreviewWindowController &&
              delegate->preferencesViewCoordinator && delegate->permissionsViewCoordinator);
  EXPECT_EQ(delegate->dockPreviewCoordinator->screenResizeCorrector, delegate->screenResizeCorrector());
  EXPECT_EQ(delegate->dockPreviewCoordinator->applicationRepository, delegate->applicationRepository);
  EXPECT_EQ(delegate->snapController->previewDelegate.lock(), delegate->snapPreviewWindowController);
  EXPECT_EQ(delegate->snapController->applicationRepository.lock(), delegate->applicationRepository);

  const auto registered = ns::UserDefaults::standard()->registeredDefaults();
  EXPECT_EQ(registered.size(), 12u);
  EXPECT_EQ(registered.at("openAtStartup"), ns::Value(true));
  EXPECT_EQ(registered.at("scrollWindowSnappingEnabled"), ns::Value(false));
  EXPECT_EQ(registered.at("minimizeFinderWindows"), ns::Value(false));
  EXPECT_EQ(registered.at("analyticsMode"), ns::Value(int64_t{2}));
  EXPECT_EQ(registered.at("SUEnableAutomaticChecks"), ns::Value(true));
  EXPECT_EQ(registered.at("showNowPlaying"), ns::Value(true));
  EXPECT_FALSE(registered.contains("applicationIconMode"));
  EXPECT_FALSE(registered.contains("unhideWindowsEnabled"));
}

TEST_F(AppDelegateTest, TheSecondPhaseStartsEverythingAndTheObserversSwitchTheComponentsOn) {
  delegate = AppDelegate::make();
  delegate->applicationDidFinishLaunching(ns::Notification(appkit::NSApplicationDidFinishLaunchingNotification));
  // Both permissions granted: the second phase ran inside the launch, the
  // observers' first runs are still queued.
  EXPECT_TRUE(delegate->hasStartedAfterPermissions());
  EXPECT_FALSE(delegate->dockPreviewCoordinator->enabled());
  EXPECT_FALSE(delegate->snapController->dragWindowSnappingEnabled());
  ASSERT_TRUE(delegate->preferencesObservers);
  EXPECT_EQ(delegate->preferencesObservers->size(), 9u);
  EXPECT_EQ(delegate->nowPlayingCoordinator->providers().size(), 2u);
  EXPECT_TRUE(UpdateManager::shared().updateController->updaterStarted());
  EXPECT_EQ(titles(*delegate->dockMenu), std::vector<std::string>{"Settings"});
  EXPECT_EQ(delegate->dockMenu->itemAtIndex(0)->keyEquivalent(), "");
  EXPECT_FALSE(delegate->screenResizeCorrector()->screenRects.empty());
  auto overlay = delegate->snapPreviewWindowController->window();
  ASSERT_TRUE(overlay);
  EXPECT_FALSE(overlay->isVisible());
  EXPECT_EQ(overlay->level(), 101);
  EXPECT_EQ(overlay->collectionBehavior(), 257u);

  drain();
  EXPECT_TRUE(delegate->dockPreviewCoordinator->enabled());
  EXPECT_TRUE(delegate->snapController->dragWindowSnappingEnabled());
  EXPECT_FALSE(delegate->snapController->scrollWindowSnappingEnabled());
  EXPECT_TRUE(delegate->screenResizeCorrector()->enabled());
  EXPECT_TRUE(monitorIdentity());
  EXPECT_EQ(AnalyticsManager::shared()->mode(), AnalyticsMode::automaticAnalytics);
  // Eight observers report their key, in installation order; the ninth does
  // not. Analytics is off until the mode rule (the eighth observer) has run,
  // so only the last of them is recorded at start-up.
  std::vector<std::string> handed;
  for (const auto& e : telemetry->events) handed.push_back(e.name);
  EXPECT_EQ(telemetry->recordedNames(), std::vector<std::string>{"preference_analyticsMode"});
  EXPECT_EQ(handed,
            (std::vector<std::string>{"preference_applicationIconMode", "preference_openAtStartup",
                                      "preference_dockPreviewsEnabled", "preference_dragWindowSnappingEnabled",
                                      "preference_scrollWindowSnappingEnabled",
                                      "preference_scrollPreviewSnappingEnabled",
                                      "preference_screenResizeCorrectionEnabled", "preference_analyticsMode"}));
  EXPECT_EQ(appkit::NSApplication::shared().activationPolicy(), appkit::NSApplicationActivationPolicy::Regular);
}

TEST_F(AppDelegateTest, TheDockMenuStaysEmptyUntilBothPermissionsAreGranted) {
  world().setScreenCaptureAllowed(false);
  launch();
  EXPECT_FALSE(delegate->hasStartedAfterPermissions());
  EXPECT_EQ(delegate->dockMenu->numberOfItems(), 0);
  EXPECT_FALSE(delegate->preferencesObservers);
  ASSERT_TRUE(delegate->permissionsViewCoordinator->windowController());
  EXPECT_TRUE(delegate->permissionsViewCoordinator->windowController()->window()->isVisible());

  world().setScreenCaptureAllowed(true);
  advance(1.5);
  delegate->permissionsViewCoordinator->viewModel()->continueButtonHandler();
  drain();
  EXPECT_TRUE(delegate->hasStartedAfterPermissions());
  EXPECT_EQ(titles(*delegate->dockMenu), std::vector<std::string>{"Settings"});
  // The item opens the settings window.
  EXPECT_TRUE(delegate->dockMenu->performActionForItemAtIndex(0));
  ASSERT_TRUE(delegate->preferencesViewCoordinator->windowController());
  EXPECT_TRUE(delegate->preferencesViewCoordinator->windowController()->window()->isVisible());
}

TEST_F(AppDelegateTest, TheCrashAlertShowsOverTheOnboardingWindowAndADismissalDecidesNothing) {
  // A stored mode other than the manual one does not count before the mode rule has run.
  defaults().setAnalyticsMode(AnalyticsMode::automaticAnalytics);
  world().setScreenCaptureAllowed(false);
  appkit::NSAlert::clearShownMessages();
  bool onboardingOpen = false;
  appkit::NSAlert::setResponder([&](appkit::NSAlert&) {
    onboardingOpen = delegate->permissionsViewCoordinator->windowController()->window()->isVisible();
    return appkit::NSModalResponseAbort;
  });
  launch();
  // What the crash service does once it has read the last run's reports.
  EXPECT_TRUE(telemetry->handler({}));
  EXPECT_EQ(appkit::NSAlert::shownMessages(), std::vector<std::string>{"Crash Reporting"});
  EXPECT_TRUE(onboardingOpen);
  EXPECT_TRUE(telemetry->confirmations.empty());
  EXPECT_EQ(std::count(telemetry->calls.begin(), telemetry->calls.end(), "Crashes.postponeUserConfirmation"), 1);
  EXPECT_TRUE(delegate->permissionsViewCoordinator->windowController()->window()->isVisible());
}

TEST_F(AppDelegateTest, TheFirstStartOpensTheSettingsWindowAndClosingItTurnsAnalyticsOn) {
  defaults().setPreferencesOnboardingRequired(true);
  launch();
  auto controller = delegate->preferencesViewCoordinator->windowController();
  ASSERT_TRUE(controller);
  EXPECT_TRUE(controller->window()->isVisible());
  EXPECT_EQ(AnalyticsManager::shared()->mode(), AnalyticsMode::manualReportingOnly);
  EXPECT_TRUE(telemetry->recordedNames().empty());

  controller->window()->performClose();
  drain();
  EXPECT_FALSE(defaults().preferencesOnboardingRequired());
  EXPECT_EQ(AnalyticsManager::shared()->mode(), AnalyticsMode::automaticAnalytics);
  EXPECT_TRUE(telemetry->analyticsEnabled);
}

TEST_F(AppDelegateTest, TheSecondPhaseRunsOncePerProcess) {
  launch();
  const auto reArms = log.countContaining("DockPreviewCoordinator: reset");
  delegate->startAfterPermissionsGranted();
  drain();
  EXPECT_EQ(delegate->dockMenu->numberOfItems(), 1);
  EXPECT_EQ(delegate->preferencesObservers->size(), 9u);
  advance(300);
  // One re-arm loop, not two.
  EXPECT_EQ(log.countContaining("DockPreviewCoordinator: reset"), reArms + 1);
}

// ---------------------------------------------------------------- preference observers

TEST_F(AppDelegateTest, ScrollPreviewSnappingOnlyRecordsItsEvent) {
  launch();
  telemetry->events.clear();
  const auto monitor = monitorIdentity();
  const auto resets = log.countContaining("DockPreviewCoordinator: reset");
  defaults().setScrollPreviewSnappingEnabled(false);
  EXPECT_TRUE(telemetry->events.empty());  // the observer's work is a task on the main actor
  drain();
  ASSERT_EQ(telemetry->events.size(), 1u);
  EXPECT_EQ(telemetry->events[0].name, "preference_scrollPreviewSnappingEnabled");
  EXPECT_EQ(telemetry->events[0].properties, (AnalyticsTelemetry::Properties{{"Value", "0"}}));
  EXPECT_EQ(monitorIdentity(), monitor);
  EXPECT_EQ(log.countContaining("DockPreviewCoordinator: reset"), resets);
  EXPECT_TRUE(delegate->dockPreviewCoordinator->enabled());
}

TEST_F(AppDelegateTest, ObserversCarryEachChangeToItsComponent) {
  launch();
  telemetry->events.clear();
  defaults().setDockPreviewsEnabled(false);
  defaults().setScrollWindowSnappingEnabled(true);
  defaults().setScreenResizeCorrectionEnabled(false);
  defaults().setAnalyticsMode(AnalyticsMode::minimalAnalytics);
  drain();
  EXPECT_FALSE(delegate->dockPreviewCoordinator->enabled());
  EXPECT_TRUE(delegate->snapController->scrollWindowSnappingEnabled());
  EXPECT_FALSE(delegate->screenResizeCorrector()->enabled());
  EXPECT_EQ(AnalyticsManager::shared()->mode(), AnalyticsMode::minimalAnalytics);
  EXPECT_EQ(telemetry->recordedNames(),
            (std::vector<std::string>{"preference_dockPreviewsEnabled", "preference_scrollWindowSnappingEnabled",
                                      "preference_screenResizeCorrectionEnabled", "preference_analyticsMode"}));

  // The onboarding key reports nothing, and applies the mode rule.
  telemetry->events.clear();
  defaults().setPreferencesOnboardingRequired(true);
  drain();
  EXPECT_TRUE(telemetry->events.empty());
  EXPECT_EQ(AnalyticsManager::shared()->mode(), AnalyticsMode::manualReportingOnly);
}

TEST_F(AppDelegateTest, AnObserverStillReportsOnceTheDelegateIsGone) {
  launch();
  auto observers = std::move(delegate->preferencesObservers);
  telemetry->events.clear();
  delegate.reset();
  defaults().setDragWindowSnappingEnabled(false);
  drain();
  ASSERT_EQ(telemetry->events.size(), 1u);
  EXPECT_EQ(telemetry->events[0].name, "preference_dragWindowSnappingEnabled");
}

// ---------------------------------------------------------------- icon mode

TEST_F(AppDelegateTest, SwitchingTheIconModeMovesBetweenStatusItemAndDockIcon) {
  defaults().setApplicationIconMode(ApplicationIconMode::statusItem);
  launch();
  auto& bar = appkit::NSStatusBar::systemStatusBar();
  // Applied twice at start-up (step 9 and the first observer run): one item.
  ASSERT_EQ(bar.statusItems().size(), 1u);
  auto first = delegate->statusBarItem;
  ASSERT_TRUE(first);
  EXPECT_EQ(bar.statusItems()[0], first);
  EXPECT_EQ(first->length(), appkit::NSSquareStatusItemLength);
  EXPECT_EQ(first->button().symbolName(), "MenuBarIcon");
  EXPECT_EQ(titles(*first->menu()), (std::vector<std::string>{"Settings", "-", "Quit Morvalent"}));
  EXPECT_EQ(appkit::NSApplication::shared().activationPolicy(), appkit::NSApplicationActivationPolicy::Accessory);

  defaults().setApplicationIconMode(ApplicationIconMode::dockIcon);
  drain();
  EXPECT_FALSE(delegate->statusBarItem);
  EXPECT_TRUE(bar.statusItems().empty());
  EXPECT_EQ(appkit::NSApplication::shared().activationPolicy(), appkit::NSApplicationActivationPolicy::Regular);

  defaults().setApplicationIconMode(ApplicationIconMode::statusItem);
  drain();
  ASSERT_EQ(bar.statusItems().size(), 1u);
  EXPECT_NE(delegate->statusBarItem, first);
  EXPECT_NE(delegate->statusBarItem->menu(), first->menu());
}

TEST_F(AppDelegateTest, AnIconModeStoredAsFiveIsTheDockIcon) {
  ns::UserDefaults::standard()->setObject("applicationIconMode", ns::Value(int64_t{5}));
  launch();
  EXPECT_FALSE(delegate->statusBarItem);
  EXPECT_TRUE(appkit::NSStatusBar::systemStatusBar().statusItems().empty());
  EXPECT_EQ(appkit::NSApplication::shared().activationPolicy(), appkit::NSApplicationActivationPolicy::Regular);
}

TEST_F(AppDelegateTest, TheStatusMenuOpensSettingsAndQuits) {
  defaults().setApplicationIconMode(ApplicationIconMode::statusItem);
  launch();
  std::vector<const void*> terminations;
  auto previous =
      appkit::NSApplication::shared().setTerminationHandler([&](const void* s) { terminations.push_back(s); });
  auto menu = delegate->statusBarItem->menu();
  EXPECT_TRUE(menu->performActionForItemAtIndex(0));
  EXPECT_TRUE(delegate->preferencesViewCoordinator->windowController()->window()->isVisible());
  EXPECT_TRUE(menu->performActionForItemAtIndex(2));
  appkit::NSApplication::shared().setTerminationHandler(previous);
  EXPECT_EQ(terminations, std::vector<const void*>{nullptr});
}

// ---------------------------------------------------------------- show desktop

TEST_F(AppDelegateTest, ReopenWithRestoringOnAlternatesHideAllAndRestore) {
  defaults().setUnhideWindowsEnabled(true);
  launch();
  telemetry->events.clear();
  EXPECT_FALSE(delegate->applicationShouldHandleReopen(true));
  advance(1);
  EXPECT_TRUE(hidden(kMail));
  EXPECT_TRUE(hidden(kNotes));
  EXPECT_TRUE(delegate->applicationRepository->recentlyHidden);
  EXPECT_EQ(telemetry->recordedNames(), std::vector<std::string>{"showDesktop"});

  EXPECT_FALSE(delegate->applicationShouldHandleReopen(false));
  advance(1);
  EXPECT_FALSE(hidden(kMail));
  EXPECT_FALSE(hidden(kNotes));

  delegate->applicationShouldHandleReopen(false);
  advance(1);
  EXPECT_TRUE(hidden(kMail));
}

TEST_F(AppDelegateTest, OnlyFromFourteenOnHideAllBringsFinderForward) {
  for (const auto& [osVersion, finderForward] : {std::pair{"13.6", false}, std::pair{"14.0", true}}) {
    delegate.reset();
    scenario.reset();
    resetShared();
    // The desk of the other tests on a system of this version.
    scenario = std::make_unique<sim::ScopedScenario>("{\"osVersion\": \"" + std::string(osVersion) + "\"," +
                                                     std::string(kDesk).substr(1));
    defaults().setMinimizeFinderWindowsEnabled(true);
    launch();
    delegate->applicationShouldHandleReopen(false);
    advance(1);
    EXPECT_TRUE(hidden(kMail)) << osVersion;
    EXPECT_TRUE(world().window(11)->minimized) << osVersion;
    EXPECT_EQ(world().frontmostApplication() == kFinder, finderForward) << osVersion;
  }
}

TEST_F(AppDelegateTest, ReopenWithRestoringOffHidesAllEveryTime) {
  launch();
  delegate->applicationShouldHandleReopen(false);
  advance(1);
  EXPECT_TRUE(hidden(kMail));
  world().setApplicationHidden(kMail, false);
  delegate->applicationShouldHandleReopen(false);
  advance(1);
  EXPECT_TRUE(hidden(kMail));
  EXPECT_TRUE(hidden(kNotes));
}

TEST_F(AppDelegateTest, ShowDesktopSendsItsEventOnlyInAutomaticAnalytics) {
  defaults().setAnalyticsMode(AnalyticsMode::minimalAnalytics);
  launch();
  telemetry->events.clear();
  delegate->applicationShouldHandleReopen(false);
  advance(1);
  EXPECT_TRUE(hidden(kMail));
  EXPECT_TRUE(telemetry->events.empty());
}

TEST_F(AppDelegateTest, ReopenWithShowDesktopOffOpensSettingsAndStillReArms) {
  defaults().setShowDesktopEnabled(false);
  launch();
  const auto monitor = monitorIdentity();
  const auto resets = log.countContaining("DockPreviewCoordinator: reset");
  EXPECT_FALSE(delegate->applicationShouldHandleReopen(false));
  advance(1);
  EXPECT_FALSE(hidden(kMail));
  ASSERT_TRUE(delegate->preferencesViewCoordinator->windowController());
  EXPECT_TRUE(delegate->preferencesViewCoordinator->windowController()->window()->isVisible());
  EXPECT_EQ(log.countContaining("DockPreviewCoordinator: reset"), resets + 1);
  EXPECT_NE(monitorIdentity(), monitor);
}

TEST_F(AppDelegateTest, AReopenBeforeThePermissionsHidesNothingAndRemembersNothing) {
  world().setAccessibilityTrusted(false);
  defaults().setUnhideWindowsEnabled(true);
  launch();
  delegate->applicationShouldHandleReopen(false);
  advance(1);
  EXPECT_FALSE(hidden(kMail));
  EXPECT_FALSE(delegate->applicationRepository->recentlyHidden);
}

// ---------------------------------------------------------------- sleep, wake, Spaces, re-arm

TEST_F(AppDelegateTest, SleepLogsTwoLinesAndWakeAlsoReArms) {
  launch();
  log.clear();
  const auto monitor = monitorIdentity();
  world().sleep();
  drain();
  EXPECT_EQ(log.countContaining("AppDelegate: "), 2u);
  EXPECT_TRUE(log.contains("AppDelegate: listening to sleep"));
  EXPECT_TRUE(log.contains("AppDelegate: Going to sleep"));
  EXPECT_FALSE(log.contains("DockPreviewCoordinator: reset"));
  EXPECT_EQ(monitorIdentity(), monitor);

  log.clear();
  world().wake();
  drain();
  EXPECT_EQ(log.countContaining("AppDelegate: "), 2u);
  EXPECT_TRUE(log.contains("AppDelegate: Woke up"));
  EXPECT_EQ(log.countContaining("DockPreviewCoordinator: reset"), 1u);
  EXPECT_NE(monitorIdentity(), monitor);

  log.clear();
  delegate->handleSleepNotification(ns::Notification("SomethingElse"));
  EXPECT_TRUE(log.contains("AppDelegate: Some other event other than the first two"));
}

TEST_F(AppDelegateTest, ASpaceChangeHidesThePreviewWithoutAnimation) {
  launch();
  log.clear();
  world().switchToSpace(2);
  drain();
  EXPECT_TRUE(log.contains("AppDelegate: space did change"));
  EXPECT_TRUE(log.contains("DockPreviewCoordinator: hide animated:false"));
}

TEST_F(AppDelegateTest, TheReArmLoopRunsEveryThreeHundredSeconds) {
  launch();
  const auto resets = log.countContaining("DockPreviewCoordinator: reset");
  const auto monitor = monitorIdentity();
  advance(290);
  EXPECT_EQ(log.countContaining("DockPreviewCoordinator: reset"), resets);
  advance(10);
  EXPECT_EQ(log.countContaining("DockPreviewCoordinator: reset"), resets + 1);
  EXPECT_NE(monitorIdentity(), monitor);
  advance(300);
  EXPECT_EQ(log.countContaining("DockPreviewCoordinator: reset"), resets + 2);
  // The loop holds the delegate weakly: it ends with it.
  delegate.reset();
  advance(600);
  EXPECT_EQ(log.countContaining("DockPreviewCoordinator: reset"), resets + 2);
}

TEST_F(AppDelegateTest, ScreenChangesReachTheCorrector) {
  launch();
  log.clear();
  delegate->applicationDidChangeScreenParameters(ns::Notification("NSApplicationDidChangeScreenParametersNotification"));
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: Screen parameters did change. enabled:true"));
}

// ---------------------------------------------------------------- actions and the updater

TEST_F(AppDelegateTest, CheckForUpdatesStartsTheUpdaterFirst) {
  delegate = AppDelegate::make();
  auto& controller = *UpdateManager::shared().updateController;
  EXPECT_FALSE(controller.updaterStarted());
  delegate->checkForUpdates(nullptr);
  EXPECT_EQ(controller.calls(), (std::vector<std::string>{"startUpdater", "checkForUpdates:"}));
  EXPECT_EQ(controller.userInitiatedCheckCount(), 1);
}

TEST_F(AppDelegateTest, TheUpdaterDoesNotStartBeforeTheSecondPhase) {
  world().setAccessibilityTrusted(false);
  launch();
  EXPECT_FALSE(UpdateManager::shared().updateController->updaterStarted());
}

TEST_F(AppDelegateTest, ShowPreferencesAndShowSettingsShowTheSameWindow) {
  launch();
  delegate->showPreferences(nullptr);
  auto window = delegate->preferencesViewCoordinator->windowController()->window();
  window->close();
  delegate->showSettings();
  EXPECT_EQ(delegate->preferencesViewCoordinator->windowController()->window(), window);
  EXPECT_TRUE(window->isVisible());
  delegate->showHelp(nullptr);
  // Termination waits for the events already tracked to be stored.
  delegate->applicationWillTerminate(ns::Notification("NSApplicationWillTerminateNotification"));
  EXPECT_EQ(telemetry->calls.back(), "waitUntilEventsStored:" + std::to_string(2.0));
}
