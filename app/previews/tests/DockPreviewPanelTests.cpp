#include <gtest/gtest.h>

#include "app/previews/DockPreviewPresentationViewController.h"
#include "app/previews/DockPreviewWindowController.h"
#include "app/previews/tests/PreviewTestSupport.h"
#include "platform/appkit/NSAnimationContext.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Animation.h"

namespace {

using previewtest::content;
using previewtest::thumbnail;

class PanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appkit::WindowList::resetForTesting();
    previous_ = ns::UserDefaults::standard();
    ns::UserDefaults::setStandard(ns::UserDefaults::inMemory());
    panel = DockPreviewWindowController::makePanel();
    controller = DockPreviewWindowController::make(panel);
  }
  void TearDown() override {
    controller.reset();
    panel.reset();
    appkit::WindowList::resetForTesting();
    ns::UserDefaults::setStandard(previous_);
  }

  dispatch::VirtualClockScope clock;
  dispatch::Scheduler& sched = dispatch::Scheduler::shared();
  std::shared_ptr<appkit::NSPanel> panel;
  std::shared_ptr<DockPreviewWindowController> controller;

 private:
  std::shared_ptr<ns::UserDefaults> previous_;
};

std::optional<bool> animatingOf(const DockPreviewContentContainer& container) {
  if (!*container.value) return std::nullopt;
  return (*container.value)->animating;
}

}  // namespace

// ---- the panel ----

TEST_F(PanelTest, ThePanelIsAFloatingNonActivatingPanelOnEverySpace) {
  EXPECT_EQ(panel->styleMask(), 128u);
  EXPECT_EQ(panel->level(), 1000);
  EXPECT_EQ(panel->collectionBehavior(), 257u);
  EXPECT_EQ(panel->titleVisibility(), appkit::NSWindowTitleVisibility::hidden);
  EXPECT_FALSE(panel->isOpaque());
  EXPECT_EQ(panel->backgroundColor().alphaComponent(), 0);
  EXPECT_EQ(panel->contentViewController(), controller->viewController());
  EXPECT_EQ(controller->window(), panel);
}

TEST_F(PanelTest, ShowTruncatesTheFrameAndNeverMakesThePanelKey) {
  controller->viewController()->update(content({thumbnail(1, "A")}), false);
  controller->show(false, CGRect(10.9, 20.5, 264.7, 199.99));
  EXPECT_TRUE(panel->isVisible());
  EXPECT_FALSE(panel->isKeyWindow());
  EXPECT_EQ(panel->alphaValue(), 1.0);
  EXPECT_EQ(panel->frame().origin, (CGPoint{10, 20}));
  EXPECT_EQ(controller->viewController()->view()->frame(), appkit::NSMakeRect(0, 0, 264, 199));
}

TEST_F(PanelTest, AnAnimatedShowIsOneAnimationGroup) {
  const auto before = appkit::NSAnimationContext::groupsEnded();
  controller->show(true, CGRect(0, 0, 100, 100));
  // The outer group and the alpha reset inside it.
  EXPECT_EQ(appkit::NSAnimationContext::groupsEnded() - before, 2u);
  EXPECT_TRUE(panel->isVisible());
}

TEST_F(PanelTest, AFrameThatIsNotFiniteIsRefused) {
  controller->show(false, CGRect(0, 0, 300, 200));
  controller->show(false, CGRect(std::nan(""), 0, 300, 200));
  controller->show(false, CGRect(0, 0, INFINITY, 200));
  EXPECT_EQ(panel->frame().origin, (CGPoint{0, 0}));
}

TEST_F(PanelTest, FadeOutCompletesOnlyWhenThePanelStayedTransparent) {
  controller->show(false, CGRect(0, 0, 100, 100));
  int completions = 0;
  controller->fadeOut([&] { ++completions; });
  EXPECT_EQ(panel->alphaValue(), 0.0);
  sched.advance(0.5);
  EXPECT_EQ(completions, 1);

  // A show during the fade makes the panel opaque at once and the fade does nothing.
  controller->fadeOut([&] { ++completions; });
  sched.advance(0.2);
  controller->show(false, CGRect(0, 0, 100, 100));
  sched.advance(1.0);
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(panel->alphaValue(), 1.0);

  // So does a cancelled hide.
  controller->fadeOut([&] { ++completions; });
  controller->resetAlpha();
  sched.advance(1.0);
  EXPECT_EQ(completions, 1);
}

// ---- the presentation view controller ----

TEST_F(PanelTest, AnimatedUpdateShowsTheContentAnimatingForHalfASecond) {
  auto vc = controller->viewController();
  ui::clearRecordedAnimations();
  vc->update(content({thumbnail(1, "A")}), true);
  EXPECT_EQ(animatingOf(*vc->contentContainer()), true);
  EXPECT_EQ(ui::recordedAnimations(), (std::vector<ui::Animation>{ui::Animation::standard()}));
  sched.advance(0.49);
  EXPECT_EQ(animatingOf(*vc->contentContainer()), true);
  sched.advance(0.01);
  EXPECT_EQ(animatingOf(*vc->contentContainer()), false);
}

TEST_F(PanelTest, AnimatedUpdateWithoutContentSetsNothingTwice) {
  auto vc = controller->viewController();
  vc->update(content({thumbnail(1, "A")}), false);
  int stores = 0;
  auto sub = vc->contentContainer()->value.willSetPublisher().sink([&](const std::optional<DockPreviewContent>& v) {
    EXPECT_FALSE(v.has_value());
    ++stores;
  });
  vc->update(std::nullopt, true);
  EXPECT_EQ(stores, 1);
  sched.advance(0.5);
  EXPECT_EQ(stores, 2);
}

TEST_F(PanelTest, AnUnanimatedUpdateSchedulesNothing) {
  auto vc = controller->viewController();
  vc->update(content({thumbnail(1, "A")}), false);
  EXPECT_EQ(animatingOf(*vc->contentContainer()), false);
  int stores = 0;
  auto sub = vc->contentContainer()->value.willSetPublisher().sink([&](const auto&) { ++stores; });
  sched.advance(2.0);
  EXPECT_EQ(stores, 0);
}

TEST_F(PanelTest, ALaterUpdateIsNotOverwrittenByAnEarlierOnesSecondStep) {
  auto vc = controller->viewController();
  vc->update(content({thumbnail(1, "Music")}), true);
  sched.advance(0.2);
  vc->update(content({thumbnail(2, "Mail"), thumbnail(3, "Mail 2")}), false);
  sched.advance(1.0);
  ASSERT_TRUE(*vc->contentContainer()->value);
  EXPECT_EQ((*vc->contentContainer()->value)->windows.size(), 2u);
  EXPECT_EQ((*vc->contentContainer()->value)->windows[0].title, "Mail");
}

TEST_F(PanelTest, TheRootViewShowsTheContentAndReachesTheDelegate) {
  auto vc = controller->viewController();
  auto delegate = std::make_shared<previewtest::RecordingDelegate>();
  vc->setDelegate(delegate);
  vc->update(content({thumbnail(1, "A"), thumbnail(2, "B")}), false);
  controller->show(false, CGRect(100, 100, 508, 200));
  auto host = panel->contentHost();
  ASSERT_TRUE(host);
  ASSERT_TRUE(host->find("B"));
  ASSERT_TRUE(host->click("B"));
  EXPECT_EQ(delegate->take(), (std::vector<std::string>{"click B"}));
  // A delegate that went away is no longer called.
  delegate.reset();
  host->layoutIfNeeded();
  EXPECT_TRUE(host->click("A"));
}
