#include <gtest/gtest.h>

#include <map>

#include "platform/ui/Host.h"

using namespace ui;

namespace {

View box(double w, double h) { return View(Color::red()).frame(w, h); }

struct Log {
  std::vector<std::string> events;
  std::function<void(bool)> tracker(std::string name) {
    return [this, name](bool inside) { events.push_back(name + (inside ? "+" : "-")); };
  }
  std::function<void()> action(std::string name) {
    return [this, name] { events.push_back(name); };
  }
};

// A platform view with one tracking region over its bounds that can be
// replaced, as a view does when its geometry changes.
class TrackingView : public PlatformView {
 public:
  void hostDidLayout(Rect frame) override {
    if (frame != frame_) {
      frame_ = frame;
      regionId_ = nextId_++;
    }
  }
  std::vector<TrackingRegion> trackingRegions() const override {
    if (!regionId_) return {};
    return {{regionId_, frame_, true, true}};
  }
  void trackingEvent(std::uint64_t id, TrackingEventKind kind, Point) override {
    events.push_back(std::to_string(id) + (kind == TrackingEventKind::entered ? " enter"
                                           : kind == TrackingEventKind::moved ? " move"
                                                                              : " exit"));
  }
  bool takeRightMouseDown(Point) override {
    events.push_back("right");
    return takesRight;
  }
  std::optional<View> hostedContent() const override { return content; }

  std::vector<std::string> events;
  bool takesRight = true;
  std::optional<View> content;

 private:
  Rect frame_{-1, -1, -1, -1};
  std::uint64_t regionId_ = 0;
  static inline std::uint64_t nextId_ = 1;
};

struct TrackingBridge {
  std::shared_ptr<TrackingView> view;
  std::shared_ptr<TrackingView> makeNSView() const { return view; }
  void updateNSView(TrackingView&) const {}
};

}  // namespace

TEST(Tracking, EnterMoveExitFromSuccessivePointerPositions) {
  Log log;
  auto host = Host::make(HStack(VerticalAlignment::top, 0, {box(100, 100).trackingArea(log.tracker("a")), box(100, 100)}));
  host->mouseMoved({150, 50});
  host->mouseMoved({50, 50});
  host->mouseMoved({60, 50});
  host->mouseMoved({70, 50});
  host->mouseMoved({150, 50});
  host->mouseMoved({160, 50});
  EXPECT_EQ(log.events, (std::vector<std::string>{"a+", "a+", "a+", "a-"}));
}

TEST(Tracking, OnHoverReportsOnlyTheChanges) {
  Log log;
  auto host = Host::make(box(100, 100).onHover(log.tracker("h")));
  host->mouseMoved({10, 10});
  host->mouseMoved({20, 20});
  host->mouseMoved({200, 20});
  host->mouseMoved({300, 20});
  EXPECT_EQ(log.events, (std::vector<std::string>{"h+", "h-"}));
}

TEST(Tracking, AreasUnderOtherViewsStillTrack) {
  Log log;
  // The tracked view lies under an opaque overlay and under a sibling in a z-stack.
  auto host = Host::make(ZStack({box(100, 100).trackingArea(log.tracker("under")),
                                 box(100, 100).overlay(box(100, 100)).trackingArea(log.tracker("over"))}));
  host->mouseMoved({50, 50});
  host->mouseMoved({150, 50});
  EXPECT_EQ(log.events, (std::vector<std::string>{"under+", "over+", "under-", "over-"}));
}

TEST(Tracking, AViewAppearingUnderThePointerReportsOnTheNextMove) {
  Log log;
  auto make = [&log](bool show) { return VStack({If(show, box(100, 100).trackingArea(log.tracker("t")), box(100, 100))}); };
  auto host = Host::make(make(false));
  host->mouseMoved({50, 50});
  host->setRootView(make(true));
  host->layoutIfNeeded();
  EXPECT_TRUE(log.events.empty());
  host->mouseMoved({50, 200});
  EXPECT_EQ(log.events, (std::vector<std::string>{"t-"}));
}

TEST(Tracking, MouseExitedHostExitsEveryInsideArea) {
  Log log;
  auto host = Host::make(box(100, 100).trackingArea(log.tracker("t")));
  host->mouseMoved({10, 10});
  host->mouseExited();
  EXPECT_EQ(log.events, (std::vector<std::string>{"t+", "t-"}));
}

TEST(Tracking, PlatformRegionsFollowTheirReplacement) {
  auto view = std::make_shared<TrackingView>();
  auto make = [&view](double w) { return View(TrackingBridge{view}).frame(w, 50); };
  auto host = Host::make(VStack(HorizontalAlignment::leading, 0, {make(100)}));
  host->mouseMoved({50, 10});
  host->mouseMoved({30, 10});
  ASSERT_EQ(view->events.size(), 2u);
  EXPECT_NE(view->events[0].find(" enter"), std::string::npos);
  EXPECT_NE(view->events[1].find(" move"), std::string::npos);
  view->events.clear();
  // Resized: a new region takes over, starting inside because the pointer is there.
  host->setRootView(VStack(HorizontalAlignment::leading, 0, {make(40)}));
  host->layoutIfNeeded();
  host->mouseMoved({35, 10});
  host->mouseMoved({60, 10});
  ASSERT_EQ(view->events.size(), 2u);
  EXPECT_NE(view->events[0].find(" move"), std::string::npos);
  EXPECT_NE(view->events[1].find(" exit"), std::string::npos);
  EXPECT_EQ(view->events[0].substr(0, view->events[0].find(' ')), view->events[1].substr(0, view->events[1].find(' ')));
}

