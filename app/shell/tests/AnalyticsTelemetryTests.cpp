// The analytics manager on the real telemetry client: its start switches the
// SDK's services and installs the crash confirmation handler, the mode rule
// switches the Analytics service, and what one launch tracked reaches the
// server by the next one.

#if MORVALENT_SHELL_TELEMETRY

#include <sys/wait.h>

#include <filesystem>

#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"
#include "RedEvududCrashes/RedEvududCrashes/tests/DVACCrashesTestSupport.h"
#include "app/shell/tests/ShellTestSupport.h"
#include "platform/foundation/Json.h"
#include "platform/security/FileKeychainStore.h"
#include "platform/security/Keychain.h"
#include "tools/ingestion-sink/tests/SinkTestSupport.h"

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

// ---------------------------------------------------------------- across launches

namespace {

constexpr const char* kRootVariable = "MORVALENT_LAUNCH_ROOT";
// Nothing listens there: what a first launch tries to send stays stored.
constexpr const char* kNowhere = "http://127.0.0.1:9";

// One launch of the program's telemetry on the files under `root`: the
// preferences and the SDK's settings in one property list, the store and the
// keychain beside it, no crash engine, uploads to `url`; started.
class Launch {
 public:
  Launch(const std::string& root, const std::string& url)
      : files_(root, ns::UserDefaults::persistent(root + "/settings.plist")) {
    sec::setCurrentKeychain(std::make_shared<sec::FileKeychainStore>(std::filesystem::path(root) / "keychain"));
    DVACCrashes::setDebuggerAttachedProviderForTesting([] { return true; });
    resetTelemetry();
    MorvalentDefaults::standard().registerDefaults();
    DVACRedEvudud::setLogUrl(url);
    manager = AnalyticsManager::make(AnalyticsTelemetry::redEvudud());
    manager->start();
  }
  ~Launch() {
    if (auto group = dvac_test::sdkGroup()) group->pauseWithIdentifyingObject(manager);
    dispatch::Scheduler::shared().runUntilIdle();
    resetTelemetry();
    dispatch::Scheduler::shared().runUntilIdle();
    DVACCrashes::setDebuggerAttachedProviderForTesting(nullptr);
    sec::setCurrentKeychain(nullptr);
  }
  Launch(const Launch&) = delete;
  Launch& operator=(const Launch&) = delete;

  std::shared_ptr<AnalyticsManager> manager;

