// The application repository: controllers for the running applications,
// launches and terminations, Space changes, the recently active windows, the
// Dock item lookup, the collection of windows across Spaces and show desktop.

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "app/model/DispatchQueueRun.h"
#include "app/model/tests/ApplicationTestSupport.h"

namespace {

using namespace apptest;

struct RecordingRepositoryDelegate : ApplicationRepositoryDelegate {
  std::vector<std::shared_ptr<ApplicationController>> docks;
  void applicationRepositoryDockControllerDidChange(const std::shared_ptr<ApplicationController>& c) override {
    docks.push_back(c);
  }
};

class ApplicationRepositoryTest : public DeskTest {
 protected:
  std::shared_ptr<RecordingRepositoryDelegate> delegate = std::make_shared<RecordingRepositoryDelegate>();
  std::shared_ptr<ApplicationRepository> repository = ApplicationRepository::make();

  void setUp() {
    repository->delegate = delegate;
    repository->setUp();
    drain();
  }
  std::shared_ptr<ApplicationController> controller(pid_t pid) const {
    for (const auto& c : repository->applicationControllers) {
      if (c->runningApplication->processIdentifier() == pid) return c;
    }
    return nullptr;
  }
  std::vector<pid_t> pids() const {
    std::vector<pid_t> out;
    for (const auto& c : repository->applicationControllers) out.push_back(c->runningApplication->processIdentifier());
    return out;
  }
  // The recent windows as "<pid>/<window id or ->".
  std::vector<std::string> recent() const {
    std::vector<std::string> out;
    for (const auto& r : repository->recentActiveWindows) {
      out.push_back(std::to_string(r.applicationController->runningApplication->processIdentifier()) + "/" +
                    (r.element ? std::to_string(r.element->element->id.id) : "-"));
    }
    return out;
  }
  void activate(pid_t pid) {
    world.activateApplication(pid);
    drain();
  }
  // The user clicks this program's Dock icon: it comes to the front.
  void frontmostSelf() {
    world.setFrontmostApplication(kSelf);
    drain();
  }
  std::set<std::uint64_t> spacesOf(std::uint32_t window) const {
    auto info = world.window(window);
    return std::set<std::uint64_t>(info->spaces.begin(), info->spaces.end());
  }
  bool hidden(pid_t pid) const { return world.application(pid)->hidden; }
};

// ---------------------------------------------------------------- set-up, launches, terminations

TEST_F(ApplicationRepositoryTest, SetUpMakesControllersForRegularApplicationsAndTheDock) {
  loggingModules({"ApplicationRepository"});
  repository->delegate = delegate;
  repository->setUp();
  EXPECT_EQ(pids(), (std::vector<pid_t>{kDock, kFinder, kMail, kSafari}));  // not the menu-bar application
  EXPECT_EQ(repository->dockApplicationController(), controller(kDock));
  ASSERT_EQ(delegate->docks.size(), 1u);
  EXPECT_EQ(delegate->docks[0], controller(kDock));
  EXPECT_FALSE(repository->activeApplicationController);  // until the frontmost application changes
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"ApplicationRepository: initializing applicationController collection....",
                                                   "ApplicationRepository: initialized."}));
  drain();
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"ApplicationRepository: initializing applicationController collection....",
                                      "ApplicationRepository: initialized.",
                                      "ApplicationRepository: collecting AXUIElements for all applications in all spaces",
                                      "ApplicationRepository: collecting AXUIElements for all applications in current spaces",
                                      "ApplicationRepository: collected for current space",
                                      "ApplicationRepository: collected for all spaces",
                                      "ApplicationRepository: collecting AXUIElements for all applications in current spaces",
                                      "ApplicationRepository: collected for current space"}));
}

