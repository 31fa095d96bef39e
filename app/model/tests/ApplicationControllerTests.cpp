// The application controller: its window lists, observer events, summaries
// and window actions, over the simulated desktop.

#include <gtest/gtest.h>

#include "app/model/tests/ApplicationTestSupport.h"

namespace {

using namespace apptest;

struct RecordingControllerDelegate : ApplicationControllerDelegate {
  std::vector<std::shared_ptr<ApplicationController>> closes;
  void applicationControllerWindowDidClose(const std::shared_ptr<ApplicationController>& c) override {
    closes.push_back(c);
  }
};

class ApplicationControllerTest : public DeskTest {
 protected:
  std::shared_ptr<ApplicationController> finder = ApplicationController::make(application(kFinder));
  std::shared_ptr<ApplicationController> mail = ApplicationController::make(application(kMail));
  std::shared_ptr<ApplicationController> safari = ApplicationController::make(application(kSafari));

  static void update(const std::shared_ptr<ApplicationController>& c) {
    ASSERT_TRUE(runTask([c] { return c->updateElements(); }));
  }
  // Reads the windows once on each Space of the left display, as a user
  // switching Spaces would make it happen.
  void learnEverySpace(const std::shared_ptr<ApplicationController>& c) {
    update(c);
    world.switchToSpace(2);
    update(c);
    world.switchToSpace(1);
    update(c);
  }
  std::optional<ApplicationSummary> summaryOf(const std::shared_ptr<ApplicationController>& c) {
    return result<std::optional<ApplicationSummary>>([c] { return c->getApplicationSummary(); }).value();
  }
  std::vector<WindowSummary> summariesOf(const std::shared_ptr<ApplicationController>& c) {
    auto collection = ScreenAndSpaceRepository::getScreensAndSpaces();
    return result<std::vector<WindowSummary>>([c, collection] { return c->getWindowSummaries(collection); }).value();
  }
  static void unresponsive(sim::World& world, pid_t pid, double timeout) {
    sim::ApplicationFaults faults;
    faults.unresponsive = true;
    faults.timeout = timeout;
    world.setApplicationFaults(pid, faults);
  }
};

// ---------------------------------------------------------------- window lists

TEST_F(ApplicationControllerTest, WindowsOfOtherSpacesStayKnownOnceSeen) {
  update(finder);
  EXPECT_EQ(ids(finder->allWindowElements), (std::vector<std::uint64_t>{11}));
  world.switchToSpace(2);
  update(finder);
  EXPECT_EQ(ids(finder->currentWindowElements), (std::vector<std::uint64_t>{12}));
  EXPECT_EQ(ids(finder->allWindowElements), (std::vector<std::uint64_t>{11, 12}));  // the old first, then the new
  world.switchToSpace(1);
  update(finder);
  EXPECT_EQ(ids(finder->currentWindowElements), (std::vector<std::uint64_t>{11}));
  EXPECT_EQ(ids(finder->allWindowElements), (std::vector<std::uint64_t>{11, 12}));
}

TEST_F(ApplicationControllerTest, OnlyStandardWindowsAndDialogsAreKept) {
  update(mail);
  EXPECT_EQ(ids(mail->currentWindowElements), (std::vector<std::uint64_t>{21, 22, 23}));
  EXPECT_EQ(ids(mail->allWindowElements), (std::vector<std::uint64_t>{21, 22}));  // not the floating panel
  update(mail);
  EXPECT_EQ(ids(mail->allWindowElements), (std::vector<std::uint64_t>{21, 22}));  // nothing added twice
}

TEST_F(ApplicationControllerTest, AWindowListedTwiceIsKeptOnce) {
  // Mail's windows attribute names Inbox twice, by two separate elements.
  ns::Array listed;
  for (std::uint32_t id : {21u, 22u, 21u}) listed.push_back(ax::valueFromElement(window(kMail, id).element));
  sim::ApplicationFaults faults;
  faults.applicationAttributes["AXWindows"] = sim::AttributeFault{std::nullopt, ns::Value(listed)};
  world.setApplicationFaults(kMail, faults);
  update(mail);
  EXPECT_EQ(ids(mail->allWindowElements), (std::vector<std::uint64_t>{21, 22}));
}

TEST_F(ApplicationControllerTest, CollidingHashesChangeNothing) {
  world.setHashBuckets(1);
  learnEverySpace(finder);
  update(mail);
  update(mail);
  EXPECT_EQ(ids(finder->allWindowElements), (std::vector<std::uint64_t>{11, 12}));
  EXPECT_EQ(ids(mail->allWindowElements), (std::vector<std::uint64_t>{21, 22}));
}

TEST_F(ApplicationControllerTest, CreatedAndClosedWindowsRebuildTheListsAndClosesReachTheDelegate) {
  auto delegate = std::make_shared<RecordingControllerDelegate>();
  mail->delegate = delegate;
  update(mail);
  auto created = world.createWindow(kMail, sim::WindowSpec{.title = "New", .frame = CGRect(200, 300, 400, 300)});
  drain();
  EXPECT_EQ(ids(mail->allWindowElements), (std::vector<std::uint64_t>{21, 22, *created}));
  EXPECT_TRUE(delegate->closes.empty());

  world.closeWindow(21);
  drain();
  EXPECT_EQ(ids(mail->allWindowElements), (std::vector<std::uint64_t>{22, *created}));
  ASSERT_EQ(delegate->closes.size(), 1u);
  EXPECT_EQ(delegate->closes[0], mail);

  // A control of a window, and a window never listed: the lists stay, the delegate hears nothing.
  world.postAccessibilityNotification(sim::ElementID{kMail, sim::ElementKind::CloseButton, 22}, "AXUIElementDestroyed");
  world.closeWindow(23);
  drain();
  EXPECT_EQ(ids(mail->allWindowElements), (std::vector<std::uint64_t>{22, *created}));
  EXPECT_EQ(delegate->closes.size(), 1u);
}

TEST_F(ApplicationControllerTest, EveryFocusChangeIsPublishedOnce) {
  std::vector<std::uint64_t> focused;
  auto subscription = mail->focusedWindowDidChangePublisher.sink(
      [&](const AXUIElementWrapper& w) { focused.push_back(w.element->id.id); });
  world.focusWindow(22);
  world.postAccessibilityNotification(sim::ElementID{kMail, sim::ElementKind::Window, 22}, "AXFocusedWindowChanged");
  drain();
  EXPECT_EQ(focused, (std::vector<std::uint64_t>{22, 22}));  // equal values are not filtered
  EXPECT_TRUE(mail->allWindowElements.empty());              // the lists are not touched
}

TEST_F(ApplicationControllerTest, AnApplicationWithoutABundleIdentifierIsNamedUnknown) {
  loggingModules({"ApplicationController"});
  const pid_t pid = world.launchApplication(sim::ApplicationSpec{.pid = 600, .name = "Anon"});
  auto anon = ApplicationController::make(application(pid));
  EXPECT_FALSE(anon->isFinder());
  update(anon);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"ApplicationController: updateElements: unknown bundle identifier"}));
  log.clear();
  update(finder);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"ApplicationController: updateElements: com.apple.finder"}));
}

