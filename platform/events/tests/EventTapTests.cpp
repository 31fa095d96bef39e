#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/accessibility/CFRunLoop.h"
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/events/CGEventTap.h"
#include "platform/sim/InputDriver.h"
#include "platform/sim/Scenario.h"

namespace {

using namespace cgevent;

// One display 1440 x 900; Mail (502) has "Inbox" at the front, Notes (503)
// "Memo" behind it on the right; the Dock (90) sits at the bottom.
const char* const kDesk = R"({
  "displays": [{"id": 1, "frame": [0, 0, 1440, 900]}],
  "dock": {"pid": 90, "frame": [300, 840, 840, 60], "items": [
    {"title": "Mail", "url": "file:///System/Applications/Mail.app/", "frame": [310, 844, 52, 52]}]},
  "applications": [
    {"pid": 502, "bundleIdentifier": "com.apple.mail", "name": "Mail",
     "windows": [{"id": 21, "title": "Inbox", "frame": [100, 100, 600, 400]}]},
    {"pid": 503, "bundleIdentifier": "com.apple.Notes", "name": "Notes",
     "windows": [{"id": 31, "title": "Memo", "frame": [800, 100, 500, 400]}]}
  ],
  "frontmost": 502,
  "mouse": [50, 600]
})";

struct Received {
  CGEventType type;
  CGPoint location;
  CGPoint unflipped;
};

struct Recorder {
  std::vector<Received> events;
  CFMachPortRef port;  // set to invalidate from inside the callback
  bool invalidateInCallback = false;
};

CGEventRef record(CGEventTapProxy, CGEventType type, CGEventRef event, void* userInfo) {
  auto* r = static_cast<Recorder*>(userInfo);
  r->events.push_back(Received{type, CGEventGetLocation(event), CGEventGetUnflippedLocation(event)});
  if (r->invalidateInCallback) CFMachPortInvalidate(r->port);
  return event;
}

constexpr CGEventMask kMouseMask = CGEventMaskBit(kCGEventLeftMouseDown) | CGEventMaskBit(kCGEventRightMouseDown) |
                                   CGEventMaskBit(kCGEventMouseMoved) | CGEventMaskBit(kCGEventOtherMouseDown);

class EventTapTest : public ::testing::Test {
 protected:
  dispatch::VirtualClockScope clock;
  sim::ScopedScenario scenario{kDesk};
  sim::InputDriver& driver = sim::InputDriver::shared();

  EventTapTest() {
    driver.setPump([](double seconds) { dispatch::Scheduler::shared().advance(seconds); });
    appkit::connectInputToSimulatedDesktop();
  }
  ~EventTapTest() override {
    driver.setPump(nullptr);
    driver.setNaturalScrolling(true);
    appkit::WindowList::resetForTesting();
    cgevent::testing::setTapCreationFails(false);
  }

  // A tap with its source on the main run loop in the common modes, as the
  // Dock tracker makes it.
  static CFMachPortRef scheduledTap(std::optional<pid_t> pid, Recorder& recorder, CGEventMask mask = kMouseMask) {
    CFMachPortRef port = pid ? CGEventTapCreateForPid(*pid, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, mask,
                                                      record, &recorder)
                             : CGEventTapCreate(kCGSessionEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly,
                                                mask, record, &recorder);
    if (!port) return nullptr;
    ax::CFRunLoopAddSource(ax::CFRunLoopGetMain(), CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0),
                           ax::kCFRunLoopCommonModes);
    recorder.port = port;
    return port;
  }

  static void drain() { dispatch::Scheduler::shared().runUntilIdle(); }
};

TEST_F(EventTapTest, APidTapSeesOnlyTheEventsOverThatProcesssWindows) {
  Recorder mail, notes, dock, session;
  auto mailTap = scheduledTap(502, mail);
  auto notesTap = scheduledTap(503, notes);
  auto dockTap = scheduledTap(90, dock);
  auto sessionTap = scheduledTap(std::nullopt, session);
  ASSERT_TRUE(mailTap && notesTap && dockTap && sessionTap);

  driver.moveTo({200, 200});  // over Inbox
  driver.moveTo({900, 300});  // over Memo
  driver.moveTo({330, 860});  // over the Dock's Mail item
  driver.moveTo({1100, 870});  // over the Dock's strip, beside the items
  driver.moveTo({50, 600});   // the bare desktop
  driver.click({850, 200});   // a press on Memo
  drain();

  ASSERT_EQ(mail.events.size(), 1u);
  EXPECT_EQ(mail.events[0].type, kCGEventMouseMoved);
  EXPECT_EQ(mail.events[0].location, (CGPoint{200, 200}));
  ASSERT_EQ(notes.events.size(), 3u);  // two moves over Memo, then the press
  EXPECT_EQ(notes.events[2].type, kCGEventLeftMouseDown);  // the release is not in the mask
  ASSERT_EQ(dock.events.size(), 2u);
  EXPECT_EQ(dock.events[0].location, (CGPoint{330, 860}));
  EXPECT_EQ(dock.events[1].location, (CGPoint{1100, 870}));
  EXPECT_EQ(session.events.size(), 7u);
}