TEST_F(ApplicationRepositoryTest, SetUpLearnsTheWindowsOfEverySpaceAndPutsThemBack) {
  std::set<std::uint64_t> downloadsDuringRead;
  world.setAccessibilityCallHook([&](const sim::AccessibilityCall& call) {
    if (call.element.pid == kFinder && call.name == "AXWindows" && downloadsDuringRead.empty()) {
      downloadsDuringRead = spacesOf(12);
    }
  });
  setUp();
  // Moved onto the first current Space only, not the right display's.
  EXPECT_EQ(downloadsDuringRead, (std::set<std::uint64_t>{1, 2}));
  EXPECT_EQ(ids(controller(kFinder)->allWindowElements), (std::vector<std::uint64_t>{11, 12}));
  EXPECT_EQ(ids(controller(kMail)->allWindowElements), (std::vector<std::uint64_t>{21, 22}));
  EXPECT_EQ(ids(controller(kSafari)->allWindowElements), (std::vector<std::uint64_t>{32, 31}));
  EXPECT_EQ(ids(controller(kFinder)->currentWindowElements), (std::vector<std::uint64_t>{11}));
  EXPECT_EQ(spacesOf(12), (std::set<std::uint64_t>{2}));
  EXPECT_EQ(spacesOf(31), (std::set<std::uint64_t>{2}));
  EXPECT_TRUE(world.window(32)->onAllSpaces);
}

TEST_F(ApplicationRepositoryTest, LaunchesAndTerminationsAreFollowed) {
  setUp();
  delegate->docks.clear();
  const pid_t notes = world.launchApplication(sim::ApplicationSpec{.pid = 600, .bundleIdentifier = "com.apple.Notes"});
  world.launchApplication(sim::ApplicationSpec{.pid = 601, .activationPolicy = sim::ActivationPolicy::Accessory});
  world.launchApplication(sim::ApplicationSpec{.pid = 602, .bundleIdentifier = ns::kMainBundleIdentifier});
  drain();
  EXPECT_EQ(pids(), (std::vector<pid_t>{kDock, kFinder, kMail, kSafari, notes}));
  EXPECT_EQ(delegate->docks.size(), 1u);  // told once, for the one new controller

  world.terminateApplication(kMeter);  // no controller: the list stays, the delegate is told again
  world.terminateApplication(kMail);
  drain();
  EXPECT_EQ(pids(), (std::vector<pid_t>{kDock, kFinder, kSafari, notes}));
  EXPECT_EQ(delegate->docks.size(), 3u);

  world.terminateApplication(kDock);
  drain();
  EXPECT_FALSE(repository->dockApplicationController());
  ASSERT_EQ(delegate->docks.size(), 4u);
  EXPECT_FALSE(delegate->docks.back());
  const pid_t dock = world.launchApplication(sim::ApplicationSpec{
      .pid = 91, .bundleIdentifier = "com.apple.dock", .activationPolicy = sim::ActivationPolicy::Accessory});
  drain();
  ASSERT_TRUE(repository->dockApplicationController());
  EXPECT_EQ(repository->dockApplicationController()->runningApplication->processIdentifier(), dock);
  EXPECT_EQ(delegate->docks.back(), repository->dockApplicationController());
}

TEST_F(ApplicationRepositoryTest, ALaunchAnnouncedAfterSetUpReadTheApplicationsIsNotAddedTwice) {
  world.launchApplication(sim::ApplicationSpec{.pid = 600, .bundleIdentifier = "com.apple.Notes"});
  setUp();  // the launch notification is still on its way
  EXPECT_EQ(pids(), (std::vector<pid_t>{kDock, kFinder, kMail, kSafari, 600}));
}

TEST_F(ApplicationRepositoryTest, AChangeOfTheActiveSpaceReadsTheWindowsAgain) {
  setUp();
  loggingModules({"ApplicationRepository"});
  world.switchToSpace(2);
  drain();
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "ApplicationRepository: collecting AXUIElements for all applications in current spaces",
                             "ApplicationRepository: collected for current space"}));
  EXPECT_EQ(ids(controller(kFinder)->currentWindowElements), (std::vector<std::uint64_t>{12}));
  EXPECT_EQ(ids(controller(kSafari)->currentWindowElements), (std::vector<std::uint64_t>{32, 31}));
}

