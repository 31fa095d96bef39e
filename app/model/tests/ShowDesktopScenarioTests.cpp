// Show desktop end to end over the desk: the user works in a few windows,
// clicks this program's Dock icon to clear the screen, and clicks it again to
// get everything back; Finder's windows come back when its Dock icon is
// clicked.

#include <gtest/gtest.h>

#include "app/model/tests/ApplicationTestSupport.h"

namespace {

using namespace apptest;

class ShowDesktopScenario : public DeskTest {
 protected:
  std::shared_ptr<ApplicationRepository> repository = ApplicationRepository::make();

  void SetUp() override {
    MorvalentDefaults preferences(defaults.get());
    preferences.setUnhideWindowsEnabled(true);
    preferences.setMinimizeFinderWindowsEnabled(true);
    repository->setUp();
    drain();
  }

  // What a click on this program's Dock icon does with show desktop on: the
  // program comes forward, then restores when it may, and hides all otherwise.
  void clickOwnDockIcon() {
    world.setFrontmostApplication(kSelf);
    drain();
    if (MorvalentDefaults(defaults.get()).unhideWindowsEnabled() && repository->recentlyHidden) {
      repository->restoreHiddenApplications();
    } else {
      repository->hideAllApplications();
    }
    advance(2);
  }
  void userActivates(pid_t pid, std::uint32_t window) {
    world.activateApplication(pid);
    world.focusWindow(window);
    drain();
  }
  std::shared_ptr<ApplicationController> controller(pid_t pid) const {
    for (const auto& c : repository->applicationControllers) {
      if (c->runningApplication->processIdentifier() == pid) return c;
    }
    return nullptr;
  }
  bool hidden(pid_t pid) const { return world.application(pid)->hidden; }
  std::vector<std::uint32_t> onScreen() const {
    std::vector<std::uint32_t> out;
    for (auto id : world.zOrder()) {
      if (world.window(id)->onScreen) out.push_back(id);
    }
    return out;
  }
};

TEST_F(ShowDesktopScenario, HideEverythingThenBringItBackAsItWas) {
  userActivates(kSafari, 32);
  userActivates(kFinder, 11);
  userActivates(kMail, 21);
  ASSERT_EQ(repository->recentActiveWindows.size(), 3u);
  EXPECT_EQ(repository->recentActiveWindows[2].element, window(kSafari, 32));

  clickOwnDockIcon();  // hide
  EXPECT_TRUE(onScreen().empty());
  for (pid_t pid : {kMail, kSafari, kDock}) EXPECT_TRUE(hidden(pid)) << pid;
  // Finder came forward again but shows nothing: its windows were minimized.
  EXPECT_EQ(world.frontmostApplication(), kFinder);
  EXPECT_TRUE(world.window(11)->minimized);
  EXPECT_TRUE(world.window(12)->minimized);
  ASSERT_TRUE(repository->recentlyHidden);

  clickOwnDockIcon();  // restore
  EXPECT_FALSE(repository->recentlyHidden);
  for (pid_t pid : {kMail, kSafari, kDock}) EXPECT_FALSE(hidden(pid)) << pid;
  // The recent windows are back, the newest in front, Finder's Documents
  // un-minimized with them; Downloads stays minimized and remembered.
  EXPECT_EQ(onScreen(), (std::vector<std::uint32_t>{21, 11, 32, 22, 23}));
  EXPECT_EQ(world.frontmostApplication(), kMail);
  EXPECT_TRUE(world.window(12)->minimized);
  EXPECT_EQ(ids(controller(kFinder)->minimizedElements), (std::vector<std::uint64_t>{12}));

  // A click on Finder's Dock icon brings its windows back, the focused one raised.
  auto finder = controller(kFinder);
  ASSERT_TRUE(runTask([finder] { return finder->unminimizeIfNeeded(); }, 1));
  EXPECT_FALSE(world.window(11)->minimized);
  EXPECT_FALSE(world.window(12)->minimized);
  EXPECT_EQ(world.zOrder().front(), 11u);
  EXPECT_TRUE(finder->minimizedElements.empty());

  // Nothing is pending any more: the next click hides again.
  clickOwnDockIcon();
  EXPECT_TRUE(repository->recentlyHidden);
  EXPECT_TRUE(hidden(kMail));
}

TEST_F(ShowDesktopScenario, WorkingInAnApplicationInBetweenMakesTheNextClickHideAgain) {
  userActivates(kSafari, 32);
  userActivates(kMail, 21);
  clickOwnDockIcon();
  ASSERT_TRUE(repository->recentlyHidden);
  userActivates(kSafari, 32);  // the user clicks a window in the Dock preview instead
  EXPECT_FALSE(repository->recentlyHidden);
  clickOwnDockIcon();
  EXPECT_TRUE(hidden(kSafari));
  EXPECT_TRUE(repository->recentlyHidden);
}

TEST_F(ShowDesktopScenario, AFinderThatStopsAnsweringIsStillHiddenAndRestored) {
  userActivates(kSafari, 32);
  userActivates(kMail, 21);
  sim::ApplicationFaults faults;
  faults.unresponsive = true;
  faults.timeout = 1;
  world.setApplicationFaults(kFinder, faults);
  clickOwnDockIcon();
  advance(10);
  // Finder could not minimize its window; it came forward with it.
  EXPECT_EQ(onScreen(), (std::vector<std::uint32_t>{11}));
  EXPECT_TRUE(hidden(kMail));
  EXPECT_TRUE(controller(kFinder)->minimizedElements.empty());  // nothing was minimized, nothing remembered
  ASSERT_TRUE(repository->recentlyHidden);
  clickOwnDockIcon();
  advance(10);
  EXPECT_FALSE(repository->recentlyHidden);
  EXPECT_FALSE(hidden(kMail));
  EXPECT_EQ(world.frontmostApplication(), kMail);
}

}  // namespace