TEST_F(EventTapTest, DragsAndReleasesGoToTheProcessThatGotThePress) {
  Recorder mail, notes;
  const CGEventMask mask = CGEventMaskBit(kCGEventLeftMouseDown) | CGEventMaskBit(kCGEventLeftMouseUp) |
                           CGEventMaskBit(kCGEventLeftMouseDragged);
  auto mailTap = scheduledTap(502, mail, mask);
  auto notesTap = scheduledTap(503, notes, mask);
  driver.moveTo({300, 300});
  driver.press();
  driver.moveTo({900, 300}, 3);  // ends over Memo
  driver.release();
  drain();
  ASSERT_EQ(mail.events.size(), 5u);
  EXPECT_EQ(mail.events.front().type, kCGEventLeftMouseDown);
  EXPECT_EQ(mail.events[1].type, kCGEventLeftMouseDragged);
  EXPECT_EQ(mail.events.back().type, kCGEventLeftMouseUp);
  EXPECT_TRUE(notes.events.empty());
}

TEST_F(EventTapTest, LocationsAreTopLeftAndUnflippedLocationsBottomLeft) {
  // A taller display on the right: H is its height for every screen.
  scenario.world().addDisplay(sim::DisplaySpec{.id = 2, .frame = CGRect(1440, 0, 1920, 1080)});
  Recorder session;
  auto tap = scheduledTap(std::nullopt, session);
  driver.moveTo({200, 300});
  drain();
  ASSERT_EQ(session.events.size(), 1u);
  EXPECT_EQ(session.events[0].location, (CGPoint{200, 300}));
  EXPECT_EQ(session.events[0].unflipped, (CGPoint{200, 780}));
}

TEST_F(EventTapTest, NothingArrivesBeforeTheSourceIsOnTheMainRunLoop) {
  Recorder recorder;
  auto port = CGEventTapCreateForPid(502, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, kMouseMask, record,
                                     &recorder);
  ASSERT_TRUE(port);
  driver.moveTo({200, 200});
  drain();
  EXPECT_TRUE(recorder.events.empty());

  // A source on another thread's run loop never runs.
  auto source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
  EXPECT_EQ(source, CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0));
  ax::CFRunLoopAddSource(ax::CFRunLoopGetMain(), source, ax::kCFRunLoopDefaultMode);
  driver.moveTo({210, 200});
  drain();
  EXPECT_EQ(recorder.events.size(), 1u);
}

TEST_F(EventTapTest, InvalidationDropsEventsAlreadyPostedAndStopsTheTap) {
  Recorder recorder;
  auto port = scheduledTap(502, recorder);
  auto source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
  driver.setPump(nullptr);  // the move is posted but not yet delivered
  driver.moveTo({200, 200});
  CFMachPortInvalidate(port);
  drain();
  EXPECT_TRUE(recorder.events.empty());
  EXPECT_FALSE(CFMachPortIsValid(port));
  EXPECT_FALSE(ax::CFRunLoopSourceIsValid(source));
  CFMachPortInvalidate(port);  // again: nothing
  driver.moveTo({220, 200});
  drain();
  EXPECT_TRUE(recorder.events.empty());
}

TEST_F(EventTapTest, ACallbackMayInvalidateItsOwnTap) {
  Recorder recorder;
  recorder.invalidateInCallback = true;
  auto port = scheduledTap(502, recorder);
  driver.moveTo({200, 200});
  driver.moveTo({220, 200});
  drain();
  EXPECT_EQ(recorder.events.size(), 1u);
  EXPECT_FALSE(CFMachPortIsValid(port));
}

