#include <gtest/gtest.h>

#include "app/previews/RightClickViewModifier.h"
#include "app/previews/TrackingAreaViewModifier.h"
#include "platform/appkit/NSWindow.h"
#include "platform/ui/Host.h"

namespace {

ui::View tile(double w, double h) { return ui::View(ui::Color::white()).frame(w, h); }

struct Recorder {
  std::vector<std::string> events;
  std::function<void(bool)> onMove(std::string name = "") {
    return [this, name](bool in) { events.push_back(name + (in ? "true" : "false")); };
  }
};

const TrackinAreaViewModifier::HostingView* trackingView(const std::shared_ptr<ui::Host>& host) {
  const ui::Node* n = host->root()->findFirst([](const ui::Node& node) {
    return node.platformView && std::dynamic_pointer_cast<TrackinAreaViewModifier::HostingView>(node.platformView);
  });
  return n ? static_cast<const TrackinAreaViewModifier::HostingView*>(
                 std::dynamic_pointer_cast<TrackinAreaViewModifier::HostingView>(n->platformView).get())
           : nullptr;
}

}  // namespace

TEST(TrackingModifier, ReportsRepeatedTrueInsideThenASingleFalse) {
  Recorder r;
  auto host = ui::Host::make(tile(100, 100).modifier(TrackinAreaViewModifier{r.onMove()}));
  host->mouseMoved({150, 50});
  host->mouseMoved({50, 50});
  host->mouseMoved({60, 60});
  host->mouseMoved({70, 70});
  host->mouseMoved({150, 50});
  host->mouseMoved({160, 50});
  EXPECT_EQ(r.events, (std::vector<std::string>{"true", "true", "true", "false"}));
}

TEST(TrackingModifier, KeepsOneTrackingAreaThatFollowsTheBounds) {
  Recorder r;
  auto make = [&r](double w) {
    return ui::VStack(ui::HorizontalAlignment::leading, 0, {tile(w, 50).modifier(TrackinAreaViewModifier{r.onMove()})});
  };
  auto host = ui::Host::make(make(100));
  const auto* view = trackingView(host);
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->trackingAreas().size(), 1u);
  auto first = view->trackingArea();
  EXPECT_EQ(first->rect(), appkit::NSMakeRect(0, 0, 100, 50));
  EXPECT_EQ(first->options(), 0x83u);
  host->mouseMoved({80, 10});
  // Smaller: the area is replaced; the pointer at x = 80 is now outside.
  host->setRootView(make(40));
  host->layoutIfNeeded();
  view = trackingView(host);
  ASSERT_EQ(view->trackingAreas().size(), 1u);
  EXPECT_NE(view->trackingArea(), first);
  EXPECT_EQ(view->trackingArea()->rect(), appkit::NSMakeRect(0, 0, 40, 50));
  host->mouseMoved({90, 10});
  host->mouseMoved({30, 10});
  host->mouseMoved({50, 10});
  EXPECT_EQ(r.events, (std::vector<std::string>{"true", "true", "false"}));
}

TEST(TrackingModifier, NoAreaUntilTheViewIsLaidOut) {
  TrackinAreaViewModifier::HostingView view([](bool) {}, ui::View(ui::Color::clear()));
  EXPECT_EQ(view.trackingArea(), nullptr);
  EXPECT_TRUE(view.trackingAreas().empty());
}

TEST(TrackingModifier, ReportsInAPanelOfAnInactiveApplication) {
  appkit::WindowList::resetForTesting();
  Recorder r;
  auto panel = appkit::NSPanel::make(appkit::NSMakeRect(0, 0, 100, 100), appkit::NSWindowStyleMaskNonactivatingPanel);
  panel->setContentView(appkit::NSHostingView::make(
      ui::View(ui::Color::white()).modifier(TrackinAreaViewModifier{r.onMove()})));
  panel->orderFront();
  ASSERT_FALSE(panel->isKeyWindow());
  appkit::WindowList::dispatchMouseMoved(appkit::NSMakePoint(50, 50));
  appkit::WindowList::dispatchMouseMoved(appkit::NSMakePoint(55, 50));
  appkit::WindowList::dispatchMouseMoved(appkit::NSMakePoint(500, 50));
  EXPECT_EQ(r.events, (std::vector<std::string>{"true", "true", "false"}));
  appkit::WindowList::resetForTesting();
}

TEST(TrackingModifier, ContentStillTakesClicksAndScrolls) {
  Recorder r;
  int clicks = 0, scrolls = 0;
  auto host = ui::Host::make(ui::Button([&clicks] { ++clicks; }, tile(100, 100))
                                 .buttonStyle(ui::ButtonStyle::plain)
                                 .onScrollWheel([&scrolls](const ui::ScrollEvent&) { ++scrolls; })
                                 .modifier(TrackinAreaViewModifier{r.onMove()}));
  host->click(ui::Point{50, 50});
  ui::ScrollEvent e;
  e.location = {50, 50};
  host->scrollWheel(e);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(scrolls, 1);
}

TEST(TrackingModifier, AnUpdateKeepsTheFirstCallback) {
  Recorder r;
  auto host = ui::Host::make(tile(100, 100).modifier(TrackinAreaViewModifier{r.onMove("first:")}));
  host->layoutIfNeeded();
  host->setRootView(tile(100, 100).modifier(TrackinAreaViewModifier{r.onMove("second:")}));
  host->mouseMoved({50, 50});
  EXPECT_EQ(r.events, (std::vector<std::string>{"first:true"}));
}

TEST(RightClickModifier, ReportsEachPressOnceAndHidesItFromTheContent) {
  int rightClicks = 0, contentRightClicks = 0, leftClicks = 0;
  auto content = ui::Button([&leftClicks] { ++leftClicks; }, tile(100, 100))
                     .buttonStyle(ui::ButtonStyle::plain)
                     .onRightClick([&contentRightClicks] { ++contentRightClicks; });
  auto host = ui::Host::make(
      ui::VStack({content.modifier(RightClickViewModifier{[&rightClicks] { ++rightClicks; }})})
          .onRightClick([&contentRightClicks] { ++contentRightClicks; }));
  host->rightMouseDown({50, 50});
  host->rightMouseDown({50, 50});
  host->click(ui::Point{50, 50});
  EXPECT_EQ(rightClicks, 2);
  EXPECT_EQ(contentRightClicks, 0);
  EXPECT_EQ(leftClicks, 1);
}

TEST(RightClickModifier, ThePressGoesToTheModifierNotTheEnclosingViews) {
  int rightClicks = 0, outer = 0;
  auto host = ui::Host::make(ui::VStack({tile(100, 100).modifier(RightClickViewModifier{[&rightClicks] { ++rightClicks; }})})
                                 .onRightClick([&outer] { ++outer; }));
  host->rightMouseDown({50, 50});
  EXPECT_EQ(rightClicks, 1);
  EXPECT_EQ(outer, 0);
}

TEST(RightClickModifier, AnUpdateReplacesTheContentButKeepsTheCallback) {
  std::vector<std::string> calls;
  auto make = [&calls](std::string name, std::string label) {
    return ui::Text(label).modifier(RightClickViewModifier{[&calls, name] { calls.push_back(name); }});
  };
  auto host = ui::Host::make(make("first", "before"));
  host->layoutIfNeeded();
  host->setRootView(make("second", "after"));
  EXPECT_EQ(host->find("before"), nullptr);
  ASSERT_TRUE(host->rightClick("after"));
  EXPECT_EQ(calls, (std::vector<std::string>{"first"}));
}
