#include <cctype>

#include "app/shell/tests/ShellTestSupport.h"
#include "app/snapping/SnapAnalytics.h"

using namespace shelltest;
using Mode = AnalyticsManager::Mode;
using Confirmation = AnalyticsTelemetry::UserConfirmation;

namespace {

class AnalyticsManagerTest : public ShellTest {
 protected:
  // The preferences onboarding is over and the stored mode is `mode`.
  void choose(int64_t mode) {
    defaults().setPreferencesOnboardingRequired(false);
    defaults().defaults().setInteger(preferencekeys::analyticsMode, mode);
    manager->applyAnalyticsMode();
  }
  // The alert that the crash confirmation shows, answered with `response`.
  void answerAlerts(appkit::NSModalResponse response) {
    auto shown = std::make_shared<std::vector<appkit::NSAlert>>();
    appkit::NSAlert::setResponder([shown, response](appkit::NSAlert& alert) {
      shown->push_back(alert);
      return response;
    });
    alerts = shown;
  }
  std::shared_ptr<std::vector<appkit::NSAlert>> alerts = std::make_shared<std::vector<appkit::NSAlert>>();
};

}  // namespace

TEST_F(AnalyticsManagerTest, StartLeavesAnalyticsToTheModeRuleAndTurnsCrashesOnWithTheConfirmationHandler) {
  manager->start();
  // Switching Analytics off here would delete what an earlier run left unsent.
  ASSERT_EQ(telemetry->calls.size(), 3u);
  EXPECT_EQ(telemetry->calls[0], std::string("start:") + AnalyticsManager::kAppSecret);
  EXPECT_EQ(telemetry->calls[1], "Crashes.setEnabled:YES");
  EXPECT_EQ(telemetry->calls[2], "Crashes.setUserConfirmationHandler");
  manager->trackEvent("showDesktop");
  EXPECT_TRUE(telemetry->recorded().empty());
  EXPECT_TRUE(manager->applicationWillTerminate());
  EXPECT_EQ(telemetry->calls.back(), "waitUntilEventsStored:" + std::to_string(2.0));
  // A UUID in the canonical 8-4-4-4-12 form.
  const std::string secret = AnalyticsManager::kAppSecret;
  ASSERT_EQ(secret.size(), 36u);
  for (std::size_t i = 0; i < secret.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      EXPECT_EQ(secret[i], '-') << i;
    } else {
      EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(secret[i]))) << i;
    }
  }
}

TEST_F(AnalyticsManagerTest, ModeIsZeroUntilTheFirstSettingsWindowHasBeenClosed) {
  EXPECT_EQ(manager->mode(), Mode::manualReportingOnly);
  ASSERT_TRUE(defaults().preferencesOnboardingRequired());
  ASSERT_EQ(defaults().analyticsMode(), Mode::automaticAnalytics);
  manager->applyAnalyticsMode();
  EXPECT_EQ(manager->mode(), Mode::manualReportingOnly);
  EXPECT_FALSE(telemetry->recording());
  // Not started rather than switched off: what it keeps stays kept.
  EXPECT_TRUE(telemetry->calls.empty());

  defaults().setPreferencesOnboardingRequired(false);
  manager->applyAnalyticsMode();
  EXPECT_EQ(manager->mode(), Mode::automaticAnalytics);
  EXPECT_TRUE(telemetry->recording());
}

TEST_F(AnalyticsManagerTest, StoredModesOutsideTheRangeDisableAnalytics) {
  for (int64_t stored : {5, 3, -1}) {
    choose(1);
    ASSERT_TRUE(telemetry->analyticsEnabled);
    choose(stored);
    EXPECT_EQ(manager->mode(), Mode::manualReportingOnly) << stored;
    EXPECT_FALSE(telemetry->analyticsEnabled) << stored;
  }
  choose(1);
  EXPECT_EQ(manager->mode(), Mode::minimalAnalytics);
  EXPECT_TRUE(telemetry->analyticsEnabled);
}

TEST_F(AnalyticsManagerTest, SetOnboardingAgainFallsBackToTheManualMode) {
  choose(2);
  defaults().setPreferencesOnboardingRequired(true);
  manager->applyAnalyticsMode();
  EXPECT_EQ(manager->mode(), Mode::manualReportingOnly);
  EXPECT_FALSE(telemetry->recording());
  EXPECT_EQ(telemetry->calls.back(), "Analytics.setEnabled:NO");
}