TEST_F(EventTapTest, CreationFailsWithoutPermissionOrCallbackOrProcess) {
  Recorder recorder;
  EXPECT_FALSE(CGEventTapCreateForPid(0, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, kMouseMask, record,
                                      &recorder));
  EXPECT_FALSE(CGEventTapCreate(kCGSessionEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, kMouseMask,
                                nullptr, &recorder));
  scenario.world().setAccessibilityTrusted(false);
  EXPECT_FALSE(CGEventTapCreate(kCGSessionEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, kMouseMask,
                                record, &recorder));
  scenario.world().setAccessibilityTrusted(true);
  cgevent::testing::setTapCreationFails(true);
  EXPECT_FALSE(CGEventTapCreateForPid(502, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, kMouseMask, record,
                                      &recorder));
  cgevent::testing::setTapCreationFails(false);
  EXPECT_TRUE(CGEventTapCreateForPid(502, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, kMouseMask, record,
                                     &recorder));
}

TEST_F(EventTapTest, ADisabledTapHearsOnlyTheDisabledNoticeUntilEnabled) {
  Recorder recorder;
  auto port = scheduledTap(std::nullopt, recorder);
  cgevent::testing::disableTapByTimeout(port);
  EXPECT_FALSE(CGEventTapIsEnabled(port));
  driver.moveTo({200, 200});
  drain();
  ASSERT_EQ(recorder.events.size(), 1u);
  EXPECT_EQ(recorder.events[0].type, kCGEventTapDisabledByTimeout);
  CGEventTapEnable(port, true);
  driver.moveTo({210, 200});
  drain();
  ASSERT_EQ(recorder.events.size(), 2u);
  EXPECT_EQ(recorder.events[1].type, kCGEventMouseMoved);
}

TEST_F(EventTapTest, TapsOutsideTheirMaskHearNothing) {
  Recorder recorder;
  auto port = scheduledTap(std::nullopt, recorder, CGEventMaskBit(kCGEventScrollWheel));
  driver.moveTo({200, 200});
  driver.click({200, 200});
  driver.scrollWheel({200, 200}, 0, 1);
  drain();
  ASSERT_EQ(recorder.events.size(), 1u);
  EXPECT_EQ(recorder.events[0].type, kCGEventScrollWheel);
}

// ---------------------------------------------------------------- global monitors

class GlobalMonitorTest : public EventTapTest {
 protected:
  std::vector<std::shared_ptr<appkit::NSEvent>> seen;
  appkit::NSEventMonitorToken monitor = appkit::NSEvent::addGlobalMonitorForEventsMatchingMask(
      appkit::NSEventMaskLeftMouseUp | appkit::NSEventMaskLeftMouseDragged | appkit::NSEventMaskScrollWheel |
          appkit::NSEventMaskLeftMouseDown,
      [this](const std::shared_ptr<appkit::NSEvent>& event) { seen.push_back(event); });
  ~GlobalMonitorTest() override { appkit::NSEvent::removeMonitor(monitor); }
};

TEST_F(GlobalMonitorTest, DoesNotSeeEventsOverTheProgramsOwnWindows) {
  auto panel = appkit::NSPanel::make(appkit::NSMakeRect(100, 600, 300, 200), appkit::NSWindowStyleMaskBorderless);
  panel->orderFront();  // top-left (100, 100, 300, 200): over Inbox
  driver.click({150, 150});
  driver.click({600, 400});  // Inbox, outside the panel
  driver.scrollWheel({150, 150}, 0, 1);
  driver.scrollWheel({900, 300}, 0, 1);
  drain();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0]->type(), appkit::NSEventType::leftMouseDown);
  EXPECT_EQ(cgevent::CGEventGetLocation(seen[0]->cgEvent()), (CGPoint{600, 400}));
  EXPECT_EQ(seen[0]->locationInWindow(), (CGPoint{600, 500}));  // screen coordinates
  EXPECT_EQ(seen[1]->type(), appkit::NSEventType::leftMouseUp);
  EXPECT_EQ(seen[2]->type(), appkit::NSEventType::scrollWheel);

  // Once the panel is gone the same point belongs to Mail.
  panel->orderOut();
  driver.click({150, 150});
  drain();
  EXPECT_EQ(seen.size(), 5u);
}

