// The analytics manager on the real telemetry client: its start switches the
// SDK's services and installs the crash confirmation handler, and the mode
// rule switches the Analytics service.

#if MORVALENT_SHELL_TELEMETRY

#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"
#include "RedEvududCrashes/RedEvududCrashes/tests/DVACCrashesTestSupport.h"
#include "app/shell/tests/ShellTestSupport.h"
#include "platform/security/Keychain.h"

using namespace shelltest;

namespace {

void resetTelemetry() {
  DVACAnalytics::resetSharedInstance();
  dvac_crashes_test::resetSharedInstances();
}

// Files under the fixture's temporary root, an in-memory keychain, uploads
// aimed at a closed local port (the virtual clock never reaches a flush
// anyway), and no crash engine in the test process.
class TelemetryClientTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    sec::setCurrentKeychain(std::make_shared<sec::MemoryKeychainStore>());
    DVACCrashes::setDebuggerAttachedProviderForTesting([] { return true; });
    resetTelemetry();
    DVACRedEvudud::setLogUrl("http://127.0.0.1:9");
    real = AnalyticsManager::make(AnalyticsTelemetry::redEvudud());
  }
  void TearDown() override {
    drain();
    resetTelemetry();
    drain();
    DVACCrashes::setDebuggerAttachedProviderForTesting(nullptr);
    sec::setCurrentKeychain(nullptr);
    ShellTest::TearDown();
  }
  std::shared_ptr<AnalyticsManager> real;
};

}  // namespace

TEST_F(TelemetryClientTest, StartAndTheModeRuleSwitchTheServices) {
  real->start();
  drain();
  EXPECT_TRUE(DVACRedEvudud::isConfigured());
  EXPECT_FALSE(DVACAnalytics::serviceClass()->isEnabled());
  EXPECT_TRUE(DVACCrashes::serviceClass()->isEnabled());
  ASSERT_TRUE(DVACCrashes::userConfirmationHandler());

  real->applyAnalyticsMode();  // the preferences onboarding is pending
  EXPECT_FALSE(DVACAnalytics::serviceClass()->isEnabled());
  defaults().setPreferencesOnboardingRequired(false);
  real->applyAnalyticsMode();
  EXPECT_TRUE(DVACAnalytics::serviceClass()->isEnabled());
  EXPECT_EQ(real->mode(), AnalyticsManager::Mode::automaticAnalytics);

  // Outside the manual mode the service is told to send without asking.
  EXPECT_FALSE(DVACCrashes::userConfirmationHandler()({}));
  EXPECT_TRUE(appkit::NSAlert::shownMessages().empty());

  defaults().setAnalyticsMode(AnalyticsManager::Mode::manualReportingOnly);
  real->applyAnalyticsMode();
  EXPECT_FALSE(DVACAnalytics::serviceClass()->isEnabled());
  appkit::NSAlert::setResponder([](appkit::NSAlert&) { return appkit::NSAlertSecondButtonReturn; });
  EXPECT_TRUE(DVACCrashes::userConfirmationHandler()({}));
  EXPECT_EQ(appkit::NSAlert::shownMessages(), (std::vector<std::string>{"Crash Reporting"}));
}

#endif
