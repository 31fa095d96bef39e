#include <gtest/gtest.h>

#include "platform/appkit/NSAlert.h"
#include "platform/appkit/NSMenu.h"
#include "platform/appkit/NSStatusBar.h"
#include "platform/appkit/NSView.h"
#include "platform/dispatch/Dispatch.h"

using namespace appkit;

namespace {
struct MenuLog : NSMenuDelegate {
  std::vector<std::string> calls;
  void menuNeedsUpdate(NSMenu&) override { calls.push_back("needsUpdate"); }
  void menuWillOpen(NSMenu&) override { calls.push_back("willOpen"); }
  void menuDidClose(NSMenu&) override { calls.push_back("didClose"); }
};
}  // namespace

TEST(Menus, ItemsRunTheirActionsWhenEnabled) {
  auto menu = NSMenu::make();
  std::vector<std::string> ran;
  menu->addItemWithTitle("Settings", [&ran](NSMenuItem& item) { ran.push_back(item.title()); }, ",");
  menu->addItem(NSMenuItem::separatorItem());
  auto quit = menu->addItemWithTitle("Quit", [&ran](NSMenuItem&) { ran.push_back("quit"); }, "q");
  quit->setEnabled(false);
  EXPECT_EQ(menu->numberOfItems(), 3);
  EXPECT_TRUE(menu->performActionForItemAtIndex(0));
  EXPECT_FALSE(menu->performActionForItemAtIndex(1));
  EXPECT_FALSE(menu->performActionForItemAtIndex(2));
  EXPECT_FALSE(menu->performActionForItemAtIndex(7));
  EXPECT_EQ(ran, (std::vector<std::string>{"Settings"}));
  EXPECT_EQ(menu->indexOfItemWithTitle("Quit"), 2);
  EXPECT_EQ(menu->indexOfItemWithTitle("Missing"), -1);
  EXPECT_EQ(quit->menu(), menu);
}

TEST(Menus, AnItemMovesBetweenMenus) {
  auto a = NSMenu::make("a");
  auto b = NSMenu::make("b");
  auto item = NSMenuItem::make("Item");
  a->addItem(item);
  b->insertItem(item, 0);
  EXPECT_EQ(a->numberOfItems(), 0);
  EXPECT_EQ(b->itemAtIndex(0), item);
  EXPECT_EQ(item->menu(), b);
}

TEST(Menus, OpeningAndChoosingTellTheDelegate) {
  auto menu = NSMenu::make();
  auto log = std::make_shared<MenuLog>();
  menu->setDelegate(log);
  menu->addItemWithTitle("One", [](NSMenuItem&) {});
  menu->open();
  EXPECT_TRUE(menu->isOpen());
  menu->performActionForItemAtIndex(0);
  EXPECT_FALSE(menu->isOpen());
  EXPECT_EQ(log->calls, (std::vector<std::string>{"needsUpdate", "willOpen", "didClose"}));
}

TEST(StatusBar, AClickOpensTheMenuOrRunsTheAction) {
  auto& bar = NSStatusBar::systemStatusBar();
  bar.removeAllForTesting();
  auto item = bar.statusItemWithLength(NSVariableStatusItemLength);
  int clicks = 0;
  item->button().setSymbolName("dock.rectangle");
  item->button().setAction([&clicks] { ++clicks; });
  item->button().performClick();
  EXPECT_EQ(clicks, 1);
  auto menu = NSMenu::make();
  item->setMenu(menu);
  item->button().performClick();
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(menu->isOpen());
  EXPECT_EQ(bar.statusItems().size(), 1u);
  bar.removeStatusItem(item);
  EXPECT_TRUE(bar.statusItems().empty());
}

