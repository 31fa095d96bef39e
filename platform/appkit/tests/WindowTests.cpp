#include <gtest/gtest.h>

#include <cmath>

#include "platform/appkit/NSAnimationContext.h"
#include "platform/appkit/NSViewController.h"
#include "platform/appkit/NSWindow.h"
#include "platform/appkit/NSWindowController.h"
#include "platform/dispatch/Dispatch.h"

using namespace appkit;

namespace {

class Windows : public ::testing::Test {
 protected:
  void SetUp() override { WindowList::resetForTesting(); }
  void TearDown() override { WindowList::resetForTesting(); }
};

std::vector<long> order() {
  std::vector<long> out;
  for (const auto& w : WindowList::visibleWindows()) out.push_back(w.windowNumber);
  return out;
}

struct RecordingDelegate : NSWindowDelegate {
  std::vector<std::string> calls;
  bool allowClose = true;
  bool windowShouldClose(NSWindow&) override {
    calls.push_back("shouldClose");
    return allowClose;
  }
  void windowWillClose(NSWindow& w) override { calls.push_back("willClose:" + w.title()); }
  void windowDidBecomeKey(NSWindow&) override { calls.push_back("becameKey"); }
  void windowDidResignKey(NSWindow&) override { calls.push_back("resignedKey"); }
};

}  // namespace

TEST_F(Windows, TitledWindowsAddATitleBarAboveTheContent) {
  auto w = NSWindow::make(NSMakeRect(100, 200, 300, 150), NSWindowStyleMaskTitled | NSWindowStyleMaskClosable);
  EXPECT_EQ(w->frame(), NSMakeRect(100, 200, 300, 150 + kTitleBarHeight));
  EXPECT_EQ(w->contentRect(), NSMakeRect(100, 200, 300, 150));
  auto panel = NSPanel::make(NSMakeRect(0, 0, 0, 0), NSWindowStyleMaskNonactivatingPanel);
  EXPECT_EQ(panel->frame(), NSMakeRect(0, 0, 0, 0));
}

TEST_F(Windows, ContentPointsAreTopLeftOfTheContent) {
  auto w = NSWindow::make(NSMakeRect(100, 200, 300, 150), NSWindowStyleMaskBorderless);
  auto p = w->contentPointFromScreen(NSMakePoint(110, 340));
  EXPECT_EQ(p.x, 10);
  EXPECT_EQ(p.y, 10);
}

TEST_F(Windows, OrderingByLevelThenRecency) {
  auto a = NSWindow::make(NSMakeRect(0, 0, 10, 10), 0);
  auto b = NSWindow::make(NSMakeRect(0, 0, 10, 10), 0);
  auto panel = NSPanel::make(NSMakeRect(0, 0, 10, 10), NSWindowStyleMaskNonactivatingPanel);
  panel->setLevel(1000);
  a->orderFront();
  b->orderFront();
  panel->orderFront();
  EXPECT_EQ(order(), (std::vector<long>{panel->windowNumber(), b->windowNumber(), a->windowNumber()}));
  a->orderFront();
  EXPECT_EQ(order(), (std::vector<long>{panel->windowNumber(), a->windowNumber(), b->windowNumber()}));
  a->orderBack();
  EXPECT_EQ(order(), (std::vector<long>{panel->windowNumber(), b->windowNumber(), a->windowNumber()}));
  panel->orderOut();
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(order(), (std::vector<long>{b->windowNumber(), a->windowNumber()}));
}

TEST_F(Windows, VisibleWindowsAreReportedWithTheirProperties) {
  auto w = NSWindow::make(NSMakeRect(10, 20, 100, 50), NSWindowStyleMaskTitled);
  w->setTitle("Morvalent Settings");
  w->setLevel(NSPopUpMenuWindowLevel);
  w->setAlphaValue(0.5);
  w->setContentView(NSHostingView::make(ui::Text("hello")));
  EXPECT_TRUE(WindowList::visibleWindows().empty());
  w->makeKeyAndOrderFront();
  auto list = WindowList::visibleWindows();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].title, "Morvalent Settings");
  EXPECT_EQ(list[0].level, 101);
  EXPECT_EQ(list[0].alpha, 0.5);
  // Out-of-range opacity is clamped; no number at all changes nothing.
  w->setAlphaValue(std::nan(""));
  EXPECT_EQ(w->alphaValue(), 0.5);
  w->setAlphaValue(7);
  EXPECT_EQ(w->alphaValue(), 1.0);
  w->setAlphaValue(0.5);
  EXPECT_TRUE(list[0].isKey);
  ASSERT_NE(list[0].host, nullptr);
  EXPECT_NE(list[0].host->find("hello"), nullptr);
  int changes = 0;
  auto sub = WindowList::observe([&changes] { ++changes; });
  w->setFrameOrigin(NSMakePoint(50, 50));
  EXPECT_EQ(changes, 1);
}