TEST_F(ApplicationControllerTest, AnApplicationThatDoesNotAnswerKeepsItsWindowsAndTheMainQueueFree) {
  learnEverySpace(finder);
  unresponsive(world, kFinder, 2);
  CallLog calls(world);
  bool done = false;
  conc::spawnOnMain([&]() -> conc::Task<void> {
    auto u = finder->updateElements();
    co_await std::move(u);
    done = true;
  });
  bool mainRan = false;
  dispatch::Queue::main()->asyncAfterDelay(1, [&] { mainRan = true; });
  advance(1);
  EXPECT_TRUE(mainRan);  // while the read waits for the application
  EXPECT_FALSE(done);
  advance(1.5);
  ASSERT_TRUE(done);
  EXPECT_EQ(calls.count("501:"), 1u);  // one call tells: no snapshot of every window
  EXPECT_EQ(ids(finder->allWindowElements), (std::vector<std::uint64_t>{11, 12}));
  EXPECT_EQ(ids(finder->currentWindowElements), (std::vector<std::uint64_t>{11}));

  // Answering again, a closed window goes at the next read.
  world.setApplicationFaults(kFinder, sim::ApplicationFaults{});
  world.closeWindow(12);
  update(finder);
  EXPECT_EQ(ids(finder->allWindowElements), (std::vector<std::uint64_t>{11}));
}