TEST(Clicks, AScaledLayoutTakesTheRoomItDrawsInAndIsHitThroughTheScale) {
  Log log;
  auto host = Host::make(VStack(
      HorizontalAlignment::leading, 0,
      {box(100, 10).testId("above"),
       HStack(VerticalAlignment::top, 0,
              {Button(log.action("left"), box(100, 100).testId("l")).buttonStyle(ButtonStyle::plain),
               Button(log.action("right"), box(100, 100).testId("r")).buttonStyle(ButtonStyle::plain)})
           .trackingArea(log.tracker("row"))
           .scaledLayout(0.25)
           .testId("s")}));
  EXPECT_EQ(host->size(), (Size{100, 35}));
  EXPECT_EQ(host->frameOf("s"), (Rect{0, 10, 50, 25}));
  // Found frames are in host coordinates.
  EXPECT_EQ(host->frameOf("r"), (Rect{25, 10, 25, 25}));
  host->click(Point{30, 20});
  host->click(Point{60, 20});  // outside the scaled row
  host->mouseMoved({10, 30});
  host->mouseMoved({10, 40});
  EXPECT_EQ(log.events, (std::vector<std::string>{"right", "row+", "row-"}));
  // Drawn at the same scale: the right box's pixels end at x = 50.
  img::Bitmap b = host->render();
  EXPECT_EQ(b.pixel(49, 34).a, 255);
  EXPECT_EQ(b.pixel(51, 20).a, 0);
}

TEST(Clicks, NestedButtonsResolveToTheTopmost) {
  Log log;
  auto host = Host::make(Button(log.action("outer"), HStack({Text("outside"), Button("Inner", log.action("inner"))}))
                             .buttonStyle(ButtonStyle::plain));
  ASSERT_TRUE(host->click("Inner"));
  ASSERT_TRUE(host->click("outside"));
  EXPECT_EQ(log.events, (std::vector<std::string>{"inner", "outer"}));
}

TEST(Clicks, AnOverlayButtonIsAboveTheContentButton) {
  Log log;
  auto host = Host::make(Button(log.action("content"), box(100, 100))
                             .buttonStyle(ButtonStyle::plain)
                             .overlay(Button(log.action("overlay"), box(20, 20)).buttonStyle(ButtonStyle::plain),
                                      Alignment::topLeading));
  host->click(Point{10, 10});
  host->click(Point{50, 50});
  EXPECT_EQ(log.events, (std::vector<std::string>{"overlay", "content"}));
}

TEST(Clicks, PressAndReleaseMustLandOnTheSameButton) {
  Log log;
  auto host = Host::make(HStack(VerticalAlignment::top, 0,
                                {Button(log.action("a"), box(50, 50)).buttonStyle(ButtonStyle::plain),
                                 Button(log.action("b"), box(50, 50)).buttonStyle(ButtonStyle::plain)}));
  host->mouseDown({10, 10});
  host->mouseUp({60, 10});
  host->mouseDown({10, 10});
  host->mouseUp({200, 10});
  EXPECT_TRUE(log.events.empty());
  host->mouseDown({10, 10});
  host->mouseUp({20, 20});
  EXPECT_EQ(log.events, (std::vector<std::string>{"a"}));
}

TEST(Clicks, DisabledButtonsDoNotFire) {
  Log log;
  auto host = Host::make(Button(log.action("under"), box(100, 100))
                             .buttonStyle(ButtonStyle::plain)
                             .overlay(Button(log.action("disabled"), box(100, 100)).buttonStyle(ButtonStyle::plain).disabled(true)));
  host->click(Point{50, 50});
  EXPECT_EQ(log.events, (std::vector<std::string>{"under"}));
}

TEST(Clicks, ClippedPartsAreNotHit) {
  Log log;
  auto host = Host::make(Button(log.action("b"), box(100, 100)).buttonStyle(ButtonStyle::plain).frame(50, 50, Alignment::topLeading).clipped());
  host->click(Point{75, 25});
  EXPECT_TRUE(log.events.empty());
  host->click(Point{25, 25});
  EXPECT_EQ(log.events, (std::vector<std::string>{"b"}));
}

TEST(Clicks, TogglesFlipTheirBindingAndPickersChoose) {
  State<bool> on{false};
  State<int> choice{0};
  auto host = Host::make(VStack({Toggle("Enabled", on.binding()),
                                 Picker("", choice.binding(), {{0, Text("Dock Icon")}, {1, Text("Menu Bar Icon")}}),
                                 Picker("", choice.binding(), {{0, Text("Manual")}, {2, Text("Automatic")}})
                                     .pickerStyle(PickerStyle::radioGroup)}));
  host->click("Enabled");
  EXPECT_TRUE(on.get());
  host->click("Dock Icon");
  EXPECT_EQ(choice.get(), 1);
  host->setNeedsUpdate();
  host->click("Automatic");
  EXPECT_EQ(choice.get(), 2);
}