TEST_F(GlobalMonitorTest, APanelThatLetsThePointerThroughDoesNotHideEvents) {
  auto overlay = appkit::NSWindow::make(appkit::NSMakeRect(100, 600, 300, 200), appkit::NSWindowStyleMaskBorderless);
  overlay->setIgnoresMouseEvents(true);
  overlay->orderFront();
  driver.click({150, 150});
  drain();
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(GlobalMonitorTest, ScrollEventsCarryDeltasPhasesAndTheDevicesDirection) {
  driver.trackpadScroll({200, 200}, {{6, 0}}, {{3, 0}});
  driver.setNaturalScrolling(false);
  driver.scrollWheel({200, 200}, 0, 0.5);
  drain();
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_TRUE(seen[0]->hasPreciseScrollingDeltas());
  EXPECT_EQ(seen[0]->scrollingDeltaX(), 6);
  EXPECT_EQ(seen[0]->phase(), appkit::NSEventPhase::began);
  EXPECT_TRUE(seen[0]->isDirectionInvertedFromDevice());
  EXPECT_EQ(seen[1]->phase(), appkit::NSEventPhase::ended);
  EXPECT_EQ(seen[2]->momentumPhase(), appkit::NSEventPhase::began);
  EXPECT_EQ(seen[2]->scrollingDeltaX(), 3);
  EXPECT_EQ(seen[3]->momentumPhase(), appkit::NSEventPhase::ended);
  // A wheel notch without natural scrolling: line deltas, reversed.
  EXPECT_FALSE(seen[4]->hasPreciseScrollingDeltas());
  EXPECT_FALSE(seen[4]->isDirectionInvertedFromDevice());
  EXPECT_EQ(seen[4]->scrollingDeltaY(), -0.5);
}

TEST_F(GlobalMonitorTest, RemovedMonitorsGetNothingMoreNotEvenPostedEvents) {
  driver.setPump(nullptr);
  driver.click({200, 200});
  appkit::NSEvent::removeMonitor(monitor);
  appkit::NSEvent::removeMonitor(monitor);  // again: nothing
  drain();
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(appkit::NSEvent::globalMonitorCount(), 0u);
  EXPECT_FALSE(appkit::NSEvent::addGlobalMonitorForEventsMatchingMask(0, [](const auto&) {}));
  EXPECT_FALSE(appkit::NSEvent::addGlobalMonitorForEventsMatchingMask(appkit::NSEventMaskAny, nullptr));
}

TEST_F(GlobalMonitorTest, MovesAreOutsideTheMask) {
  driver.moveTo({200, 200}, 4);
  drain();
  EXPECT_TRUE(seen.empty());
}

// ---------------------------------------------------------------- the input driver

class InputDriverTest : public EventTapTest {};

TEST_F(InputDriverTest, DraggingATitleBarMovesTheWindowAndKeepsItBelowTheMenuBar) {
  ASSERT_TRUE(driver.dragWindowByTitleBar(21, {500, 300}));
  auto inbox = scenario.world().window(21);
  // Grabbed at its middle (400, 114): moved by (100, 186).
  EXPECT_EQ(inbox->frame, CGRect(200, 286, 600, 400));

  ASSERT_TRUE(driver.dragWindowByTitleBar(21, {500, 2}));
  EXPECT_EQ(scenario.world().window(21)->frame.origin.y, 25);  // the menu bar is 25 points high
}

TEST_F(InputDriverTest, APressBringsTheWindowAndItsApplicationForward) {
  EXPECT_EQ(scenario.world().frontmostApplication(), 502);
  driver.click({900, 300});
  EXPECT_EQ(scenario.world().frontmostApplication(), 503);
  EXPECT_EQ(scenario.world().zOrder().front(), 31u);
}

TEST_F(InputDriverTest, ACoveredTitleBarCannotBeGrabbed) {
  auto panel = appkit::NSPanel::make(appkit::NSMakeRect(350, 770, 100, 50), appkit::NSWindowStyleMaskBorderless);
  panel->orderFront();  // over the middle of Inbox's title bar
  EXPECT_FALSE(driver.dragWindowByTitleBar(21, {500, 300}));
  EXPECT_TRUE(driver.dragWindowByTitleBar(21, {500, 300}, {.steps = 2, .release = true, .grabX = 50}));
  EXPECT_FALSE(driver.dragWindowByTitleBar(99, {500, 300}));
}

TEST_F(InputDriverTest, ClicksOnOwnWindowsReachTheirViews) {
  int clicks = 0;
  auto panel = appkit::NSPanel::make(appkit::NSMakeRect(100, 600, 300, 200), appkit::NSWindowStyleMaskBorderless);
  panel->setContentView(appkit::NSHostingView::make(
      ui::Button([&clicks] { ++clicks; }, ui::View(ui::Color::red())).frame(300, 200)));
  panel->orderFront();
  driver.click({200, 200});
  drain();
  EXPECT_EQ(clicks, 1);
}

TEST_F(InputDriverTest, TheWorldsResetForgetsPressedButtons) {
  driver.moveTo({300, 300});
  driver.press();
  EXPECT_TRUE(driver.isPressed());
  scenario.world().reset();
  EXPECT_FALSE(driver.isPressed());
}

}  // namespace
