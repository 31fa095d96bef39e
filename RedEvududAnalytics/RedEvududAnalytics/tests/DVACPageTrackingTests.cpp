// Automatic page tracking through the view controllers' appearance hook:
// page names, container controllers, pages seen before the service could
// take them, and the switch.

#include <gtest/gtest.h>

#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACPageLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/tests/DVACAnalyticsTestSupport.h"
#include "platform/appkit/NSViewController.h"

using namespace dvac_analytics_test;

namespace {

class SettingsViewController : public appkit::NSViewController {
 public:
  void viewWillAppear() override { ++appearances; }
  int appearances = 0;
};
class AboutViewController : public appkit::NSViewController {};
// Shows a child page while it is about to appear itself.
class ParentViewController : public appkit::NSViewController {
 public:
  void viewWillAppear() override { child.notifyWillAppear(); }
  AboutViewController child;
};
class ViewController : public appkit::NSViewController {};
class NSTabViewController : public appkit::NSViewController {};
class NSSplitViewController : public appkit::NSViewController {};
class NSPageController : public appkit::NSViewController {};

std::vector<std::string> pageNames(const RecordingDelegate& recorder) {
  std::vector<std::string> names;
  for (const auto& page : recorder.preparedOf<DVACPageLog>()) names.push_back(page->name().value_or("(null)"));
  return names;
}

class DVACPageTrackingTests : public ::testing::Test {
 protected:
  DVACPageTrackingTests() { DVACAnalyticsCategory::activateCategory(); }

  AnalyticsEnvironment environment_;
  LogRecorder log_;
  SettingsViewController settings_;
  AboutViewController about_;
};

TEST_F(DVACPageTrackingTests, PageNamesLoseTheirModuleAndTheControllerSuffix) {
  EXPECT_EQ(NSViewControllerPageViewLogging::pageNameForClassName("SettingsViewController"), "Settings");
  EXPECT_EQ(NSViewControllerPageViewLogging::pageNameForClassName("Morvalent.AboutViewController"), "About");
  EXPECT_EQ(NSViewControllerPageViewLogging::pageNameForClassName("ViewController"), "ViewController");
  EXPECT_EQ(NSViewControllerPageViewLogging::pageNameForClassName("Onboarding"), "Onboarding");
  EXPECT_FALSE(NSViewControllerPageViewLogging::pageNameForClassName("NSTabViewController"));
  EXPECT_FALSE(NSViewControllerPageViewLogging::pageNameForClassName("NSSplitViewController"));
  EXPECT_FALSE(NSViewControllerPageViewLogging::pageNameForClassName("NSPageController"));
  // Only exact container names are skipped.
  EXPECT_EQ(NSViewControllerPageViewLogging::pageNameForClassName("MyNSTabViewController"), "MyNSTab");
}

TEST_F(DVACPageTrackingTests, TheHookIsInstalledOnceForTheProcess) {
  EXPECT_TRUE(NSViewControllerPageViewLogging::isInstalled());
  EXPECT_TRUE(NSViewControllerPageViewLogging::swizzleViewWillAppear());
  EXPECT_FALSE(appkit::NSViewController::installAppearanceHook({}));
}

TEST_F(DVACPageTrackingTests, WithTrackingOffTheHookOnlyForwards) {
  auto recorder = environment_.startSdk();
  settings_.notifyWillAppear();
  drain();
  EXPECT_EQ(settings_.appearances, 1);
  EXPECT_TRUE(pageNames(*recorder).empty());
  EXPECT_FALSE(DVACAnalyticsCategory::missedPageViewName());
}

TEST_F(DVACPageTrackingTests, PagesAppearingWhileTheServiceRunsAreTrackedAtOnce) {
  DVACAnalytics::setAutoPageTrackingEnabled(true);
  auto recorder = environment_.startSdk();
  settings_.notifyWillAppear();
  ViewController plain;
  plain.notifyWillAppear();
  drain();
  // A controller is tracked once its own viewWillAppear has run.
  ParentViewController parent;
  parent.notifyWillAppear();
  drain();
  EXPECT_EQ(settings_.appearances, 1);
  EXPECT_EQ(pageNames(*recorder), (std::vector<std::string>{"Settings", "ViewController", "About", "Parent"}));
  EXPECT_EQ(environment_.storedRows("Analytics"), 5);
}

TEST_F(DVACPageTrackingTests, ContainerControllersAreNotPagesButTheirChildrenAre) {
  DVACAnalytics::setAutoPageTrackingEnabled(true);
  auto recorder = environment_.startSdk();
  NSTabViewController tabs;
  NSSplitViewController split;
  NSPageController pages;
  tabs.notifyWillAppear();
  split.notifyWillAppear();
  pages.notifyWillAppear();
  about_.notifyWillAppear();
  drain();
  EXPECT_EQ(pageNames(*recorder), std::vector<std::string>{"About"});
}

TEST_F(DVACPageTrackingTests, OnlyTheLastPageBeforeStartIsCaughtUpAndOnlyOnce) {
  DVACAnalytics::setAutoPageTrackingEnabled(true);
  settings_.notifyWillAppear();
  about_.notifyWillAppear();
  EXPECT_EQ(DVACAnalyticsCategory::missedPageViewName(), "About");

  auto recorder = environment_.startSdk();
  EXPECT_EQ(pageNames(*recorder), std::vector<std::string>{"About"});
  EXPECT_FALSE(DVACAnalyticsCategory::missedPageViewName());

  // Switching the service off and on again does not record it a second time.
  DVACAnalytics::setEnabled(false);
  DVACAnalytics::setEnabled(true);
  drain();
  EXPECT_EQ(pageNames(*recorder), std::vector<std::string>{"About"});
}

TEST_F(DVACPageTrackingTests, PagesSeenWhileDisabledWaitForTheNextEnable) {
  DVACAnalytics::setAutoPageTrackingEnabled(true);
  auto recorder = environment_.startSdk();
  DVACAnalytics::setEnabled(false);
  drain();
  settings_.notifyWillAppear();
  drain();
  EXPECT_TRUE(pageNames(*recorder).empty());
  EXPECT_EQ(DVACAnalyticsCategory::missedPageViewName(), "Settings");
  DVACAnalytics::setEnabled(true);
  drain();
  EXPECT_EQ(pageNames(*recorder), std::vector<std::string>{"Settings"});
}

}  // namespace
