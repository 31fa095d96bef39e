#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestSupport.h"

namespace {

class DVACRedEvududUserDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DVACLogger::resetForTesting();
    DVACRedEvududUserDefaults::resetSharedInstance();
  }
  void TearDown() override {
    DVACRedEvududUserDefaults::resetSharedInstance();
    DVACLogger::resetForTesting();
  }
  ns::test::ScopedStandardDefaults defaults_;
};

TEST_F(DVACRedEvududUserDefaultsTest, StoresUnderThePrefixedKey) {
  auto settings = DVACRedEvududUserDefaults::shared();
  EXPECT_EQ(settings, DVACRedEvududUserDefaults::shared());
  defaults_->setObject("DVRedEvududInstallId", ns::Value("00000000-0000-0000-0000-000000000001"));
  ASSERT_TRUE(settings->objectForKey("InstallId"));
  EXPECT_EQ(*settings->objectForKey("InstallId"), ns::Value("00000000-0000-0000-0000-000000000001"));

  EXPECT_TRUE(settings->setObject(ns::Value(false), "CrashesIsEnabled"));
  EXPECT_EQ(defaults_->object("DVRedEvududCrashesIsEnabled"), ns::Value(false));
  EXPECT_FALSE(defaults_->object("CrashesIsEnabled"));

  settings->removeObjectForKey("CrashesIsEnabled");
  EXPECT_FALSE(settings->objectForKey("CrashesIsEnabled"));
  EXPECT_FALSE(settings->objectForKey("NeverWritten"));

  settings->setObject(ns::Value(true), "X");
  settings->setObject(ns::Value::null(), "X");  // nil removes, as it does on the platform
  EXPECT_FALSE(defaults_->object("DVRedEvududX"));
}

TEST_F(DVACRedEvududUserDefaultsTest, MarkerKeyIsThePrefixedServiceMarker) {
  EXPECT_EQ(DVACRedEvududUserDefaults::getRedEvududKeyFrom(
                DVACRedEvududUserDefaults::migrationMarkerKeyForService("RedEvudud")),
            "DVRedEvudud310RedEvududUserDefaultsMigratedKey");
}