 private:
  dvac_test::ScopedSdkRoot files_;
};

// The first launches, each in a process of its own (on the real clock).
TEST(TelemetryFirstLaunch, TracksEventsAndIsKilled) {
  const char* root = std::getenv(kRootVariable);
  if (!ns::test::ChildTest::isChild() || !root) GTEST_SKIP() << "the first launch of a test across launches";
  Launch launch(root, kNowhere);
  MorvalentDefaults::standard().setPreferencesOnboardingRequired(false);
  launch.manager->applyAnalyticsMode();
  launch.manager->trackEvent("unsent 1");
  launch.manager->trackEvent("unsent 2");
  dvac_test::sdkGroup()->logsDispatchQueue()->sync([] {});
  ns::test::ChildTest::report("stored");
  ns::test::ChildTest::holdUntilKilled();
}

TEST(TelemetryFirstLaunch, EndsOnAPermissionsFailure) {
  const char* root = std::getenv(kRootVariable);
  if (!ns::test::ChildTest::isChild() || !root) GTEST_SKIP() << "the first launch of a test across launches";
  Launch launch(root, kNowhere);
  // The onboarding window closed with a permission missing; the program ends
  // as it does, with nothing torn down.
  launch.manager->trackPermissionsFailure(false, true);
  launch.manager->applicationWillTerminate();
  std::_Exit(0);
}

// The second launch runs here, on the virtual clock, against the sink.
class TelemetryAcrossLaunchesTest : public ::testing::Test {
 protected:
  std::unique_ptr<ns::test::ChildTest> firstLaunch(const std::string& test) {
    return std::make_unique<ns::test::ChildTest>(
        "TelemetryFirstLaunch." + test, std::vector<std::string>{std::string(kRootVariable) + "=" + root.path()});
  }
  // The name of every event in a batch the sink accepted, in arrival order.
  std::vector<std::string> delivered() const {
    std::vector<std::string> names;
    for (const auto& request : sink->requests()) {
      if (request.answeredStatus < 200 || request.answeredStatus > 299) continue;
      auto body = ns::json::parse(request.content());
      const ns::Value* logs = body ? body->find("logs") : nullptr;
      if (!logs || !logs->array()) continue;
      for (const auto& log : *logs->array()) {
        const ns::Value* name = log.find("name");
        if (log.find("type") && log.find("type")->asString() == "event" && name && name->string()) {
          names.push_back(*name->string());
        }
      }
    }
    return names;
  }
  bool deliveredSoon(const std::vector<std::string>& expected) {
    // The Analytics units flush 6 s after the logs they find at start.
    dispatch::Scheduler::shared().advance(6);
    return dispatch::Scheduler::shared().runMainUntil(
        [&] {
          auto names = delivered();
          std::sort(names.begin(), names.end());
          return names == expected;
        },
        20);
  }
  // A sent batch is deleted once its answer is handled, on the logs queue: after the sink has it.
  bool emptiedSoon(const std::string& group) {
    return dispatch::Scheduler::shared().runMainUntil([&] { return dvac_test::storedRows(group) == 0; }, 20);
  }

  dispatch::VirtualClockScope clock;
  ns::test::TemporaryDirectory root{"morvalent-launches"};
  std::unique_ptr<ingestion_sink::Sink> sink = sinktest::startSink();
};

}  // namespace

TEST_F(TelemetryAcrossLaunchesTest, EventsLeftByAKilledRunAreSentOnceByTheNext) {
  {
    auto child = firstLaunch("TracksEventsAndIsKilled");
    ASSERT_EQ(child->readLine(30), "stored");
    const int status = child->kill();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  }
  Launch launch(root.path(), sink->baseURL());
  launch.manager->applyAnalyticsMode();
  ASSERT_TRUE(deliveredSoon({"unsent 1", "unsent 2"})) << sink->requestCount() << " request(s)";
  dispatch::Scheduler::shared().advance(60);
  EXPECT_TRUE(emptiedSoon(kDVACAnalyticsGroupId)) << dvac_test::storedRows(kDVACAnalyticsGroupId) << " row(s) left";
  EXPECT_EQ(delivered().size(), 2u);
}

TEST_F(TelemetryAcrossLaunchesTest, APermissionsFailureThatEndedARunIsSentByTheNext) {
  {
    auto child = firstLaunch("EndsOnAPermissionsFailure");
    const int status = child->wait(30);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  Launch launch(root.path(), sink->baseURL());
  const std::string critical = std::string(kDVACAnalyticsGroupId) + "_critical";
  EXPECT_EQ(dvac_test::storedRows(critical), 1);
  // Permissions granted, but the first settings window not closed yet: the
  // event waits, neither recorded again nor deleted.
  launch.manager->applyAnalyticsMode();
  dispatch::Scheduler::shared().advance(60);
  EXPECT_EQ(dvac_test::storedRows(critical), 1);
  EXPECT_TRUE(delivered().empty());
  // Closed: Analytics goes on and the event out, once.
  MorvalentDefaults::standard().setPreferencesOnboardingRequired(false);
  launch.manager->applyAnalyticsMode();
  ASSERT_TRUE(deliveredSoon({"permissions failure"})) << sink->requestCount() << " request(s)";
  EXPECT_TRUE(emptiedSoon(critical)) << dvac_test::storedRows(critical) << " row(s) left";
  EXPECT_EQ(delivered().size(), 1u);
}

#endif