TEST(Alerts, TheResponderChoosesTheButton) {
  NSAlert::clearShownMessages();
  NSAlert alert;
  alert.setMessageText("Send crash report?");
  alert.addButtonWithTitle("Always Send");
  alert.addButtonWithTitle("Send");
  alert.addButtonWithTitle("Don't Send");
  EXPECT_EQ(alert.runModal(), NSAlertFirstButtonReturn);
  NSAlert::setResponder([](NSAlert& a) {
    a.setSuppressionButtonChecked(true);
    return NSAlertThirdButtonReturn;
  });
  EXPECT_EQ(alert.runModal(), NSAlertThirdButtonReturn);
  EXPECT_TRUE(alert.suppressionButtonChecked());
  // Answers other than the buttons come back as they are.
  for (NSModalResponse other : {NSModalResponseAbort, NSModalResponseStop, 5000L}) {
    NSAlert::setResponder([other](NSAlert&) { return other; });
    EXPECT_EQ(alert.runModal(), other);
  }
  NSAlert::resetResponder();
  EXPECT_EQ(NSAlert::shownMessages().size(), 5u);
}

TEST(Alerts, AnAlertWithoutButtonsGetsOk) {
  NSAlert alert;
  EXPECT_EQ(alert.runModal(), NSAlertFirstButtonReturn);
  EXPECT_EQ(alert.buttons(), (std::vector<std::string>{"OK"}));
}

TEST(Alerts, SheetCompletionIsPosted) {
  dispatch::VirtualClockScope clock;
  NSAlert::setResponder([](NSAlert&) { return NSAlertSecondButtonReturn; });
  NSAlert alert;
  alert.addButtonWithTitle("A");
  alert.addButtonWithTitle("B");
  NSModalResponse got = 0;
  alert.beginSheetModalForWindow(nullptr, [&got](NSModalResponse r) { got = r; });
  EXPECT_EQ(got, 0);
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_EQ(got, NSAlertSecondButtonReturn);
  NSAlert::resetResponder();
}

namespace {
// A bridged view that reports its tracking events and takes right clicks.
class Tracker : public NSView {
 public:
  std::vector<std::string>* log = nullptr;
  void updateTrackingAreas() override {
    for (auto& a : std::vector<std::shared_ptr<NSTrackingArea>>(trackingAreas())) removeTrackingArea(a);
    addTrackingArea(NSTrackingArea::make(bounds(), 0x83, weakResponder()));
  }
  void mouseEntered(const NSEvent&) override { log->push_back("entered"); }
  void mouseMoved(const NSEvent&) override { log->push_back("moved"); }
  void mouseExited(const NSEvent&) override { log->push_back("exited"); }
  void rightMouseDown(const NSEvent&) override { log->push_back("right"); }
};
struct TrackerBridge {
  std::vector<std::string>* log;
  std::shared_ptr<Tracker> makeNSView() const {
    auto t = std::make_shared<Tracker>();
    t->log = log;
    return t;
  }
  void updateNSView(Tracker&) const {}
};
}  // namespace

TEST(BridgedViews, TrackingAreasAndRightClicksReachTheView) {
  std::vector<std::string> log;
  auto host = ui::Host::make(ui::View(TrackerBridge{&log}).frame(100, 40));
  host->mouseMoved({10, 10});
  host->mouseMoved({20, 10});
  host->mouseMoved({200, 10});
  host->rightMouseDown({50, 20});
  EXPECT_EQ(log, (std::vector<std::string>{"entered", "moved", "exited", "right"}));
}

TEST(BridgedViews, VisualEffectViewsDrawTheirMaterial) {
  NSVisualEffectView v;
  EXPECT_EQ(v.material(), NSVisualEffectView::Material::windowBackground);
  v.setMaterial(NSVisualEffectView::Material::popover);
  v.setState(NSVisualEffectView::State::active);
  auto content = v.hostedContent();
  ASSERT_TRUE(content.has_value());
  EXPECT_EQ(content->element().material, ui::Material::popover);
  EXPECT_EQ(content->element().effectState, ui::VisualEffectState::active);
}