// ---------------------------------------------------------------- recent active windows

TEST_F(ApplicationRepositoryTest, TheSixMostRecentActiveWindowsNewestFirst) {
  setUp();
  activate(kFinder);
  EXPECT_EQ(repository->activeApplicationController, controller(kFinder));
  activate(kMail);
  activate(kFinder);
  activate(kMail);
  EXPECT_EQ(recent(), (std::vector<std::string>{"502/21", "501/11", "502/21", "501/11"}));
  // Focus changes inside the active application are recorded too.
  world.focusWindow(22);
  drain();
  world.focusWindow(21);
  drain();
  EXPECT_EQ(recent(), (std::vector<std::string>{"502/21", "502/22", "502/21", "501/11", "502/21", "501/11"}));
  world.focusWindow(22);
  drain();
  EXPECT_EQ(recent(), (std::vector<std::string>{"502/22", "502/21", "502/22", "502/21", "501/11", "502/21"}));
  // The window already first is not added again.
  world.postAccessibilityNotification(sim::ElementID{kMail, sim::ElementKind::Window, 22}, "AXFocusedWindowChanged");
  drain();
  EXPECT_EQ(recent().size(), 6u);
  EXPECT_EQ(recent()[1], "502/21");
  // Only the active application's focus changes count.
  world.focusWindow(12);
  drain();
  EXPECT_EQ(recent()[0], "502/22");
}

TEST_F(ApplicationRepositoryTest, ARecordWithoutAWindowKeepsThePendingRestoreAndIsNotRepeated) {
  setUp();
  sim::ApplicationFaults faults;
  faults.windowAttributes["AXSubrole"] = sim::AttributeFault{sim::axerr::kCannotComplete, std::nullopt};
  world.setApplicationFaults(kFinder, faults);
  world.setApplicationFaults(kSafari, faults);
  repository->recentlyHidden = ApplicationRepository::RecentlyHidden{};
  activate(kFinder);
  activate(kSafari);  // windowless records compare equal, whatever their application
  EXPECT_EQ(recent(), (std::vector<std::string>{"501/-"}));
  EXPECT_TRUE(repository->recentlyHidden);
  activate(kMail);
  EXPECT_EQ(recent(), (std::vector<std::string>{"502/21", "501/-"}));
  EXPECT_FALSE(repository->recentlyHidden);  // working in another application ends it
}

TEST_F(ApplicationRepositoryTest, ThisProgramsOwnWindowsAreNeverRecorded) {
  world.setActivationPolicy(kSelf, sim::ActivationPolicy::Regular);
  setUp();
  ASSERT_TRUE(controller(kSelf));
  repository->recentlyHidden = ApplicationRepository::RecentlyHidden{};
  world.createWindow(kSelf, sim::WindowSpec{.id = 5});
  activate(kSelf);
  EXPECT_EQ(repository->activeApplicationController, controller(kSelf));
  EXPECT_TRUE(recent().empty());
  EXPECT_TRUE(repository->recentlyHidden);
}

// ---------------------------------------------------------------- Dock items

TEST_F(ApplicationRepositoryTest, DockItemsAreMatchedByURLAndForListedApplicationsByTitle) {
  world.launchApplication(sim::ApplicationSpec{.pid = 600, .bundleIdentifier = "com.valvesoftware.steam",
                                               .bundleURL = "file:///Applications/Steam.app/", .name = "Steam"});
  setUp();
  const auto finderURL = *ns::URL::URLWithString("file:///System/Library/CoreServices/Finder.app/");
  const auto itemURL = *ns::URL::URLWithString("file:///Users/me/Library/Steam/Steam.app/");
  EXPECT_EQ(repository->applicationController(finderURL, "Anything"), controller(kFinder));
  auto steam = repository->applicationController(itemURL, "Steam");
  ASSERT_EQ(steam, controller(600));
  EXPECT_EQ(steam->dockBundleURL, itemURL);
  // The URL wins over a listed title.
  EXPECT_EQ(repository->applicationController(*ns::URL::URLWithString("file:///Applications/Safari.app/"), "Steam"),
            controller(kSafari));
  // A title of an application outside the list matches nothing.
  EXPECT_FALSE(repository->applicationController(itemURL, "Mail"));
  EXPECT_FALSE(controller(kMail)->dockBundleURL);
  // Activating one of its windows opens the Dock item's URL.
  ASSERT_TRUE(runTask([steam] { return steam->activate(window(600, 1)); }));
  EXPECT_EQ(world.openedURLs().back(), itemURL);
}