TEST_F(ApplicationControllerTest, AnApplicationThatStopsAnsweringHalfwayKeepsItsWindows) {
  learnEverySpace(finder);
  world.setAccessibilityCallHook([this](const sim::AccessibilityCall& call) {
    if (call.element.pid == kFinder && call.name == "AXTitle") {
      sim::ApplicationFaults faults;
      faults.unresponsive = true;
      world.setApplicationFaults(kFinder, faults);
    }
  });
  update(finder);
  EXPECT_EQ(ids(finder->allWindowElements), (std::vector<std::uint64_t>{11, 12}));
}

TEST_F(ApplicationControllerTest, OverlappingUpdatesKeepWhatTheEarlierOneLearned) {
  // The first read sees Downloads while it is on the current Space; by the
  // second read it is back on Space 2 only.
  world.setWindowSpaces(12, {1, 2});
  world.setAccessibilityCallHook([this](const sim::AccessibilityCall& call) {
    if (call.element.id == 12 && call.name == "AXHidden") world.setWindowSpaces(12, {2});
  });
  std::vector<std::vector<std::uint64_t>> seen;
  for (int i = 0; i < 2; ++i) {
    conc::spawnOnMain([&, c = finder]() -> conc::Task<void> {
      auto u = c->updateElements();
      co_await std::move(u);
      seen.push_back(ids(c->allWindowElements));
    });
  }
  drain();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], (std::vector<std::uint64_t>{11, 12}));
  EXPECT_EQ(seen[1], (std::vector<std::uint64_t>{11, 12}));
  EXPECT_EQ(ids(finder->currentWindowElements), (std::vector<std::uint64_t>{11}));  // the last read wins
}

// ---------------------------------------------------------------- summaries

TEST_F(ApplicationControllerTest, TheSummaryGroupsWindowsByScreenAndSpaceWithThumbnails) {
  learnEverySpace(safari);
  loggingModules({"ApplicationController"});
  auto summary = summaryOf(safari);
  ASSERT_TRUE(summary);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"ApplicationController: getApplicationSummary: com.apple.Safari",
                                                   "ApplicationController: updateElements: com.apple.Safari"}));
  EXPECT_EQ(summary->title, "Safari");
  EXPECT_EQ(summary->bundleID, "com.apple.Safari");
  ASSERT_EQ(summary->screens.size(), 1u);  // the right display holds none of its windows
  const auto& left = summary->screens[0];
  EXPECT_EQ(left.summary.id, kLeftDisplay);
  EXPECT_EQ(left.summary.spaces.size(), 2u);  // the screen keeps its whole Space list
  ASSERT_EQ(left.spaces.size(), 2u);
  EXPECT_EQ(left.spaces[0].summary.id, 1u);
  ASSERT_EQ(left.spaces[0].windows.size(), 1u);
  // On every Space: the current Space of the first display that lists it.
  const WindowSummary& news = left.spaces[0].windows[0];
  EXPECT_EQ(news.windowID, 32u);
  EXPECT_TRUE(news.space.isCurrentSpace);
  EXPECT_EQ(left.spaces[1].summary.id, 2u);
  ASSERT_EQ(left.spaces[1].windows.size(), 1u);
  const WindowSummary& start = left.spaces[1].windows[0];
  EXPECT_EQ(start.title, "Start");
  EXPECT_FALSE(start.space.isCurrentSpace);
  EXPECT_EQ(start.frame, CGRect(150, 260, 800, 600));
  ASSERT_TRUE(start.thumbnailImage);
  EXPECT_EQ(start.thumbnailImage->size(), (img::Size{800, 600}));  // points are the captured pixels
  // ... which are made at no more than twice the largest cell of the preview.
  ASSERT_TRUE(start.thumbnailImage->bestRepresentation());
  EXPECT_EQ(start.thumbnailImage->bestRepresentation()->pixelsWide(), 480);
  EXPECT_EQ(start.thumbnailImage->bestRepresentation()->pixelsHigh(), 360);
  EXPECT_TRUE(start.element == safari->allWindowElements[1]);  // News was seen first
  EXPECT_TRUE(start.isResizable);
  EXPECT_EQ(summary->allWindows().size(), 2u);
}

TEST_F(ApplicationControllerTest, WindowsOnTwoDisplaysAreGroupedUnderEach) {
  auto summary = summaryOf(mail);
  ASSERT_TRUE(summary);
  ASSERT_EQ(summary->screens.size(), 2u);
  EXPECT_EQ(summary->screens[0].summary.id, kLeftDisplay);
  EXPECT_EQ(ids({summary->screens[0].spaces[0].windows[0].element}), (std::vector<std::uint64_t>{21}));
  EXPECT_EQ(summary->screens[1].summary.id, kRightDisplay);
  ASSERT_EQ(summary->screens[1].spaces.size(), 1u);
  EXPECT_EQ(summary->screens[1].spaces[0].summary.id, 10u);
  EXPECT_EQ(summary->screens[1].spaces[0].windows[0].title, "Send Later");
  EXPECT_EQ(summary->allWindows().size(), 2u);  // not the floating panel
}