TEST_F(AnalyticsManagerTest, PreferenceEventsCarryTheStoredValueAsText) {
  choose(1);
  defaults().setOpenAtStartup(false);
  manager->trackPreferenceChange(preferencekeys::openAtStartup);
  defaults().setApplicationIconMode(ApplicationIconMode::statusItem);
  manager->trackPreferenceChange(preferencekeys::applicationIconMode);
  manager->trackPreferenceChange(preferencekeys::dockPreviewsEnabled);  // registered only
  manager->trackPreferenceChange("unhideWindowsEnabled");               // nothing stored
  manager->trackPreferenceChange(preferencekeys::analyticsMode);
  auto events = telemetry->recorded();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].name, "preference_openAtStartup");
  EXPECT_EQ(events[0].properties, (AnalyticsTelemetry::Properties{{"Value", "0"}}));
  EXPECT_EQ(events[1].name, "preference_applicationIconMode");
  EXPECT_EQ(events[1].properties->at("Value"), "1");
  EXPECT_EQ(events[2].properties->at("Value"), "1");
  EXPECT_EQ(events[3].name, "preference_unhideWindowsEnabled");
  EXPECT_EQ(events[3].properties->at("Value"), "nil");
  EXPECT_EQ(events[4].properties->at("Value"), "1");
  for (const auto& e : events) EXPECT_FALSE(e.flags.has_value());
}

TEST_F(AnalyticsManagerTest, PreferenceEventsAreRecordedOnlyInModesThatAllowThem) {
  // During the first onboarding, then in each mode.
  manager->applyAnalyticsMode();
  manager->trackPreferenceChange(preferencekeys::openAtStartup);
  EXPECT_TRUE(telemetry->recorded().empty());
  choose(0);
  manager->trackPreferenceChange(preferencekeys::openAtStartup);
  EXPECT_TRUE(telemetry->recorded().empty());
  choose(1);
  manager->trackPreferenceChange(preferencekeys::openAtStartup);
  choose(2);
  manager->trackPreferenceChange(preferencekeys::openAtStartup);
  EXPECT_EQ(telemetry->recorded().size(), 2u);
}

TEST_F(AnalyticsManagerTest, SnappingEventsGoOutOnlyInTheAutomaticMode) {
  SnapAnalytics::setShared(manager);
  for (int64_t stored : {0, 1, 2}) {
    choose(stored);
    SnapAnalytics::trackIfAutomatic("windowSnapping_SnapLeft");
  }
  SnapAnalytics::setShared(nullptr);
  ASSERT_EQ(telemetry->events.size(), 1u);
  EXPECT_EQ(telemetry->events[0].name, "windowSnapping_SnapLeft");
  EXPECT_FALSE(telemetry->events[0].properties.has_value());
  EXPECT_TRUE(telemetry->events[0].analyticsEnabled);
}

TEST_F(AnalyticsManagerTest, PreviewEventPropertiesUseTheirRawKeys) {
  manager->trackEvent("dockPreview_SnapLeft", {{AnalyticsManager::EventProperty::window_ScreenDisplayMode, "a"},
                                               {AnalyticsManager::EventProperty::window_SpaceDisplayMode, "b"}});
  ASSERT_EQ(telemetry->events.size(), 1u);
  EXPECT_EQ(telemetry->events[0].properties,
            (AnalyticsTelemetry::Properties{{"window_ScreenDisplayMode", "a"}, {"window_SpaceDisplayMode", "b"}}));
  EXPECT_EQ(AnalyticsManager::eventProperty("window_SpaceDisplayMode"),
            AnalyticsManager::EventProperty::window_SpaceDisplayMode);
  EXPECT_FALSE(AnalyticsManager::eventProperty("window_spaceDisplayMode").has_value());
  EXPECT_FALSE(AnalyticsManager::eventProperty("").has_value());
}

TEST_F(AnalyticsManagerTest, PermissionsFailureIsSentEvenDuringTheOnboardingUnlessTheStoredModeIsZero) {
  manager->applyAnalyticsMode();  // onboarding pending: Analytics off
  ASSERT_FALSE(telemetry->recording());
  manager->trackPermissionsFailure(true, false);
  auto events = telemetry->recorded();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "permissions failure");
  EXPECT_EQ(events[0].properties, (AnalyticsTelemetry::Properties{{"accessibilityPermissions", "true"},
                                                                  {"screenRecordingPermissions", "false"}}));
  EXPECT_EQ(events[0].flags, 2);

  telemetry->events.clear();
  telemetry->calls.clear();
  defaults().setAnalyticsMode(Mode::manualReportingOnly);
  manager->trackPermissionsFailure(false, false);
  EXPECT_TRUE(telemetry->events.empty());
  EXPECT_TRUE(telemetry->calls.empty());
}