TEST_F(ApplicationRepositoryTest, OnlyTheFirstApplicationWithTheTitleIsTried) {
  world.launchApplication(sim::ApplicationSpec{.pid = 600, .bundleIdentifier = "com.example.fake", .name = "Steam"});
  world.launchApplication(sim::ApplicationSpec{.pid = 601, .bundleIdentifier = "com.valvesoftware.steam", .name = "Steam"});
  setUp();
  EXPECT_FALSE(repository->applicationController(*ns::URL::URLWithString("file:///Steam.app/"), "Steam"));
}

// ---------------------------------------------------------------- collecting across Spaces

TEST_F(ApplicationRepositoryTest, NothingIsMovedWithoutOtherSpacesOrWindowServerAnswers) {
  loggingModules({"ApplicationRepository"});
  world.setCopySpacesFails(true);
  ASSERT_TRUE(runTask([r = repository] { return r->collectElementsInAllSpaces(); }));
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"ApplicationRepository: collecting AXUIElements for all applications in all spaces"}));
  EXPECT_EQ(spacesOf(12), (std::set<std::uint64_t>{2}));

  log.clear();
  ASSERT_TRUE(runTask([r = repository] { return r->collectElementsInCurrentSpace(); }));  // no controllers yet
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "ApplicationRepository: collecting AXUIElements for all applications in current spaces",
                             "ApplicationRepository: collected for current space"}));
}

TEST_F(ApplicationRepositoryTest, OtherSpacesWindowsGoBackWhenAnApplicationDoesNotAnswer) {
  sim::ApplicationFaults faults;
  faults.unresponsive = true;
  faults.timeout = 2;
  world.setApplicationFaults(kMail, faults);
  repository->setUp();
  bool mainRan = false;
  dispatch::Queue::main()->asyncAfterDelay(1, [&] { mainRan = true; });
  advance(1);
  EXPECT_TRUE(mainRan);
  EXPECT_EQ(spacesOf(31), (std::set<std::uint64_t>{1, 2}));  // Mail is still being asked
  advance(10);
  EXPECT_EQ(spacesOf(12), (std::set<std::uint64_t>{2}));
  EXPECT_EQ(spacesOf(31), (std::set<std::uint64_t>{2}));
  EXPECT_EQ(ids(controller(kFinder)->allWindowElements), (std::vector<std::uint64_t>{11, 12}));
  EXPECT_EQ(ids(controller(kSafari)->allWindowElements), (std::vector<std::uint64_t>{32, 31}));  // after Mail
  EXPECT_TRUE(controller(kMail)->allWindowElements.empty());
}

TEST_F(ApplicationRepositoryTest, OtherSpacesWindowsStayOnTheCurrentSpaceForABoundedTime) {
  loggingModules({"ApplicationRepository"});
  sim::ApplicationFaults faults;
  faults.responseDelay = 0.5;  // Finder's read takes about 13 s
  world.setApplicationFaults(kFinder, faults);
  repository->setUp();
  drain();
  advance(ApplicationRepository::kSpaceMembershipTimeLimit - 0.01);
  EXPECT_EQ(spacesOf(12), (std::set<std::uint64_t>{1, 2}));
  advance(0.02);
  EXPECT_EQ(spacesOf(12), (std::set<std::uint64_t>{2}));
  EXPECT_EQ(spacesOf(31), (std::set<std::uint64_t>{2}));
  EXPECT_FALSE(log.contains("collected for all spaces"));  // still collecting
  advance(30);
  EXPECT_TRUE(log.contains("collected for all spaces"));
  EXPECT_EQ(ids(controller(kFinder)->allWindowElements), (std::vector<std::uint64_t>{11, 12}));  // read in time
  EXPECT_EQ(spacesOf(12), (std::set<std::uint64_t>{2}));
}

