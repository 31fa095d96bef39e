#include <gtest/gtest.h>

#include "platform/appkit/NSWorkspace.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/sim/Scenario.h"

namespace {

using appkit::NSRunningApplication;
using appkit::NSWorkspace;

const char* const kDesk = R"({
  "displays": [{"id": 1, "frame": [0, 0, 1000, 800], "spaces": [{"id": 1}, {"id": 2}]}],
  "dock": {"pid": 90, "frame": [0, 740, 1000, 60]},
  "applications": [
    {"pid": 501, "bundleIdentifier": "com.apple.finder", "name": "Finder",
     "bundleURL": "file:///System/Library/CoreServices/Finder.app/",
     "windows": [{"id": 11, "frame": [0, 100, 300, 200]}]},
    {"pid": 502, "name": "Helper", "activationPolicy": "accessory"}
  ],
  "frontmost": 501
})";

class NSWorkspaceTest : public ::testing::Test {
 protected:
  dispatch::VirtualClockScope clock;
  sim::ScopedScenario scenario{kDesk};
  std::shared_ptr<NSWorkspace> workspace = NSWorkspace::sharedWorkspace();
  std::vector<std::string> names;
  std::vector<std::shared_ptr<NSRunningApplication>> apps;
  ns::ObserverToken token = workspace->notificationCenter()->addObserver(
      std::nullopt, nullptr, [this](const ns::Notification& n) {
        names.push_back(n.name);
        auto it = n.userInfo.find(appkit::NSWorkspaceApplicationKey);
        apps.push_back(it == n.userInfo.end() ? nullptr : it->second.objectAs<NSRunningApplication>());
      });
  void drain() { dispatch::Scheduler::shared().runUntilIdle(); }
};

TEST_F(NSWorkspaceTest, RunningApplicationsInLaunchOrder) {
  auto running = workspace->runningApplications();
  ASSERT_EQ(running.size(), 4u);
  EXPECT_EQ(running[0], NSRunningApplication::currentApplication());
  EXPECT_EQ(running[1]->bundleIdentifier(), "com.apple.dock");
  EXPECT_EQ(running[2]->localizedName(), "Finder");
  EXPECT_EQ(running[2]->bundleURL()->absoluteString(), "file:///System/Library/CoreServices/Finder.app/");
  EXPECT_EQ(running[3]->activationPolicy(), appkit::NSApplicationActivationPolicy::Accessory);
  EXPECT_FALSE(running[3]->bundleIdentifier());
  EXPECT_EQ(workspace->frontmostApplication(), running[2]);
  EXPECT_TRUE(running[2]->isActive());
  // One object per process.
  EXPECT_EQ(NSRunningApplication::runningApplicationWithProcessIdentifier(501), running[2]);
  EXPECT_EQ(NSRunningApplication::runningApplicationsWithBundleIdentifier("com.apple.finder").at(0), running[2]);
  EXPECT_NE(running[3]->description().find("((null) - 502)"), std::string::npos);
}

TEST_F(NSWorkspaceTest, LaunchAndTerminateArriveOnTheMainQueue) {
  sim::ApplicationSpec spec;
  spec.bundleIdentifier = "com.example.New";
  const pid_t pid = sim::World::shared().launchApplication(spec);
  EXPECT_TRUE(names.empty());
  drain();
  ASSERT_EQ(names, (std::vector<std::string>{appkit::NSWorkspaceDidLaunchApplicationNotification}));
  ASSERT_TRUE(apps[0]);
  EXPECT_EQ(apps[0]->processIdentifier(), pid);
  auto launched = apps[0];
  names.clear();
  apps.clear();
  EXPECT_TRUE(launched->terminate());
  drain();
  ASSERT_EQ(names, (std::vector<std::string>{appkit::NSWorkspaceDidTerminateApplicationNotification}));
  EXPECT_EQ(apps[0], launched);  // the same object, now terminated
  EXPECT_TRUE(launched->isTerminated());
  EXPECT_FALSE(launched->hide());
  EXPECT_FALSE(NSRunningApplication::runningApplicationWithProcessIdentifier(pid));
}

TEST_F(NSWorkspaceTest, HideUnhideActivateAndSpaces) {
  auto finder = NSRunningApplication::runningApplicationWithProcessIdentifier(501);
  int frontmostChanges = 0;
  auto observation = workspace->observeFrontmostApplication([&] { ++frontmostChanges; });
  EXPECT_TRUE(finder->hide());
  EXPECT_TRUE(finder->isHidden());
  EXPECT_TRUE(finder->unhide());
  sim::World::shared().switchToSpace(2);
  sim::World::shared().sleep();
  sim::World::shared().wake();
  drain();
  EXPECT_EQ(names, (std::vector<std::string>{
                       appkit::NSWorkspaceDidHideApplicationNotification,
                       appkit::NSWorkspaceDidUnhideApplicationNotification,
                       appkit::NSWorkspaceActiveSpaceDidChangeNotification,
                       appkit::NSWorkspaceWillSleepNotification,
                       appkit::NSWorkspaceDidWakeNotification,
                   }));
  EXPECT_EQ(frontmostChanges, 1);  // hiding the frontmost application hands the front to nobody
  EXPECT_FALSE(workspace->frontmostApplication());

  names.clear();
  EXPECT_TRUE(finder->activateWithOptions());
  drain();
  EXPECT_EQ(names, (std::vector<std::string>{appkit::NSWorkspaceDidActivateApplicationNotification}));
  EXPECT_EQ(frontmostChanges, 2);
  EXPECT_EQ(workspace->frontmostApplication(), finder);
}

TEST_F(NSWorkspaceTest, OpenURLActivatesTheApplicationOfThatBundle) {
  sim::World::shared().setFrontmostApplication(std::nullopt);
  EXPECT_TRUE(workspace->openURL(*ns::URL::URLWithString("file:///System/Library/CoreServices/Finder.app/")));
  EXPECT_EQ(sim::World::shared().frontmostApplication(), 501);
  EXPECT_FALSE(workspace->openURL(*ns::URL::URLWithString("https://example.com/")));
  EXPECT_EQ(sim::World::shared().openedURLs().size(), 2u);
}

}  // namespace