TEST(RightClicks, GoToTheInnermostViewThatTakesThem) {
  Log log;
  auto host = Host::make(VStack({Text("row").onRightClick(log.action("inner")).padding(10), Text("other")})
                             .onRightClick(log.action("outer")));
  host->rightClick("row");
  host->rightClick("other");
  EXPECT_EQ(log.events, (std::vector<std::string>{"inner", "outer"}));
}

TEST(RightClicks, APlatformViewThatDeclinesPassesTheEventOutward) {
  Log log;
  auto view = std::make_shared<TrackingView>();
  view->takesRight = false;
  view->content = Text("hosted");
  auto host = Host::make(View(TrackingBridge{view}).onRightClick(log.action("outer")));
  host->rightClick("hosted");
  EXPECT_EQ(view->events.back(), "right");
  EXPECT_EQ(log.events, (std::vector<std::string>{"outer"}));
  view->takesRight = true;
  host->rightClick("hosted");
  EXPECT_EQ(log.events.size(), 1u);
}

TEST(RightClicks, APlatformViewIsOfferedThePressBeforeItsContent) {
  Log log;
  auto view = std::make_shared<TrackingView>();
  view->content = Text("hosted").onRightClick(log.action("content"));
  auto host = Host::make(View(TrackingBridge{view}));
  host->rightClick("hosted");
  EXPECT_EQ(view->events.back(), "right");
  EXPECT_TRUE(log.events.empty());
  view->takesRight = false;
  host->rightClick("hosted");
  EXPECT_EQ(log.events, (std::vector<std::string>{"content"}));
}

TEST(RightClicks, LeftClicksStillReachHostedContent) {
  Log log;
  auto view = std::make_shared<TrackingView>();
  view->content = Button("Press", log.action("pressed"));
  auto host = Host::make(View(TrackingBridge{view}));
  host->click("Press");
  EXPECT_EQ(log.events, (std::vector<std::string>{"pressed"}));
}

TEST(Scrolling, GoesToTheInnermostScrollHandler) {
  Log log;
  auto host = Host::make(VStack({box(50, 50).onScrollWheel([&log](const ScrollEvent& e) {
                                   log.events.push_back("inner " + std::to_string(static_cast<int>(e.scrollingDeltaX)));
                                 }),
                                 box(50, 50).testId("plain")})
                             .onScrollWheel([&log](const ScrollEvent&) { log.events.push_back("outer"); }));
  ScrollEvent e;
  e.scrollingDeltaX = 3;
  e.location = {25, 25};
  host->scrollWheel(e);
  host->scroll("plain", e);
  EXPECT_EQ(log.events, (std::vector<std::string>{"inner 3", "outer"}));
}

TEST(Keys, ReturnPressesTheEnabledDefaultButton) {
  Log log;
  State<bool> canContinue{false};
  auto make = [&](bool enabled) {
    return VStack({Button("Configure...", log.action("configure")),
                   Button("Continue", log.action("continue")).keyboardShortcut(KeyboardShortcut::defaultAction).disabled(!enabled)});
  };
  auto host = Host::make(make(false));
  EXPECT_FALSE(host->keyDown(Key::returnKey));
  host->setRootView(make(true));
  EXPECT_TRUE(host->keyDown(Key::returnKey));
  EXPECT_FALSE(host->keyDown(Key::escape));
  EXPECT_EQ(log.events, (std::vector<std::string>{"continue"}));
}

TEST(TestApi, FindsByTestIdThenLabelThenText) {
  auto host = Host::make(VStack({Text("Save").testId("title"), Button("Save", [] {}).testId("save-button"),
                                 SystemImage("xmark")}));
  EXPECT_EQ(host->find("title")->kind, NodeKind::text);
  EXPECT_EQ(host->find("Save")->kind, NodeKind::button);
  EXPECT_EQ(host->find("xmark")->kind, NodeKind::symbol);
  EXPECT_EQ(host->find("missing"), nullptr);
  EXPECT_FALSE(host->click("missing"));
  EXPECT_EQ(host->findAll("Save").size(), 1u);
}

TEST(TestApi, DumpListsKindsLabelsAndFrames) {
  auto host = Host::make(VStack(HorizontalAlignment::center, 0, {Text("Hi").testId("greeting"), box(10, 10)}));
  std::string dump = host->dump();
  EXPECT_EQ(dump.rfind("VStack (0, 0, ", 0), 0u) << dump;
  EXPECT_NE(dump.find("\n  Text \"Hi\" [greeting] ("), std::string::npos) << dump;
  EXPECT_NE(dump.find("\n  Frame ("), std::string::npos) << dump;
  EXPECT_NE(dump.find("\n    Color ("), std::string::npos) << dump;
}