// ---------------------------------------------------------------- show desktop

class ShowDesktopTest : public ApplicationRepositoryTest {
 protected:
  void SetUp() override {
    world.setActivationPolicy(kSelf, sim::ActivationPolicy::Regular);  // with its own Dock icon
    setUp();
  }
  // Hide-all and everything it schedules.
  void hideAll() {
    repository->hideAllApplications();
    advance(1);
  }
  void restore() {
    repository->restoreHiddenApplications();
    advance(1);
  }
};

TEST_F(ShowDesktopTest, HidesEveryOtherApplicationInTwoPassesAndRemembersWhatWasVisible) {
  minimizeFinderWindows(false);
  world.setApplicationHidden(kSafari, true);
  activate(kFinder);
  activate(kMail);
  frontmostSelf();
  CallLog calls(world);
  repository->hideAllApplications();
  for (pid_t pid : {kDock, kFinder, kMail, kSafari}) EXPECT_TRUE(hidden(pid)) << pid;  // at once
  EXPECT_FALSE(hidden(kSelf));
  ASSERT_TRUE(repository->recentlyHidden);
  std::vector<pid_t> remembered;
  for (const auto& c : repository->recentlyHidden->applicationControllers) {
    remembered.push_back(c->runningApplication->processIdentifier());
  }
  EXPECT_EQ(remembered, (std::vector<pid_t>{kDock, kFinder, kMail}));  // not Safari, hidden already
  EXPECT_EQ(repository->recentlyHidden->recentActiveWindows.size(), 2u);

  world.setApplicationHidden(kMail, false);
  advance(ApplicationRepository::kHidePassDelay);
  EXPECT_TRUE(hidden(kMail));  // the second pass
  advance(1);
  EXPECT_EQ(world.frontmostApplication(), kSelf);  // with the preference off Finder is left alone
  EXPECT_FALSE(world.window(11)->minimized);
  EXPECT_TRUE(calls.matching("AXMinimized").empty());
}

TEST_F(ShowDesktopTest, FinderWindowsAreMinimizedTwiceAndFinderComesForwardWithoutEndingTheRestore) {
  minimizeFinderWindows(true);
  activate(kMail);
  frontmostSelf();
  // A slow Finder: its activation is recorded before its windows are minimized.
  sim::ApplicationFaults slow;
  slow.responseDelay = 0.2;
  world.setApplicationFaults(kFinder, slow);
  CallLog calls(world);
  repository->hideAllApplications();
  advance(2 * ApplicationRepository::kHidePassDelay);
  EXPECT_EQ(world.frontmostApplication(), kFinder);  // about 0.1 s after the click
  advance(30);
  // Both passes minimized (each reads the focused window, then every window's
  // flag); the third focus read is the recording of Finder's activation.
  EXPECT_EQ(calls.count("501:get:AXMinimized:11"), 2u);
  EXPECT_EQ(calls.count("501:get:AXFocusedWindow"), 3u);
  EXPECT_TRUE(world.window(11)->minimized);
  EXPECT_TRUE(world.window(12)->minimized);
  EXPECT_EQ(ids(controller(kFinder)->minimizedElements), (std::vector<std::uint64_t>{11, 12}));
  EXPECT_EQ(recent().front(), "501/11");  // recorded, as every activation is
  EXPECT_TRUE(repository->recentlyHidden);  // but this program's own doing keeps the restore pending

  // The user's next activation ends it.
  activate(kMail);
  EXPECT_FALSE(repository->recentlyHidden);
}

