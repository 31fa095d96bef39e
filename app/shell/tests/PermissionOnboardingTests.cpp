#include "app/shell/PermissionsViewCoordinator.h"
#include "app/shell/tests/ShellTestSupport.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Host.h"

using namespace shelltest;

namespace {

class OnboardingTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    coordinator = PermissionsViewCoordinator::make([this](const void* sender) { terminations.push_back(sender); });
  }
  void TearDown() override {
    coordinator.reset();
    ShellTest::TearDown();
  }

  void grant(bool accessibility, bool screenRecording) {
    sim::World::shared().setAccessibilityTrusted(accessibility);
    sim::World::shared().setScreenCaptureAllowed(screenRecording);
  }
  void start() {
    coordinator->start([this] { ++successes; });
  }
  std::shared_ptr<appkit::NSWindow> window() const {
    return coordinator->windowController() ? coordinator->windowController()->window() : nullptr;
  }
  std::shared_ptr<ui::Host> host() const {
    auto h = window()->contentHost();
    h->layoutIfNeeded();
    return h;
  }
  std::size_t count(const std::string& query) const { return host()->findAll(query).size(); }
  bool continueEnabled() const {
    auto node = host()->find("Continue");
    return node && node->isEnabled();
  }

  std::shared_ptr<PermissionsViewCoordinator> coordinator;
  std::vector<const void*> terminations;
  int successes = 0;
};

}  // namespace

TEST_F(OnboardingTest, BothGrantedAndNothingUnfinishedContinuesAtOnce) {
  start();
  EXPECT_EQ(successes, 1);
  EXPECT_EQ(window(), nullptr);
  EXPECT_TRUE(appkit::WindowList::visibleWindows().empty());
  EXPECT_FALSE(defaults().permissionsOnboardingRequired());
  EXPECT_FALSE(coordinator->isActive());
}

TEST_F(OnboardingTest, AnUnfinishedOnboardingShowsTheWindowWithTwoCheckmarks) {
  defaults().setPermissionsOnboardingRequired(true);
  start();
  EXPECT_EQ(successes, 0);
  ASSERT_NE(window(), nullptr);
  EXPECT_TRUE(window()->isVisible());
  EXPECT_TRUE(window()->isKeyWindow());
  EXPECT_EQ(window()->title(), "Morvalent Permissions");
  EXPECT_EQ(window()->styleMask(), 3u);
  EXPECT_EQ(count("checkmark.seal.fill"), 2u);
  EXPECT_EQ(count("Configure..."), 0u);
  EXPECT_TRUE(continueEnabled());
  EXPECT_TRUE(coordinator->isActive());

  // Return presses Continue: the window closes, the handler runs once on the main queue.
  EXPECT_TRUE(appkit::WindowList::dispatchKeyDown(ui::Key::returnKey));
  EXPECT_FALSE(window()->isVisible());
  EXPECT_FALSE(coordinator->isActive());
  EXPECT_EQ(successes, 0);
  drain();
  EXPECT_EQ(successes, 1);
  EXPECT_FALSE(defaults().permissionsOnboardingRequired());
  EXPECT_TRUE(terminations.empty());
  // The poll stops at its next tick.
  advance(1.0);
  EXPECT_FALSE(coordinator->isPolling());
  EXPECT_EQ(successes, 1);
}

TEST_F(OnboardingTest, AMissingPermissionShowsItsButtonAndPollingFollowsTheSystem) {
  grant(false, true);
  start();
  ASSERT_NE(window(), nullptr);
  EXPECT_TRUE(defaults().permissionsOnboardingRequired());
  EXPECT_EQ(count("Configure..."), 1u);
  EXPECT_EQ(count("checkmark.seal.fill"), 1u);
  EXPECT_FALSE(continueEnabled());
  // Neither a click nor Return presses a disabled Continue.
  host()->click("Continue");
  EXPECT_FALSE(appkit::WindowList::dispatchKeyDown(ui::Key::returnKey));
  drain();
  EXPECT_EQ(successes, 0);
  EXPECT_TRUE(window()->isVisible());

  // The Accessibility row's button asks with the system prompt.
  ASSERT_TRUE(host()->click("Configure..."));
  EXPECT_EQ(sim::World::shared().accessibilityPromptCount(), 1);

  // Granted in System Settings: the checkmark appears within a second.
  grant(true, true);
  advance(0.5);
  EXPECT_EQ(count("Configure..."), 1u);
  advance(0.5);
  EXPECT_EQ(count("Configure..."), 0u);
  EXPECT_TRUE(continueEnabled());
  // Revoked again: the button comes back and Continue is disabled.
  grant(true, false);
  advance(1.0);
  EXPECT_EQ(count("Configure..."), 1u);
  EXPECT_FALSE(continueEnabled());
  EXPECT_TRUE(coordinator->isPolling());
}

TEST_F(OnboardingTest, TheSecondScreenRecordingRequestOpensThePrivacyPane) {
  grant(true, false);
  start();
  ASSERT_TRUE(host()->click("Configure..."));
  EXPECT_EQ(sim::World::shared().screenCaptureRequestCount(), 1);
  EXPECT_TRUE(sim::World::shared().openedURLs().empty());
  EXPECT_TRUE(ScreenRecordingPermissionManager::shared()->hasBeenTried());
  ASSERT_TRUE(host()->click("Configure..."));
  ASSERT_TRUE(host()->click("Configure..."));
  EXPECT_EQ(sim::World::shared().screenCaptureRequestCount(), 1);
  auto opened = sim::World::shared().openedURLs();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0].absoluteString(),
            "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
}