TEST_F(ApplicationControllerTest, AWindowsScreenIsTheDisplayOfItsSpace) {
  learnEverySpace(safari);
  world.setWindowSpaces(31, {2, 10});  // Space 2 is listed first, Space 10 is current
  const auto summaries = summariesOf(safari);
  ASSERT_EQ(summaries.size(), 2u);
  EXPECT_EQ(summaries[1].windowID, 31u);
  EXPECT_EQ(summaries[1].space.id, 10u);
  EXPECT_EQ(summaries[1].screen.id, kRightDisplay);
}

TEST_F(ApplicationControllerTest, AWindowOnAnUnknownSpaceFallsBackAndIsLeftOutOfTheSummary) {
  learnEverySpace(safari);
  auto system = world.addSpace(1, sim::kSpaceTypeSystem);
  world.setWindowSpaces(31, {*system});
  const auto summaries = summariesOf(safari);
  ASSERT_EQ(summaries.size(), 2u);
  const WindowSummary& start = summaries[1];
  EXPECT_EQ(start.windowID, 31u);
  EXPECT_EQ(start.space.id, 0u);
  EXPECT_EQ(start.space.userSpaceNumber, 1);
  EXPECT_TRUE(start.space.isCurrentSpace);
  EXPECT_EQ(start.screen.id, "");
  EXPECT_EQ(start.screen.screen, appkit::NSScreen::mainScreen());
  auto summary = summaryOf(safari);
  EXPECT_EQ(summary->allWindows().size(), 1u);
}

TEST_F(ApplicationControllerTest, NoDisplaysNoSummaryAndNoRead) {
  world.setManagedDisplaySpacesFails(true);
  CallLog calls(world);
  EXPECT_FALSE(summaryOf(finder));
  EXPECT_TRUE(calls.calls().empty());
  EXPECT_TRUE(finder->allWindowElements.empty());
}

TEST_F(ApplicationControllerTest, AWindowlessApplicationHasAnEmptySummary) {
  const pid_t pid = world.launchApplication(sim::ApplicationSpec{.pid = 600, .bundleIdentifier = "com.example.empty"});
  auto empty = ApplicationController::make(application(pid));
  auto summary = summaryOf(empty);
  ASSERT_TRUE(summary);
  EXPECT_TRUE(summary->screens.empty());
  EXPECT_EQ(summary->bundleID, "com.example.empty");
  EXPECT_EQ(summary->title, application(pid)->description());  // no localized name
}

TEST_F(ApplicationControllerTest, ManyWindowsShareABoundedBudgetOfThumbnailPixels) {
  sim::ApplicationSpec spec{.pid = 600, .bundleIdentifier = "com.example.many"};
  constexpr int kWindows = 200;
  for (int i = 0; i < kWindows; ++i) {
    spec.windows.push_back(sim::WindowSpec{.title = "W" + std::to_string(i), .frame = CGRect(20, 40, 600, 450)});
  }
  auto many = ApplicationController::make(application(world.launchApplication(spec)));
  auto summary = summaryOf(many);
  ASSERT_TRUE(summary);
  const auto windows = summary->allWindows();
  ASSERT_EQ(windows.size(), static_cast<std::size_t>(kWindows));
  double pixels = 0;
  for (const auto& w : windows) {
    ASSERT_TRUE(w.thumbnailImage && w.thumbnailImage->bestRepresentation());
    EXPECT_EQ(w.thumbnailImage->size(), (img::Size{600, 450}));
    const auto& bitmap = *w.thumbnailImage->bestRepresentation();
    EXPECT_NEAR(bitmap.pixelsWide() / static_cast<double>(bitmap.pixelsHigh()), 4.0 / 3, 0.02);
    pixels += static_cast<double>(bitmap.pixelsWide()) * bitmap.pixelsHigh();
  }
  // The full captures would take four times the budget; their share is what is left.
  EXPECT_LE(pixels, ApplicationController::kThumbnailPixelBudget * 1.02);
  EXPECT_GE(pixels, ApplicationController::kThumbnailPixelBudget * 0.95);
}