TEST_F(ShowDesktopTest, OnOlderSystemsFinderIsNotActivated) {
  minimizeFinderWindows(true);
  world.setOperatingSystemVersion({13, 6, 0});
  frontmostSelf();
  hideAll();
  EXPECT_EQ(world.frontmostApplication(), kSelf);
  EXPECT_TRUE(world.window(11)->minimized);
}

TEST_F(ShowDesktopTest, RestoreUnhidesAndActivatesTheRecentWindowsOldestFirst) {
  minimizeFinderWindows(false);
  activate(kSafari);  // its focused window, Start, is on Space 2
  activate(kFinder);
  activate(kMail);
  frontmostSelf();
  hideAll();
  CallLog calls(world);
  restore();
  for (pid_t pid : {kDock, kFinder, kMail, kSafari}) EXPECT_FALSE(hidden(pid)) << pid;
  EXPECT_EQ(calls.matching("AXRaise"), (std::vector<std::string>{"501:action:AXRaise:11", "501:action:AXRaise:11",
                                                                  "502:action:AXRaise:21", "502:action:AXRaise:21"}));
  EXPECT_EQ(world.zOrder().front(), 21u);
  EXPECT_EQ(world.frontmostApplication(), kMail);
  EXPECT_FALSE(repository->recentlyHidden);
}

TEST_F(ShowDesktopTest, ARestoreWithNothingRememberedOnlyClearsTheRecord) {
  for (pid_t pid : {kDock, kFinder, kMail, kSafari}) world.setApplicationHidden(pid, true);
  frontmostSelf();
  hideAll();
  ASSERT_TRUE(repository->recentlyHidden);
  EXPECT_TRUE(repository->recentlyHidden->applicationControllers.empty());
  restore();
  EXPECT_FALSE(repository->recentlyHidden);
  EXPECT_TRUE(hidden(kMail));
}

TEST_F(ShowDesktopTest, WithoutDisplaysTheRestoreStaysPending) {
  activate(kFinder);
  activate(kMail);
  frontmostSelf();
  hideAll();
  world.setManagedDisplaySpacesFails(true);
  restore();
  EXPECT_TRUE(repository->recentlyHidden);
  EXPECT_TRUE(hidden(kMail));
  world.setManagedDisplaySpacesFails(false);
  restore();
  EXPECT_FALSE(repository->recentlyHidden);
  EXPECT_FALSE(hidden(kMail));
}

TEST_F(ShowDesktopTest, AnApplicationThatStopsAnsweringDoesNotHoldUpTheRestore) {
  activate(kFinder);
  activate(kMail);
  frontmostSelf();
  hideAll();
  sim::ApplicationFaults faults;
  faults.unresponsive = true;
  faults.timeout = 2;
  world.setApplicationFaults(kFinder, faults);
  repository->restoreHiddenApplications();
  bool mainRan = false;
  dispatch::Queue::main()->asyncAfterDelay(1, [&] { mainRan = true; });
  advance(1);
  EXPECT_TRUE(mainRan);
  EXPECT_TRUE(repository->recentlyHidden);
  advance(10);
  EXPECT_FALSE(repository->recentlyHidden);
  EXPECT_FALSE(hidden(kMail));
  EXPECT_EQ(world.frontmostApplication(), kMail);
  EXPECT_EQ(ids(controller(kFinder)->allWindowElements), (std::vector<std::uint64_t>{11, 12}));  // still known
}

TEST(DispatchQueueRun, HandsBackTheValueOrTheError) {
  dispatch::VirtualClockScope clock;
  auto queue = dispatch::Queue::makeSerial("run");
  auto value = modeltest::start<int>([queue] { return run(queue, [] { return 42; }); });
  modeltest::drain();
  EXPECT_EQ(*value, 42);
  auto failure = std::make_shared<std::string>();
  conc::spawnOnMain([queue, failure]() -> conc::Task<void> {
    try {
      auto hop = run(queue, []() -> int { throw std::runtime_error("no"); });
      co_await std::move(hop);
    } catch (const std::runtime_error& e) {
      *failure = e.what();
    }
  });
  modeltest::drain();
  EXPECT_EQ(*failure, "no");
}

}  // namespace