TEST_F(OnboardingTest, ClosingWithScreenRecordingMissingReportsAndQuits) {
  grant(true, false);
  start();
  window()->performClose();
  ASSERT_EQ(terminations.size(), 1u);
  EXPECT_EQ(terminations[0], coordinator.get());
  auto events = telemetry->recorded();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "permissions failure");
  EXPECT_EQ(events[0].properties, (AnalyticsTelemetry::Properties{{"accessibilityPermissions", "true"},
                                                                  {"screenRecordingPermissions", "false"}}));
  EXPECT_EQ(events[0].flags, 2);
  drain();
  EXPECT_EQ(successes, 0);
  // The unfinished onboarding is remembered for the next launch.
  EXPECT_TRUE(defaults().permissionsOnboardingRequired());
}

TEST_F(OnboardingTest, ClosingWithBothGrantedFinishesTheOnboardingOnce) {
  defaults().setPermissionsOnboardingRequired(true);
  start();
  ASSERT_TRUE(continueEnabled());
  window()->performClose();
  EXPECT_FALSE(window()->isVisible());
  EXPECT_FALSE(coordinator->isActive());
  drain();
  EXPECT_EQ(successes, 1) << "the start-up goes on as after Continue";
  EXPECT_FALSE(defaults().permissionsOnboardingRequired());
  EXPECT_TRUE(terminations.empty());
  EXPECT_TRUE(telemetry->events.empty());
  advance(1.0);
  EXPECT_FALSE(coordinator->isPolling());

  // Continue closes the window itself: still one run of the handler.
  defaults().setPermissionsOnboardingRequired(true);
  start();
  ASSERT_TRUE(host()->click("Continue"));
  drain();
  EXPECT_EQ(successes, 2);
}

TEST_F(OnboardingTest, ClosingWithNoPermissionInTheManualModeQuitsWithoutAnEvent) {
  grant(false, false);
  defaults().setAnalyticsMode(AnalyticsManager::Mode::manualReportingOnly);
  start();
  EXPECT_EQ(count("Configure..."), 2u);
  window()->close();
  EXPECT_EQ(terminations.size(), 1u);
  EXPECT_TRUE(telemetry->events.empty());
}

TEST_F(OnboardingTest, ClosingWithNoPermissionReportsBothMissing) {
  grant(false, false);
  start();
  window()->close();
  ASSERT_EQ(telemetry->recorded().size(), 1u);
  EXPECT_EQ(telemetry->recorded()[0].properties, (AnalyticsTelemetry::Properties{
                                                     {"accessibilityPermissions", "false"},
                                                     {"screenRecordingPermissions", "false"}}));
}

TEST_F(OnboardingTest, ContinueAfterAPermissionWasRevokedKeepsTheWindowOpen) {
  defaults().setPermissionsOnboardingRequired(true);
  start();
  ASSERT_TRUE(continueEnabled());
  grant(true, false);  // revoked since the last poll
  ASSERT_TRUE(host()->click("Continue"));
  drain();
  EXPECT_TRUE(window()->isVisible());
  EXPECT_TRUE(terminations.empty());
  EXPECT_EQ(successes, 0);
  EXPECT_FALSE(continueEnabled());
  EXPECT_TRUE(coordinator->isActive());
}

TEST_F(OnboardingTest, ShowingTheWindowAgainOnlyBringsItForward) {
  grant(false, true);
  start();
  auto first = window();
  auto other = appkit::NSWindow::make(appkit::NSMakeRect(0, 0, 100, 100), appkit::NSWindowStyleMaskTitled);
  other->makeKeyAndOrderFront();
  ASSERT_FALSE(first->isKeyWindow());
  coordinator->showWindow();
  EXPECT_EQ(window(), first);
  EXPECT_TRUE(first->isKeyWindow());
  EXPECT_EQ(appkit::WindowList::visibleWindows().front().windowNumber, first->windowNumber());
  EXPECT_EQ(appkit::WindowList::allWindows().size(), 2u);
}

TEST_F(OnboardingTest, PollingStopsWhenTheCoordinatorGoesAway) {
  grant(false, true);
  start();
  coordinator.reset();
  advance(3.0);  // nothing left to tick
  SUCCEED();
}

TEST_F(OnboardingTest, TheScreenRecordingChecksWriteTheirDiagnosticLines) {
  ns::LogCapture capture;
  ScreenRecordingPermissionManager::shared()->hasPermission();
  EXPECT_EQ(capture.count(), 0u);
  defaults().defaults().setObject("loggingModules", ns::Value(ns::Array{ns::Value("ScreenRecordingPermissionManager")}));
  ScreenRecordingPermissionManager::shared()->hasPermission();
  ScreenRecordingPermissionManager::shared()->requestPermission();
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"ScreenRecordingPermissionManager: CGPreflightScreenCaptureAccess",
                                                       "ScreenRecordingPermissionManager: CGRequestScreenCaptureAccess"}));
}

TEST_F(OnboardingTest, TheWindowLaysOutBothRowsAndContinueInFiveHundredPoints) {
  grant(false, false);
  start();
  auto h = host();
  EXPECT_DOUBLE_EQ(h->size().width, 500);
  auto title = h->frameOf("Accessibility Permissions");
  auto configure = h->findAll("Configure...");
  ASSERT_TRUE(title.has_value());
  ASSERT_EQ(configure.size(), 2u);
  EXPECT_DOUBLE_EQ(title->x, 50);
  // The button column is 100 points wide at the right edge of the padded content.
  EXPECT_NEAR(configure[0]->frame.midX(), 500 - 50 - 50, 0.5);
  EXPECT_LT(configure[0]->frame.y, configure[1]->frame.y);
  auto cont = h->frameOf("Continue");
  ASSERT_TRUE(cont.has_value());
  EXPECT_NEAR(cont->midX(), 250, 0.5);
  EXPECT_NEAR(h->size().height - cont->maxY(), 30, 0.5);
}