TEST_F(DVACRedEvududUserDefaultsTest, MigratesPrefixFamiliesOnceAndNeverOverwritesWithNil) {
  auto settings = DVACRedEvududUserDefaults::shared();
  const ns::Date start = ns::Date::fromTimeIntervalSince1970(1'700'000'000);
  defaults_->setObject("DVChannelStartTimer:Analytics", ns::Value(start));
  defaults_->setObject("DVInstallId", ns::Value("old-install-id"));
  defaults_->setObject("DVRedEvududPastDevices", ns::Value("kept"));  // "pastDevicesKey" is absent
  DVACLogger::setCurrentLogLevel(DVACLogLevelVerbose);
  ns::LogCapture capture;

  settings->migrateKeys(DVACRedEvududUserDefaults::redEvududMigrationTable(), "RedEvudud");

  EXPECT_EQ(defaults_->object("DVRedEvududChannelStartTimer:Analytics"), ns::Value(start));
  EXPECT_FALSE(defaults_->object("DVChannelStartTimer:Analytics"));
  EXPECT_EQ(settings->objectForKey("InstallId"), ns::Value("old-install-id"));
  EXPECT_FALSE(defaults_->object("DVInstallId"));
  EXPECT_EQ(defaults_->object("DVRedEvududPastDevices"), ns::Value("kept"));
  EXPECT_EQ(defaults_->object("DVRedEvudud310RedEvududUserDefaultsMigratedKey"), ns::Value(true));
  EXPECT_EQ(capture.countContaining("Migrating the old NSDefaults keys to new ones."), 1u);
  EXPECT_EQ(capture.countContaining("Migrating key DVChannelStartTimer:Analytics -> "
                                    "DVRedEvududChannelStartTimer:Analytics"),
            1u);
  EXPECT_EQ(capture.countContaining("Migrating key DVInstallId -> DVRedEvududInstallId"), 1u);
  EXPECT_EQ(capture.countContaining("Migrating key"), 2u);

  // A second run changes nothing, even when an old key shows up again.
  defaults_->setObject("DVInstallId", ns::Value("late"));
  capture.clear();
  settings->migrateKeys(DVACRedEvududUserDefaults::redEvududMigrationTable(), "RedEvudud");
  EXPECT_EQ(capture.count(), 0u);
  EXPECT_EQ(settings->objectForKey("InstallId"), ns::Value("old-install-id"));
  EXPECT_EQ(defaults_->object("DVInstallId"), ns::Value("late"));
}

TEST_F(DVACRedEvududUserDefaultsTest, EachServiceMigratesItsOwnTableOnce) {
  auto settings = DVACRedEvududUserDefaults::shared();
  defaults_->setObject("kDVAnalyticsIsEnabledKey", ns::Value(false));
  defaults_->setObject("kDVAnalyticsIsEnabledKey/abc", ns::Value(true));
  defaults_->setObject("pastSessionsKey", ns::Value(ns::Data{1, 2}));
  defaults_->setObject("kDVCrashesIsEnabledKey", ns::Value(false));
  defaults_->setObject("DVUserConfirmation", ns::Value(true));
  defaults_->setObject("DVAppDidReceiveMemoryWarning", ns::Value(true));

  settings->migrateKeys(DVACRedEvududUserDefaults::analyticsMigrationTable(), "Analytics");
  EXPECT_EQ(settings->objectForKey("AnalyticsIsEnabled"), ns::Value(false));
  EXPECT_EQ(settings->objectForKey("AnalyticsIsEnabled/abc"), ns::Value(true));
  EXPECT_EQ(settings->objectForKey("PastSessions"), ns::Value(ns::Data{1, 2}));
  // The crash service's keys wait for its own run.
  EXPECT_EQ(defaults_->object("kDVCrashesIsEnabledKey"), ns::Value(false));

  settings->migrateKeys(DVACRedEvududUserDefaults::crashesMigrationTable(), "Crashes");
  EXPECT_EQ(settings->objectForKey("CrashesIsEnabled"), ns::Value(false));
  EXPECT_EQ(settings->objectForKey("CrashesUserConfirmation"), ns::Value(true));
  EXPECT_EQ(settings->objectForKey("AppDidReceiveMemoryWarning"), ns::Value(true));
  EXPECT_FALSE(defaults_->object("kDVCrashesIsEnabledKey"));
  EXPECT_TRUE(settings->objectForKey("310AnalyticsUserDefaultsMigratedKey"));
  EXPECT_TRUE(settings->objectForKey("310CrashesUserDefaultsMigratedKey"));
  EXPECT_FALSE(settings->objectForKey("310RedEvududUserDefaultsMigratedKey"));
}

TEST(DVACRedEvududUserDefaultsPersistenceTest, SettingsAndMigrationSurviveAReopen) {
  ns::test::TemporaryDirectory dir;
  const std::string file = dir.file("com.morvalent.Morvalent.plist");
  {
    ns::test::ScopedStandardDefaults defaults(ns::UserDefaults::persistent(file));
    defaults->setObject("UserIdHistory", ns::Value(ns::Data{9, 8, 7}));
    DVACRedEvududUserDefaults::resetSharedInstance();
    auto settings = DVACRedEvududUserDefaults::shared();
    settings->migrateKeys(DVACRedEvududUserDefaults::redEvududMigrationTable(), "RedEvudud");
    settings->setObject(ns::Value("00000000-0000-4000-8000-000000000000"), "InstallId");
    settings->setObject(ns::Value(false), "NetworkRequestsAllowed");
    ASSERT_TRUE(defaults->synchronize());
  }
  DVACRedEvududUserDefaults::resetSharedInstance();
  ns::test::ScopedStandardDefaults reopened(ns::UserDefaults::persistent(file));
  auto settings = DVACRedEvududUserDefaults::shared();
  EXPECT_EQ(settings->objectForKey("InstallId"), ns::Value("00000000-0000-4000-8000-000000000000"));
  EXPECT_EQ(settings->objectForKey("NetworkRequestsAllowed"), ns::Value(false));
  EXPECT_EQ(settings->objectForKey("UserIdHistory"), ns::Value(ns::Data{9, 8, 7}));
  EXPECT_FALSE(reopened->object("UserIdHistory"));

  // The marker was persisted too: an old key written now is not migrated.
  reopened->setObject("UserIdHistory", ns::Value(ns::Data{1}));
  settings->migrateKeys(DVACRedEvududUserDefaults::redEvududMigrationTable(), "RedEvudud");
  EXPECT_EQ(settings->objectForKey("UserIdHistory"), ns::Value(ns::Data{9, 8, 7}));
  DVACRedEvududUserDefaults::resetSharedInstance();
}

}  // namespace