TEST_F(Windows, VisibleWindowsStayAliveWhileShown) {
  std::weak_ptr<NSWindow> weak;
  {
    auto w = NSWindow::make(NSMakeRect(0, 0, 10, 10), 0);
    weak = w;
    w->orderFront();
  }
  ASSERT_FALSE(weak.expired());
  weak.lock()->orderOut();
  EXPECT_TRUE(weak.expired());
}

TEST_F(Windows, KeyWindowFollowsMakeKeyAndOrderOut) {
  auto delegate = std::make_shared<RecordingDelegate>();
  auto a = NSWindow::make(NSMakeRect(0, 0, 10, 10), NSWindowStyleMaskTitled);
  auto b = NSWindow::make(NSMakeRect(0, 0, 10, 10), NSWindowStyleMaskTitled);
  a->setDelegate(delegate);
  a->makeKeyAndOrderFront();
  EXPECT_TRUE(a->isKeyWindow());
  b->makeKeyAndOrderFront();
  EXPECT_FALSE(a->isKeyWindow());
  EXPECT_EQ(WindowList::keyWindow(), b);
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"becameKey", "resignedKey"}));
}

TEST_F(Windows, NonActivatingBorderlessPanelsNeverBecomeKeyByOrderingFront) {
  auto panel = NSPanel::make(NSMakeRect(0, 0, 10, 10), NSWindowStyleMaskNonactivatingPanel);
  panel->orderFront();
  EXPECT_TRUE(panel->isVisible());
  EXPECT_FALSE(panel->isKeyWindow());
  panel->makeKeyAndOrderFront();
  EXPECT_FALSE(panel->isKeyWindow());
}

TEST_F(Windows, CloseTellsTheDelegateAndKeepsTheWindowUsable) {
  auto delegate = std::make_shared<RecordingDelegate>();
  auto w = NSWindow::make(NSMakeRect(0, 0, 100, 100), NSWindowStyleMaskTitled | NSWindowStyleMaskClosable);
  w->setTitle("Morvalent Permissions");
  w->setDelegate(delegate);
  auto controller = std::make_shared<NSWindowController>(w);
  w->makeKeyAndOrderFront();
  delegate->allowClose = false;
  w->performClose();
  EXPECT_TRUE(w->isVisible());
  delegate->allowClose = true;
  w->performClose();
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"becameKey", "shouldClose", "shouldClose",
                                                        "willClose:Morvalent Permissions", "resignedKey"}));
  controller->showWindow();
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(w->isKeyWindow());
}

TEST_F(Windows, CentreIsHorizontallyCentredOnTheMainScreen) {
  auto w = NSWindow::make(NSMakeRect(0, 0, 700, 600), NSWindowStyleMaskTitled);
  w->center();
  NSRect screen = mainScreenVisibleFrame();
  EXPECT_NEAR(w->frame().midX(), screen.midX(), 1);
  double above = screen.maxY() - w->frame().maxY();
  double below = w->frame().minY() - screen.minY();
  EXPECT_LE(above, below + 1);
}

TEST_F(Windows, HostedContentSizesTheWindowWithinItsLimits) {
  auto w = NSWindow::make(NSMakeRect(0, 0, 1000, 1000), NSWindowStyleMaskTitled | NSWindowStyleMaskClosable);
  w->setContentView(NSHostingView::make(ui::View(ui::Color::white()).frame(700, 600)));
  EXPECT_EQ(w->contentRect().size, (NSSize{700, 600}));
  // The top edge stays where it was.
  EXPECT_EQ(w->frame().maxY(), 1000 + kTitleBarHeight);
  // Flexible content keeps the window's size.
  auto flexible = NSWindow::make(NSMakeRect(0, 0, 300, 200), 0);
  flexible->setContentView(NSHostingView::make(ui::View(ui::Color::white())));
  EXPECT_EQ(flexible->contentRect().size, (NSSize{300, 200}));
  EXPECT_EQ(flexible->contentHost()->size(), (ui::Size{300, 200}));
}

TEST_F(Windows, HostingViewsReportTheirContentSize) {
  auto view = NSHostingView::make(ui::View(ui::Color::white()).frame(120, 40).padding(5));
  EXPECT_EQ(view->intrinsicContentSize(), (NSSize{130, 50}));
  auto controller = NSHostingController::make(ui::View(ui::Color::white()).frame(10, 20));
  EXPECT_EQ(controller->hostingView()->fittingSize(), (NSSize{10, 20}));
  controller->setRootView(ui::View(ui::Color::white()).frame(30, 20));
  EXPECT_EQ(controller->hostingView()->fittingSize(), (NSSize{30, 20}));
}

