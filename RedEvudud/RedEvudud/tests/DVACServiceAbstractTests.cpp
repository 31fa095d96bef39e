// The service base: its persisted switch, its start, and the class-level
// switch's refusals.

#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/tests/DVACChannelTestSupport.h"
#include "RedEvudud/RedEvudud/tests/DVACHttpTestSupport.h"
#include "RedEvudud/RedEvudud/tests/DVACSdkTestSupport.h"

using namespace dvac_sdk_test;
using dvac_channel_test::numberedLog;
using dvac_channel_test::RecordingDelegate;

namespace {

class DVACServiceAbstractTests : public ::testing::Test {
 protected:
  void SetUp() override { DVACRedEvudud::setLogUrl("http://127.0.0.1:9"); }

  SdkEnvironment environment_;
  dvac_http_test::LogRecorder log_{DVACLogLevelVerbose};
};

TEST_F(DVACServiceAbstractTests, FreshInstallIsEnabledAndTheFirstSwitchOffDeletesTheUnitsLogs) {
  auto analytics = serviceClass("Analytics", 500,
                                DVACChannelUnitConfiguration::initWithGroupId("Analytics", 1, 60, 50, 3));
  auto service = analytics->service();
  EXPECT_EQ(service->isEnabledKey(), "AnalyticsIsEnabled");
  EXPECT_TRUE(service->isEnabled());
  EXPECT_FALSE(DVACRedEvududUserDefaults::shared()->objectForKey("AnalyticsIsEnabled"));

  DVACRedEvudud::start(kAppSecret, {analytics});
  auto recorder = std::make_shared<RecordingDelegate>();
  sdkGroup()->addDelegate(recorder);
  service->channelUnit()->enqueueItem(numberedLog(1), DVACLogFlagsNormal);
  ASSERT_TRUE(recorder->waitFor("didCompleteEnqueueing", 1));
  syncLogsQueue();
  EXPECT_EQ(environment_.storedRows("Analytics"), 1);

  service->setEnabled(false);
  syncLogsQueue();
  EXPECT_EQ(environment_.storedRows("Analytics"), 0);
  EXPECT_EQ(recorder->count("didFail"), 1u);
  EXPECT_EQ(ns::UserDefaults::standard()->objectForKey("DVRedEvududAnalyticsIsEnabled")->asBool(), false);
  EXPECT_FALSE(service->isEnabled());
  EXPECT_FALSE(service->isAvailable());
}

TEST_F(DVACServiceAbstractTests, SettingTheCurrentValueDoesNothing) {
  auto analytics = serviceClass("Analytics");
  DVACRedEvudud::start(kAppSecret, {analytics});
  auto service = analytics->service();
  const size_t applied = service->appliedStates.size();
  service->setEnabled(true);
  EXPECT_EQ(service->appliedStates.size(), applied);
  EXPECT_FALSE(DVACRedEvududUserDefaults::shared()->objectForKey("AnalyticsIsEnabled"));
}

TEST_F(DVACServiceAbstractTests, ClassSwitchBeforeConfigurationIsRefused) {
  auto analytics = serviceClass("Analytics");
  analytics->setEnabled(false);
  EXPECT_TRUE(log_.contains(
      "Analytics service hasn't been started. You need to call [DVACRedEvudud start:YOUR_APP_SECRET "
      "withServices:LIST_OF_SERVICES] first."));
  EXPECT_FALSE(DVACRedEvududUserDefaults::shared()->objectForKey("AnalyticsIsEnabled"));
  EXPECT_FALSE(analytics->isEnabled());
  EXPECT_TRUE(analytics->service()->isEnabled());
}

TEST_F(DVACServiceAbstractTests, ClassSwitchWhileTheSdkIsDisabledIsRefusedBothWays) {
  auto analytics = serviceClass("Analytics");
  DVACRedEvudud::start(kAppSecret, {analytics});
  DVACRedEvudud::setEnabled(false);
  // The SDK's own cascade switched the service off.
  EXPECT_FALSE(analytics->service()->isEnabled());
  log_.clear();
  analytics->setEnabled(true);
  analytics->setEnabled(false);
  EXPECT_EQ(log_.count("The SDK is disabled. Re-enable the whole SDK from RedEvudud first before enabling "
                       "Analytics service."),
            2u);
  EXPECT_FALSE(analytics->service()->isEnabled());
  DVACRedEvudud::setEnabled(true);
  EXPECT_TRUE(analytics->service()->isEnabled());
  EXPECT_TRUE(analytics->isEnabled());
}

TEST_F(DVACServiceAbstractTests, AServiceStoredAsDisabledStartsWithoutBeingSwitched) {
  DVACRedEvududUserDefaults::shared()->setObject(ns::Value(false), "AnalyticsIsEnabled");
  auto analytics = serviceClass("Analytics");
  DVACRedEvudud::start(kAppSecret, {analytics});
  auto service = analytics->service();
  EXPECT_TRUE(service->isStarted());
  EXPECT_TRUE(service->channelUnit());
  EXPECT_TRUE(service->appliedStates.empty());
  EXPECT_FALSE(service->isAvailable());
}

TEST_F(DVACServiceAbstractTests, LateConfigurationFromTheApplication) {
  auto analytics = serviceClass("Analytics");
  DVACRedEvudud::startFromLibraryWithServices({analytics});
  // A library without a secret cannot start a service that needs one.
  EXPECT_FALSE(analytics->service()->isStarted());
  EXPECT_TRUE(log_.contains("Red Evudud was started without app secret, but the service requires it."));
  DVACRedEvudud::start(kAppSecret, {analytics});
  EXPECT_TRUE(analytics->service()->isStarted());
  EXPECT_TRUE(analytics->service()->isStartedFromApplication());
  EXPECT_EQ(analytics->service()->appSecret(), kAppSecret);
}

}  // namespace