TEST_F(AnalyticsManagerTest, PermissionsFailureReadsTheStoredModeNotTheSharedOne) {
  choose(0);
  defaults().setAnalyticsMode(Mode::minimalAnalytics);  // stored, not applied
  manager->trackPermissionsFailure(false, true);
  ASSERT_EQ(telemetry->recorded().size(), 1u);
  EXPECT_EQ(telemetry->recorded()[0].properties->at("accessibilityPermissions"), "false");
}

TEST_F(AnalyticsManagerTest, OutsideTheManualModeCrashReportsAreSentWithoutAsking) {
  choose(1);
  manager->start();
  ASSERT_TRUE(telemetry->handler);
  EXPECT_FALSE(telemetry->handler({}));
  EXPECT_EQ(telemetry->confirmations, (std::vector<Confirmation>{Confirmation::send}));
  EXPECT_TRUE(appkit::NSAlert::shownMessages().empty());
}

TEST_F(AnalyticsManagerTest, TheManualModeAsksWithTheCrashReportingAlert) {
  manager->start();
  answerAlerts(appkit::NSAlertFirstButtonReturn);
  EXPECT_TRUE(telemetry->handler({}));
  ASSERT_EQ(alerts->size(), 1u);
  const auto& alert = alerts->front();
  EXPECT_EQ(alert.messageText(), "Crash Reporting");
  EXPECT_EQ(alert.informativeText(), "Do you want to send an anonymous crash report so we can investigate the issue?");
  EXPECT_EQ(alert.buttons(), (std::vector<std::string>{"Send", "Don't send"}));
  EXPECT_EQ(alert.alertStyle(), appkit::NSAlertStyle::critical);
  EXPECT_EQ(telemetry->confirmations, (std::vector<Confirmation>{Confirmation::send}));
}

TEST_F(AnalyticsManagerTest, TheAlertsThreeAnswers) {
  manager->start();
  answerAlerts(appkit::NSAlertSecondButtonReturn);
  EXPECT_TRUE(telemetry->handler({}));
  EXPECT_EQ(telemetry->confirmations, (std::vector<Confirmation>{Confirmation::dontSend}));

  // A dismissed alert (a response that names neither button) decides nothing
  // and leaves the service waiting for nothing.
  telemetry->confirmations.clear();
  telemetry->calls.clear();
  answerAlerts(appkit::NSModalResponseAbort);
  EXPECT_TRUE(telemetry->handler({}));
  for (appkit::NSModalResponse other : {appkit::NSAlertThirdButtonReturn, appkit::NSModalResponseCancel,
                                        appkit::NSModalResponseOK, appkit::NSModalResponseStop}) {
    AnalyticsManager::notifyCrashAlertResponse(other, *telemetry);
  }
  EXPECT_TRUE(telemetry->confirmations.empty());
  EXPECT_EQ(telemetry->calls, std::vector<std::string>(5, "Crashes.postponeUserConfirmation"));
  AnalyticsManager::notifyCrashAlertResponse(appkit::NSAlertFirstButtonReturn, *telemetry);
  EXPECT_EQ(telemetry->confirmations, (std::vector<Confirmation>{Confirmation::send}));
}

TEST_F(AnalyticsManagerTest, AHandlerThatOutlivesItsManagerStillAsks) {
  choose(2);
  manager->start();
  auto handler = telemetry->handler;
  AnalyticsManager::setSharedForTesting(nullptr);
  manager.reset();
  answerAlerts(appkit::NSAlertFirstButtonReturn);
  EXPECT_TRUE(handler({}));
  EXPECT_EQ(alerts->size(), 1u);
  EXPECT_EQ(telemetry->confirmations, (std::vector<Confirmation>{Confirmation::send}));
}

TEST_F(AnalyticsManagerTest, TheSharedManagerStartsInTheManualMode) {
  AnalyticsManager::setSharedForTesting(nullptr);
  auto shared = AnalyticsManager::shared();
  EXPECT_EQ(shared->mode(), Mode::manualReportingOnly);
  EXPECT_EQ(AnalyticsManager::shared(), shared);
  AnalyticsManager::setSharedForTesting(manager);
}