TEST_F(Windows, PointerMovesReachEveryWindowWhateverTheOrder) {
  std::vector<std::string> events;
  auto make = [&events](std::string name, NSWindowLevel level) {
    auto w = NSWindow::make(NSMakeRect(0, 0, 100, 100), 0);
    w->setLevel(level);
    w->setContentView(NSHostingView::make(ui::View(ui::Color::white()).trackingArea([&events, name](bool in) {
      events.push_back(name + (in ? "+" : "-"));
    })));
    w->orderFront();
    return w;
  };
  auto below = make("below", 0);
  auto above = make("above", 1000);
  WindowList::dispatchMouseMoved(NSMakePoint(50, 50));
  WindowList::dispatchMouseMoved(NSMakePoint(500, 500));
  EXPECT_EQ(events, (std::vector<std::string>{"above+", "below+", "above-", "below-"}));
}

TEST_F(Windows, ClicksGoToTheFrontmostWindowUnderThePointer) {
  std::vector<std::string> clicks;
  auto make = [&clicks](std::string name, NSRect frame) {
    auto w = NSWindow::make(frame, 0);
    w->setContentView(NSHostingView::make(
        ui::Button([&clicks, name] { clicks.push_back(name); }, ui::View(ui::Color::white())).buttonStyle(ui::ButtonStyle::plain)));
    w->orderFront();
    return w;
  };
  auto back = make("back", NSMakeRect(0, 0, 100, 100));
  auto front = make("front", NSMakeRect(50, 50, 100, 100));
  WindowList::dispatchMouseDown(NSMakePoint(75, 75));
  WindowList::dispatchMouseUp(NSMakePoint(75, 75));
  WindowList::dispatchMouseDown(NSMakePoint(25, 25));
  WindowList::dispatchMouseUp(NSMakePoint(25, 25));
  front->setIgnoresMouseEvents(true);
  WindowList::dispatchMouseDown(NSMakePoint(75, 75));
  WindowList::dispatchMouseUp(NSMakePoint(75, 75));
  EXPECT_EQ(clicks, (std::vector<std::string>{"front", "back", "back"}));
  EXPECT_EQ(WindowList::windowAtPoint(NSMakePoint(500, 500)), nullptr);
}

TEST_F(Windows, ReturnGoesToTheKeyWindowsDefaultButton) {
  int pressed = 0;
  auto w = NSWindow::make(NSMakeRect(0, 0, 200, 100), NSWindowStyleMaskTitled);
  w->setContentView(NSHostingView::make(
      ui::Button("Continue", [&pressed] { ++pressed; }).keyboardShortcut(ui::KeyboardShortcut::defaultAction)));
  EXPECT_FALSE(WindowList::dispatchKeyDown(ui::Key::returnKey));
  w->makeKeyAndOrderFront();
  EXPECT_TRUE(WindowList::dispatchKeyDown(ui::Key::returnKey));
  EXPECT_EQ(pressed, 1);
}

TEST_F(Windows, SheetsAttachAndEndWithTheirResponse) {
  auto parent = NSWindow::make(NSMakeRect(0, 0, 400, 300), NSWindowStyleMaskTitled);
  auto sheet = NSWindow::make(NSMakeRect(0, 0, 200, 100), 0);
  parent->makeKeyAndOrderFront();
  NSModalResponse got = -1;
  parent->beginSheet(sheet, [&got](NSModalResponse r) { got = r; });
  EXPECT_EQ(parent->attachedSheet(), sheet);
  EXPECT_EQ(sheet->sheetParent(), parent);
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_EQ(sheet->frame().maxY(), parent->contentRect().maxY());
  EXPECT_EQ(order().front(), sheet->windowNumber());
  parent->endSheet(sheet, NSModalResponseCancel);
  EXPECT_EQ(got, NSModalResponseCancel);
  EXPECT_FALSE(sheet->isVisible());
  EXPECT_EQ(parent->attachedSheet(), nullptr);
}