TEST_F(ApplicationControllerTest, MinimizedUntitledAndUncapturableWindowsKeepTheirSummaries) {
  update(mail);
  world.setWindowTitle(21, std::nullopt);
  world.setWindowMinimized(21, true);
  world.setScreenCaptureAllowed(false);
  const auto summaries = summariesOf(mail);
  ASSERT_EQ(summaries.size(), 2u);
  EXPECT_EQ(summaries[0].title, "");
  EXPECT_TRUE(summaries[0].minimized);
  EXPECT_FALSE(summaries[0].thumbnailImage);
}

TEST_F(ApplicationControllerTest, AWindowClosedSinceTheLastReadIsSkipped) {
  update(mail);
  world.closeWindow(21);
  auto collection = ScreenAndSpaceRepository::getScreensAndSpaces();
  auto c = mail;
  auto windows = result<std::vector<WindowSummary>>([c, collection] { return c->getWindows(collection); });
  ASSERT_EQ(windows->size(), 1u);
  EXPECT_EQ((*windows)[0].windowID, 22u);
  auto one = result<std::optional<WindowSummary>>(
      [c, collection] { return c->getWindowSummary(window(kMail, 22), collection, false); });
  ASSERT_TRUE(one && *one);
  EXPECT_FALSE((*one)->thumbnailImage);
  EXPECT_EQ((*one)->screen.id, kRightDisplay);
}

TEST_F(ApplicationControllerTest, ASummaryOfAnApplicationThatStopsAnsweringCostsOneCall) {
  learnEverySpace(finder);
  unresponsive(world, kFinder, 3);
  CallLog calls(world);
  auto r = modeltest::start<std::optional<ApplicationSummary>>([c = finder] { return c->getApplicationSummary(); });
  bool mainRan = false;
  dispatch::Queue::main()->async([&] { mainRan = true; });
  drain();
  EXPECT_TRUE(mainRan);
  EXPECT_FALSE(r->has_value());
  advance(7);
  ASSERT_TRUE(r->has_value());
  ASSERT_TRUE(**r);
  EXPECT_TRUE((**r)->screens.empty());
  EXPECT_EQ(calls.count("501:"), 2u);  // the windows, then one probe instead of every window
  EXPECT_EQ(finder->allWindowElements.size(), 2u);
}

// ---------------------------------------------------------------- actions

TEST_F(ApplicationControllerTest, TheFocusedWindowNeedsAReadableSubrole) {
  auto focused = result<std::optional<AXUIElementWrapper>>([c = mail] { return c->getFocusedWindow(); });
  ASSERT_TRUE(focused && *focused);
  EXPECT_EQ((*focused)->element->id.id, 21u);
  world.setWindowAttributeFault(21, "AXSubrole", sim::AttributeFault{sim::axerr::kCannotComplete, std::nullopt});
  focused = result<std::optional<AXUIElementWrapper>>([c = mail] { return c->getFocusedWindow(); });
  ASSERT_TRUE(focused);
  EXPECT_FALSE(*focused);
}

TEST_F(ApplicationControllerTest, ActivatingARememberedWindowUnminimizesRaisesAndOpensTheApplication) {
  learnEverySpace(finder);
  ASSERT_TRUE(runTask([c = finder] { return c->minimizeAndRememberWindows(); }));
  EXPECT_EQ(ids(finder->minimizedElements), (std::vector<std::uint64_t>{11, 12}));
  EXPECT_EQ(finder->focusedWindowBeforeMinimize, window(kFinder, 11));
  world.activateApplication(kMail);
  CallLog calls(world);
  ASSERT_TRUE(runTask([c = finder] { return c->activate(window(kFinder, 11)); }));
  EXPECT_EQ(calls.calls(), (std::vector<std::string>{"501:set:AXMinimized:11", "501:action:AXRaise:11",
                                                     "501:action:AXRaise:11"}));
  EXPECT_FALSE(world.window(11)->minimized);
  EXPECT_TRUE(world.window(12)->minimized);  // the other stays minimized and remembered
  EXPECT_EQ(ids(finder->minimizedElements), (std::vector<std::uint64_t>{12}));
  EXPECT_EQ(world.frontmostApplication(), kFinder);
  EXPECT_EQ(world.openedURLs().back().absoluteString(), "file:///System/Library/CoreServices/Finder.app/");

  // Not remembered: only raised and opened.
  calls.clear();
  ASSERT_TRUE(runTask([c = mail] { return c->activate(window(kMail, 22)); }));
  EXPECT_EQ(calls.calls(), (std::vector<std::string>{"502:action:AXRaise:22", "502:action:AXRaise:22"}));
}

