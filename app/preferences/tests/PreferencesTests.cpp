#include <gtest/gtest.h>

#include "app/preferences/Preferences.h"

namespace {

class PreferencesTest : public ::testing::Test {
 protected:
  std::shared_ptr<ns::UserDefaults> store = ns::UserDefaults::inMemory();
  MorvalentDefaults prefs{store};
};

}  // namespace

TEST_F(PreferencesTest, IconModeReadsStatusItemOnlyForExactlyOne) {
  EXPECT_EQ(prefs.applicationIconMode(), ApplicationIconMode::dockIcon);
  for (int64_t stored : {2, -1, 5}) {
    store->setObject("applicationIconMode", ns::Value(stored));
    EXPECT_EQ(prefs.applicationIconMode(), ApplicationIconMode::dockIcon) << stored;
  }
  store->setObject("applicationIconMode", ns::Value(int64_t{1}));
  EXPECT_EQ(prefs.applicationIconMode(), ApplicationIconMode::statusItem);
}

TEST_F(PreferencesTest, AnalyticsModeOutOfRangeReadsManualAndAbsentReadsRegistered) {
  prefs.registerDefaults();
  EXPECT_EQ(prefs.analyticsMode(), AnalyticsMode::automaticAnalytics);
  for (int64_t stored : {3, 7, -1}) {
    store->setObject("analyticsMode", ns::Value(stored));
    EXPECT_EQ(prefs.analyticsMode(), AnalyticsMode::manualReportingOnly) << stored;
  }
  store->setObject("analyticsMode", ns::Value(int64_t{1}));
  EXPECT_EQ(prefs.analyticsMode(), AnalyticsMode::minimalAnalytics);
}

TEST_F(PreferencesTest, UnregisteredFlagsReadFalseUntilWritten) {
  prefs.registerDefaults();
  EXPECT_FALSE(prefs.unhideWindowsEnabled());
  EXPECT_FALSE(prefs.permissionsOnboardingRequired());
  prefs.setUnhideWindowsEnabled(true);
  EXPECT_TRUE(prefs.unhideWindowsEnabled());
}

TEST_F(PreferencesTest, RegisteredDefaultsApplyBelowStoredValues) {
  prefs.registerDefaults();
  EXPECT_TRUE(prefs.openAtStartup());
  EXPECT_TRUE(prefs.dockPreviewsEnabled());
  EXPECT_FALSE(prefs.scrollWindowSnappingEnabled());
  EXPECT_FALSE(prefs.minimizeFinderWindowsEnabled());
  EXPECT_TRUE(prefs.preferencesOnboardingRequired());
  EXPECT_TRUE(prefs.automaticUpdateChecks());
  EXPECT_TRUE(prefs.showNowPlaying());
  prefs.setDockPreviewsEnabled(false);
  EXPECT_FALSE(prefs.dockPreviewsEnabled());
  EXPECT_EQ(MorvalentDefaults::registeredDefaults().size(), 12u);
  EXPECT_EQ(MorvalentDefaults::registeredDefaults().front().first, "openAtStartup");
  EXPECT_EQ(MorvalentDefaults::registeredDefaults().back().first, "showNowPlaying");
}

TEST_F(PreferencesTest, WritingAPropertyStoresANumberAndNotifiesItsObserver) {
  std::vector<bool> seen;
  auto token = prefs.observe("openAtStartup", [&] { seen.push_back(prefs.openAtStartup()); });
  ASSERT_EQ(seen, (std::vector<bool>{false})) << "the initial option runs the observer at once";
  prefs.setOpenAtStartup(true);
  EXPECT_EQ(seen, (std::vector<bool>{false, true})) << "the observer sees the stored value";
  auto stored = store->object("openAtStartup");
  ASSERT_TRUE(stored);
  EXPECT_TRUE(stored->isNumber());
}

TEST_F(PreferencesTest, KeysThatDifferFromTheirPropertyNames) {
  store->setObject("minimizeFinderWindows", ns::Value(true));
  EXPECT_TRUE(prefs.minimizeFinderWindowsEnabled());
  prefs.setAutomaticUpdateChecks(false);
  EXPECT_EQ(store->object("SUEnableAutomaticChecks"), std::optional<ns::Value>(ns::Value(false)));
}