TEST_F(Windows, SheetsPresentedByTheViewTreeBecomeSheetWindows) {
  struct Form {
    ui::State<bool> showing{false};
    ui::View body() const {
      auto self = *this;
      return ui::Button("Change...", [self] { self.showing.set(true); })
          .sheet(showing.binding(), [self] {
            return ui::Button("Close", [self] { self.showing.set(false); })
                .keyboardShortcut(ui::KeyboardShortcut::defaultAction)
                .padding(20);
          });
    }
  };
  auto w = NSWindow::make(NSMakeRect(0, 0, 400, 300), NSWindowStyleMaskTitled);
  w->setContentView(NSHostingView::make(ui::View(Form{})));
  w->makeKeyAndOrderFront();
  ASSERT_TRUE(w->contentHost()->click("Change..."));
  w->contentHost()->layoutIfNeeded();
  auto sheet = w->attachedSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_NE(sheet->contentHost()->find("Close"), nullptr);
  // Return reaches the sheet, whose button ends it.
  EXPECT_TRUE(WindowList::dispatchKeyDown(ui::Key::returnKey));
  w->contentHost()->layoutIfNeeded();
  EXPECT_EQ(w->attachedSheet(), nullptr);
  EXPECT_FALSE(sheet->isVisible());
}

namespace {
struct Page : NSViewController {
  std::vector<std::string>* log;
  explicit Page(std::vector<std::string>* l) : log(l) {}
  void viewWillAppear() override { log->push_back("willAppear"); }
  void viewDidAppear() override { log->push_back("didAppear"); }
  void viewDidDisappear() override { log->push_back("didDisappear"); }
};
}  // namespace

TEST_F(Windows, ViewControllersAppearWithTheirWindowAndTheHookInstallsOnce) {
  std::vector<std::string> log;
  NSViewController::removeAppearanceHookForTesting();
  ASSERT_TRUE(NSViewController::installAppearanceHook(
      {[&log](NSViewController& vc, const std::function<void()>& viewWillAppear) {
         log.push_back("hook:will:" + vc.className());
         viewWillAppear();
       },
       [&log](NSViewController& vc) { log.push_back("hook:did:" + vc.className()); }}));
  EXPECT_FALSE(NSViewController::installAppearanceHook({}));
  auto w = NSWindow::make(NSMakeRect(0, 0, 100, 100), NSWindowStyleMaskTitled);
  w->setContentViewController(std::make_shared<Page>(&log));
  w->orderFront();
  w->orderFront();  // already visible: no second appearance
  w->orderOut();
  NSViewController::removeAppearanceHookForTesting();
  EXPECT_EQ(log, (std::vector<std::string>{"hook:will:Page", "willAppear", "hook:did:Page", "didAppear", "didDisappear"}));
}

TEST_F(Windows, AnimationGroupsApplyAtOnceAndCompleteAfterTheirDuration) {
  dispatch::VirtualClockScope clock;
  auto panel = NSPanel::make(NSMakeRect(0, 0, 100, 100), NSWindowStyleMaskNonactivatingPanel);
  panel->orderFront();
  bool faded = false;
  NSAnimationContext::runAnimationGroup(
      [&panel](NSAnimationContext& ctx) {
        ctx.setDuration(0.5);
        panel->animator().setAlphaValue(0.0);
      },
      [&panel, &faded] {
        if (panel->alphaValue() == 0.0) faded = true;
      });
  EXPECT_EQ(panel->alphaValue(), 0.0);
  dispatch::Scheduler::shared().advance(0.4);
  EXPECT_FALSE(faded);
  dispatch::Scheduler::shared().advance(0.1);
  EXPECT_TRUE(faded);
}

TEST_F(Windows, ARestoredAlphaCancelsTheFadeOutsEffect) {
  dispatch::VirtualClockScope clock;
  auto panel = NSPanel::make(NSMakeRect(0, 0, 100, 100), NSWindowStyleMaskNonactivatingPanel);
  panel->orderFront();
  bool orderedOut = false;
  NSAnimationContext::runAnimationGroup(
      [&panel](NSAnimationContext& ctx) {
        ctx.setDuration(0.5);
        panel->animator().setAlphaValue(0.0);
      },
      [&panel, &orderedOut] {
        if (panel->alphaValue() == 0.0) {
          panel->orderOut();
          orderedOut = true;
        }
      });
  dispatch::Scheduler::shared().advance(0.2);
  NSAnimationContext::runAnimationGroup([&panel](NSAnimationContext& ctx) {
    ctx.setDuration(0.0);
    panel->animator().setAlphaValue(1.0);
  });
  dispatch::Scheduler::shared().advance(1.0);
  EXPECT_FALSE(orderedOut);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->alphaValue(), 1.0);
}