TEST_F(ApplicationControllerTest, WithoutAnyURLTheWindowIsRaisedOnce) {
  const pid_t pid = world.launchApplication(sim::ApplicationSpec{.pid = 600, .windows = {sim::WindowSpec{.id = 61}}});
  auto anon = ApplicationController::make(application(pid));
  CallLog calls(world);
  ASSERT_TRUE(runTask([anon] { return anon->activate(window(600, 61)); }));
  EXPECT_EQ(calls.calls(), (std::vector<std::string>{"600:action:AXRaise:61"}));
  EXPECT_TRUE(world.openedURLs().empty());
}

TEST_F(ApplicationControllerTest, HidingMinimizesFinderWindowsOnlyWithThePreference) {
  update(finder);
  update(mail);
  minimizeFinderWindows(false);
  finder->hide();
  drain();
  EXPECT_TRUE(world.application(kFinder)->hidden);
  EXPECT_FALSE(world.window(11)->minimized);

  world.setApplicationHidden(kFinder, false);
  minimizeFinderWindows(true);
  mail->hide();
  drain();
  EXPECT_TRUE(world.application(kMail)->hidden);
  EXPECT_FALSE(world.window(21)->minimized);
  EXPECT_TRUE(mail->minimizedElements.empty());

  finder->hide();
  EXPECT_FALSE(world.window(11)->minimized);  // the minimizing runs in a task
  drain();
  EXPECT_TRUE(world.application(kFinder)->hidden);
  EXPECT_TRUE(world.window(11)->minimized);
  EXPECT_EQ(ids(finder->minimizedElements), (std::vector<std::uint64_t>{11}));
}

TEST_F(ApplicationControllerTest, WindowsTheUserMinimizedAreNeitherMinimizedNorRestored) {
  learnEverySpace(finder);
  world.setWindowMinimized(12, true);
  auto minimized = result<std::vector<AXUIElementWrapper>>([c = finder] { return c->minimizeAllWindows(); });
  EXPECT_EQ(ids(*minimized), (std::vector<std::uint64_t>{11}));
  EXPECT_TRUE(finder->minimizedElements.empty());  // minimizing alone remembers nothing
  finder->minimizedElements = *minimized;
  ASSERT_TRUE(runTask([c = finder] { return c->unminimizeIfNeeded(); }, 1));
  EXPECT_FALSE(world.window(11)->minimized);
  EXPECT_TRUE(world.window(12)->minimized);
}

TEST_F(ApplicationControllerTest, RestoringUnminimizesInReverseWithTheFocusedWindowLastThenRaisesIt) {
  const pid_t pid = world.launchApplication(sim::ApplicationSpec{
      .pid = 600, .bundleIdentifier = "com.example.three",
      .windows = {sim::WindowSpec{.id = 61, .frame = CGRect(100, 300, 300, 200)},
                  sim::WindowSpec{.id = 62, .frame = CGRect(150, 350, 300, 200)},
                  sim::WindowSpec{.id = 63, .frame = CGRect(200, 400, 300, 200)}}});
  auto three = ApplicationController::make(application(pid));
  update(three);
  three->allWindowElements = {window(pid, 61), window(pid, 62), window(pid, 63)};
  world.focusWindow(62);
  ASSERT_TRUE(runTask([three] { return three->minimizeAndRememberWindows(); }));
  ASSERT_EQ(ids(three->minimizedElements), (std::vector<std::uint64_t>{61, 62, 63}));

  std::vector<std::pair<std::string, double>> writes;
  world.setAccessibilityCallHook([&](const sim::AccessibilityCall& call) {
    if (call.kind == sim::AccessibilityCall::Kind::SetAttribute || call.kind == sim::AccessibilityCall::Kind::PerformAction)
      writes.emplace_back(call.name + ":" + std::to_string(call.element.id), now());
  });
  bool done = false;
  conc::spawnOnMain([&, three]() -> conc::Task<void> {
    auto restore = three->unminimizeIfNeeded();
    co_await std::move(restore);
    done = true;
  });
  drain();
  EXPECT_FALSE(done);  // the queue settles for 0.2 s before the raise is reported
  advance(0.2);
  ASSERT_TRUE(done);
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[0].first, "AXMinimized:63");
  EXPECT_EQ(writes[1].first, "AXMinimized:61");
  EXPECT_EQ(writes[2].first, "AXMinimized:62");
  EXPECT_EQ(writes[3].first, "AXRaise:62");
  EXPECT_TRUE(three->minimizedElements.empty());
  EXPECT_FALSE(three->focusedWindowBeforeMinimize);
  EXPECT_FALSE(world.window(61)->minimized || world.window(62)->minimized || world.window(63)->minimized);
}

TEST_F(ApplicationControllerTest, WithNothingRememberedRestoringReadsNothing) {
  CallLog calls(world);
  ASSERT_TRUE(runTask([c = finder] { return c->unminimizeIfNeeded(); }));
  EXPECT_TRUE(calls.calls().empty());
}

TEST_F(ApplicationControllerTest, ARestoreForgetsOnlyTheWindowsItRestored) {
  learnEverySpace(finder);
  world.setWindowSpaces(12, {1});
  // Documents was minimized by this program earlier; Downloads is not minimized yet.
  world.setWindowMinimized(11, true);
  finder->minimizedElements = {window(kFinder, 11)};
  // A second hide starts just before the restore and finishes during it.
  conc::spawnOnMain([c = finder]() -> conc::Task<void> {
    auto minimize = c->minimizeAndRememberWindows();
    co_await std::move(minimize);
  });
  conc::spawnOnMain([c = finder]() -> conc::Task<void> {
    auto restore = c->unminimizeIfNeeded();
    co_await std::move(restore);
  });
  advance(1);
  EXPECT_FALSE(world.window(11)->minimized);
  EXPECT_TRUE(world.window(12)->minimized);
  EXPECT_EQ(ids(finder->minimizedElements), (std::vector<std::uint64_t>{12}));  // still remembered
}

TEST_F(ApplicationControllerTest, ActionsOnAnApplicationThatDoesNotAnswerEndAndKeepTheRecordConsistent) {
  learnEverySpace(finder);
  unresponsive(world, kFinder, 1);
  CallLog calls(world);
  auto minimized = modeltest::start<std::vector<AXUIElementWrapper>>([c = finder] { return c->minimizeAllWindows(); });
  advance(10);
  ASSERT_TRUE(minimized->has_value());
  EXPECT_TRUE((*minimized)->empty());
  EXPECT_EQ(calls.count("501:"), 1u);  // it stops at the first window that gets no answer

  bool done = false;
  conc::spawnOnMain([&, c = finder]() -> conc::Task<void> {
    auto m = c->minimizeAndRememberWindows();
    co_await std::move(m);
    done = true;
  });
  advance(10);
  EXPECT_TRUE(done);
  EXPECT_TRUE(finder->minimizedElements.empty());
  EXPECT_FALSE(finder->focusedWindowBeforeMinimize);
}

}  // namespace

namespace {

// The same reads with the Accessibility queue on its own thread.
TEST(ApplicationControllerRealClock, ASummaryWithTheQueueOnItsOwnThread) {
  ns::test::ScopedStandardDefaults defaults;
  sim::ScopedScenario scenario(apptest::kDesk);
  dispatch::Scheduler::shared().adoptMainThread();
  auto mail = ApplicationController::make(apptest::application(apptest::kMail));
  auto summary = modeltest::start<std::optional<ApplicationSummary>>([mail] { return mail->getApplicationSummary(); });
  ASSERT_TRUE(dispatch::Scheduler::shared().runMainUntil([&] { return summary->has_value(); }, 30));
  ASSERT_TRUE(**summary);
  EXPECT_EQ((**summary)->allWindows().size(), 2u);
  EXPECT_EQ(apptest::ids(mail->allWindowElements), (std::vector<std::uint64_t>{21, 22}));
  auto done = std::make_shared<bool>(false);
  conc::spawnOnMain([mail, done]() -> conc::Task<void> {
    auto minimize = mail->minimizeAndRememberWindows();
    co_await std::move(minimize);
    auto restore = mail->unminimizeIfNeeded();
    co_await std::move(restore);
    *done = true;
  });
  ASSERT_TRUE(dispatch::Scheduler::shared().runMainUntil([&] { return *done; }, 30));
  EXPECT_FALSE(sim::World::shared().window(21)->minimized);
}

}  // namespace