TEST_F(Windows, NestedGroupsKeepTheirOwnDurations) {
  dispatch::VirtualClockScope clock;
  std::vector<std::string> done;
  NSAnimationContext::beginGrouping();
  NSAnimationContext::currentContext().setDuration(1.0);
  NSAnimationContext::currentContext().setCompletionHandler([&done] { done.push_back("outer"); });
  NSAnimationContext::runAnimationGroup([](NSAnimationContext& ctx) { ctx.setDuration(0.1); },
                                        [&done] { done.push_back("inner"); });
  EXPECT_EQ(NSAnimationContext::currentContext().duration(), 1.0);
  NSAnimationContext::endGrouping();
  NSAnimationContext::endGrouping();  // unbalanced: ignored
  dispatch::Scheduler::shared().advance(0.1);
  EXPECT_EQ(done, (std::vector<std::string>{"inner"}));
  dispatch::Scheduler::shared().advance(0.9);
  EXPECT_EQ(done, (std::vector<std::string>{"inner", "outer"}));
}

TEST_F(Windows, OrderingOutTheKeyWindowLeavesNoKeyWindow) {
  auto w = NSWindow::make(NSMakeRect(0, 0, 10, 10), NSWindowStyleMaskTitled);
  w->makeKeyAndOrderFront();
  w->orderOut();
  EXPECT_EQ(WindowList::keyWindow(), nullptr);
  EXPECT_FALSE(w->isKeyWindow());
}

TEST_F(Windows, AWindowWithASheetTakesNoClicks) {
  int clicks = 0;
  auto parent = NSWindow::make(NSMakeRect(0, 0, 400, 300), 0);
  parent->setContentView(NSHostingView::make(
      ui::Button([&clicks] { ++clicks; }, ui::View(ui::Color::white())).buttonStyle(ui::ButtonStyle::plain)));
  parent->orderFront();
  auto sheet = NSWindow::make(NSMakeRect(0, 0, 100, 50), 0);
  parent->beginSheet(sheet);
  WindowList::dispatchMouseDown(NSMakePoint(10, 10));
  WindowList::dispatchMouseUp(NSMakePoint(10, 10));
  EXPECT_EQ(clicks, 0);
  parent->endSheet(sheet);
  WindowList::dispatchMouseDown(NSMakePoint(10, 10));
  WindowList::dispatchMouseUp(NSMakePoint(10, 10));
  EXPECT_EQ(clicks, 1);
}

TEST_F(Windows, ClosingAWindowEndsItsSheetWithCancel) {
  auto parent = NSWindow::make(NSMakeRect(0, 0, 400, 300), NSWindowStyleMaskTitled);
  auto sheet = NSWindow::make(NSMakeRect(0, 0, 100, 50), 0);
  parent->makeKeyAndOrderFront();
  NSModalResponse got = 99;
  parent->beginSheet(sheet, [&got](NSModalResponse r) { got = r; });
  parent->close();
  EXPECT_EQ(got, NSModalResponseCancel);
  EXPECT_FALSE(sheet->isVisible());
}

TEST_F(Windows, StyleMaskChangesKeepTheContentInPlace) {
  auto w = NSWindow::make(NSMakeRect(0, 0, 200, 100), NSWindowStyleMaskTitled);
  w->setStyleMask(NSWindowStyleMaskNonactivatingPanel);
  EXPECT_EQ(w->frame(), NSMakeRect(0, 0, 200, 100));
  EXPECT_EQ(w->contentRect(), NSMakeRect(0, 0, 200, 100));
}

TEST_F(Windows, APanelConfiguredForPreviewsShowsAtATruncatedFrame) {
  auto panel = NSPanel::make(NSMakeRect(0, 0, 0, 0), NSWindowStyleMaskNonactivatingPanel);
  panel->setTitleVisibility(NSWindowTitleVisibility::hidden);
  panel->setLevel(1000);
  panel->setCollectionBehavior(NSWindowCollectionBehaviorCanJoinAllSpaces | NSWindowCollectionBehaviorFullScreenAuxiliary);
  panel->setOpaque(false);
  panel->setBackgroundColor(NSColor::clearColor());
  auto controller = NSHostingController::make(ui::View(ui::Color::white()));
  panel->setContentViewController(controller);
  panel->setFrame(NSMakeRect(10, 20, 200, 100), true);
  controller->view()->setFrame(NSMakeRect(0, 0, 200, 100));
  panel->orderFront();
  auto info = WindowList::visibleWindows();
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(info[0].frame, NSMakeRect(10, 20, 200, 100));
  EXPECT_EQ(panel->collectionBehavior(), 257u);
  EXPECT_FALSE(info[0].opaque);
  EXPECT_FALSE(panel->isKeyWindow());
  EXPECT_EQ(panel->contentHost()->size(), (ui::Size{200, 100}));
}
