#include <gtest/gtest.h>

#include "app/snapping/ScreenResizeCorrector.h"
#include "app/snapping/tests/SnapTestSupport.h"

namespace {

using namespace snaptest;

// One display 1440 x 900 (visible 1440 x 875 below the menu bar); Mail's
// three windows were sized to that visible frame, two of them not quite.
const char* const kLaptop = R"({
  "displays": [{"id": 1, "uuid": "11111111-1111-4111-8111-111111111111", "frame": [0, 0, 1440, 900],
                "spaces": [{"id": 1}]}],
  "self": {"pid": 100, "bundleIdentifier": "com.morvalent.Morvalent", "name": "Morvalent"},
  "applications": [
    {"pid": 502, "bundleIdentifier": "com.apple.mail", "name": "Mail",
     "windows": [{"id": 21, "title": "Full", "frame": [0, 25, 1430, 800]},
                 {"id": 22, "title": "Narrow", "frame": [0, 25, 1429, 800]},
                 {"id": 23, "title": "Indented", "frame": [11, 25, 1430, 800]}]}
  ],
  "frontmost": 502
})";

class ScreenResizeCorrection : public SnapTest {
 protected:
  ScreenResizeCorrection() : SnapTest(kLaptop) {
    repository->applicationControllers = {controllerFor(kMail)};
    corrector->screenRects = ScreenResizeCorrector::currentScreenRects();
    corrector->setEnabled(true);
    loggingModules({"ScreenResizeCorrector"});
  }

  std::shared_ptr<ScreenResizeCorrector> corrector = ScreenResizeCorrector::make(repository);

  // The display grows to 1920 x 1080; windows keep their bottom-left places,
  // so their top-left y moves down by 180.
  void growDisplay() { ASSERT_TRUE(world.setDisplayFrames(1, CGRect(0, 0, 1920, 1080))); }
};

TEST_F(ScreenResizeCorrection, AWindowSizedToAnEarlierScreenIsFittedToTheCurrentOne) {
  EXPECT_EQ(corrector->screenRects, (std::vector<CGRect>{CGRect(0, 25, 1440, 875)}));
  growDisplay();
  corrector->screenParametersDidChange();
  EXPECT_TRUE(corrector->pendingScreenParameterChange);
  drain();
  EXPECT_FALSE(corrector->pendingScreenParameterChange);
  EXPECT_EQ(frameOf(21), CGRect(0, 25, 1920, 1055));
  EXPECT_EQ(frameOf(22), CGRect(0, 205, 1429, 800));  // more than 10 points narrower
  EXPECT_EQ(frameOf(23), CGRect(11, 205, 1430, 800));  // 11 points from the left edge
  EXPECT_EQ(corrector->screenRects, (std::vector<CGRect>{CGRect(0, 25, 1440, 875), CGRect(0, 25, 1920, 1055)}));
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: Screen parameters did change. enabled:true"));
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: processScreenParametersChange (attemptCount:0)"));
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: oldScreenRects: [(0.0, 25.0, 1440.0, 875.0)]"));
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: Checking windows for: Mail"));
  EXPECT_TRUE(log.contains(
      "ScreenResizeCorrector: [Full] - Old frame:(0.0, 205.0, 1430.0, 800.0) New frame:(0.0, 25.0, 1920.0, 1055.0)"));
  EXPECT_TRUE(log.contains(
      "ScreenResizeCorrector: [Narrow] - Not resizing:(0.0, 205.0, 1429.0, 800.0) Minimized:Optional(false) "
      "Hidden:Optional(false)"));
}

TEST_F(ScreenResizeCorrection, AWindowAlreadyAboutTheVisibleSizeIsLeftAlone) {
  // 1435 x 730 matches the earlier 1440 x 875 and is within 10 and 150 points
  // below the new 1445 x 880: it already fits.
  ASSERT_TRUE(world.setWindowFrame(21, CGRect(0, 25, 1435, 730)));
  ASSERT_TRUE(world.setDisplayFrames(1, CGRect(0, 0, 1445, 905), CGRect(0, 0, 1445, 880)));
  corrector->screenParametersDidChange();
  drain();
  EXPECT_EQ(frameOf(21).size, (CGSize{1435, 730}));
  EXPECT_TRUE(log.contains("[Full] - Not resizing:"));
}

TEST_F(ScreenResizeCorrection, WhileDisabledAChangeOnlyLogs) {
  corrector->setEnabled(false);
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: enabled:false"));
  growDisplay();
  corrector->screenParametersDidChange();
  EXPECT_FALSE(corrector->pendingScreenParameterChange);
  drain();
  EXPECT_EQ(frameOf(21), CGRect(0, 205, 1430, 800));
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: Screen parameters did change. enabled:false"));
  EXPECT_FALSE(log.contains("processScreenParametersChange"));
}

TEST_F(ScreenResizeCorrection, WithTooFewWindowsItRetriesTwentyTimesThenGivesUp) {
  ASSERT_TRUE(world.closeWindow(23));
  growDisplay();
  corrector->screenParametersDidChange();
  drain();
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: 2 windows found."));
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: trying again..."));
  EXPECT_TRUE(corrector->pendingScreenParameterChange);
  // A further change meanwhile is ignored.
  corrector->screenParametersDidChange();
  advance(0.5 * 19);
  EXPECT_TRUE(corrector->pendingScreenParameterChange);
  EXPECT_FALSE(log.contains("exceeded retry attempts"));
  advance(0.5);
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: processScreenParametersChange (attemptCount:20)"));
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: exceeded retry attempts"));
  EXPECT_FALSE(corrector->pendingScreenParameterChange);
  EXPECT_FALSE(log.contains("attemptCount:21"));
  EXPECT_EQ(log.countContaining("processScreenParametersChange (attemptCount:0)"), 1u);
  EXPECT_EQ(frameOf(21), CGRect(0, 205, 1430, 800));
  EXPECT_EQ(corrector->screenRects.size(), 1u);
}

TEST_F(ScreenResizeCorrection, ARetryFindsTheWindowsOnceTheyAreBack) {
  sim::ApplicationFaults silent;
  silent.unresponsive = true;
  ASSERT_TRUE(world.setApplicationFaults(kMail, silent));
  growDisplay();
  corrector->screenParametersDidChange();
  drain();
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: 0 windows found."));
  ASSERT_TRUE(world.setApplicationFaults(kMail, sim::ApplicationFaults{}));
  advance(0.5);
  EXPECT_FALSE(corrector->pendingScreenParameterChange);
  EXPECT_EQ(frameOf(21), CGRect(0, 25, 1920, 1055));
}

TEST_F(ScreenResizeCorrection, EachApplicationIsCheckedOnceAfterAChange) {
  auto summary = [&] {
    auto read = result<std::optional<ApplicationSummary>>([&] { return controllerFor(kMail)->getApplicationSummary(); });
    return read && *read ? **read : ApplicationSummary{};
  };
  // Before any change nothing is checked, whatever the windows' sizes.
  ASSERT_TRUE(world.setWindowFrame(21, CGRect(0, 25, 1430, 600)));
  corrector->checkApplicationIfNeeded(summary());
  drain();
  EXPECT_TRUE(corrector->checkedApplicationBundleIDs.empty());
  EXPECT_FALSE(log.contains("Checking windows for: Mail"));

  growDisplay();
  corrector->screenParametersDidChange();
  drain();
  EXPECT_EQ(frameOf(21), CGRect(0, 205, 1430, 600));
  // Back at the old screen's size: the first check after the change fits it, a second one does not.
  ASSERT_TRUE(world.setWindowFrame(21, CGRect(0, 25, 1430, 800)));
  corrector->checkApplicationIfNeeded(summary());
  drain();
  EXPECT_EQ(frameOf(21), CGRect(0, 25, 1920, 1055));
  EXPECT_EQ(corrector->checkedApplicationBundleIDs, (std::vector<std::string>{"com.apple.mail"}));
  ASSERT_TRUE(world.setWindowFrame(21, CGRect(0, 25, 1430, 800)));
  corrector->checkApplicationIfNeeded(summary());
  drain();
  EXPECT_EQ(frameOf(21), CGRect(0, 25, 1430, 800));

  // An accepted change of screen parameters clears the list.
  corrector->screenParametersDidChange();
  EXPECT_TRUE(corrector->checkedApplicationBundleIDs.empty());
}

// A 1440 x 900 laptop and a 2560 x 1440 display on its right (H = 1440: the
// laptop's visible area is (0, 565, 1440, 875), the display's (1440, 25,
// 2560, 1415)). Mail fills the laptop; Notes has a window the user sized to
// 1440 x 800 at the left edge of the large display.
const char* const kLaptopAndDisplay = R"({
  "displays": [
    {"id": 1, "frame": [0, 0, 1440, 900], "spaces": [{"id": 1}]},
    {"id": 2, "frame": [1440, 0, 2560, 1440], "spaces": [{"id": 10}]}
  ],
  "self": {"pid": 100, "bundleIdentifier": "com.morvalent.Morvalent", "name": "Morvalent"},
  "applications": [
    {"pid": 502, "bundleIdentifier": "com.apple.mail", "name": "Mail",
     "windows": [{"id": 21, "title": "Full", "frame": [0, 565, 1430, 800]},
                 {"id": 22, "title": "Other", "frame": [100, 700, 500, 400]}]},
    {"pid": 503, "bundleIdentifier": "com.apple.Notes", "name": "Notes",
     "windows": [{"id": 31, "title": "By hand", "frame": [1440, 25, 1440, 800]}]}
  ],
  "frontmost": 502
})";

class ResizeCorrectionOnTwoDisplays : public SnapTest {
 protected:
  ResizeCorrectionOnTwoDisplays() : SnapTest(kLaptopAndDisplay) {
    repository->applicationControllers = {controllerFor(kMail), controllerFor(kNotes)};
    corrector->screenRects = ScreenResizeCorrector::currentScreenRects();
    corrector->setEnabled(true);
  }
  void checkBoth() {
    for (pid_t pid : {kMail, kNotes}) {
      auto read = result<std::optional<ApplicationSummary>>([&] { return controllerFor(pid)->getApplicationSummary(); });
      ASSERT_TRUE(read && *read);
      corrector->checkApplicationIfNeeded(**read);
    }
    drain();
  }
  std::shared_ptr<ScreenResizeCorrector> corrector = ScreenResizeCorrector::make(repository);
};

TEST_F(ResizeCorrectionOnTwoDisplays, OnlyWindowsThatFilledAChangedDisplayAreFitted) {
  const CGRect byHand(1440, 25, 1440, 800);
  // No change at all: the previews' checks touch nothing.
  checkBoth();
  EXPECT_EQ(frameOf(31), byHand);
  EXPECT_EQ(frameOf(21), CGRect(0, 565, 1430, 800));

  // The laptop's resolution grows; the large display stays as it was.
  ASSERT_TRUE(world.setDisplayFrames(1, CGRect(0, 0, 1680, 1050)));
  corrector->screenParametersDidChange();
  drain();
  ASSERT_TRUE(corrector->lastChange());
  EXPECT_EQ(frameOf(21), CGRect(0, 415, 1680, 1025));
  EXPECT_EQ(frameOf(22).size, (CGSize{500, 400}));
  checkBoth();
  EXPECT_EQ(frameOf(31), byHand);
}

TEST_F(ScreenResizeCorrection, WindowsWithoutAFrameOrAScreenAreSkipped) {
  world.setWindowAttributeFault(22, "AXSize", sim::AttributeFault{.error = sim::axerr::kCannotComplete});
  ASSERT_TRUE(world.setWindowFrame(23, CGRect(-500, 25, 1430, 800)));
  growDisplay();
  corrector->screenParametersDidChange();
  drain();
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: [Narrow] - No Frame"));
  EXPECT_TRUE(log.contains("ScreenResizeCorrector: [Indented] - No Screen"));
  EXPECT_EQ(frameOf(21), CGRect(0, 25, 1920, 1055));
}

TEST_F(ScreenResizeCorrection, TheHistoryDropsOneRectanglePerRecording) {
  corrector->screenRects.clear();
  for (int i = 0; i < 25; ++i) corrector->recordScreenRects();
  EXPECT_EQ(corrector->screenRects.size(), 20u);
  ASSERT_TRUE(world.addDisplay(sim::DisplaySpec{.id = 2, .frame = CGRect(1440, 0, 1440, 900)}));
  EXPECT_EQ(ScreenResizeCorrector::currentScreenRects().size(), 2u);
  corrector->recordScreenRects();
  EXPECT_EQ(corrector->screenRects.size(), 21u);
  corrector->recordScreenRects();
  EXPECT_EQ(corrector->screenRects.size(), 22u);
}

TEST_F(ScreenResizeCorrection, ARemovedDisplaysWindowsAreFittedToTheRemainingOne) {
  // A second, larger display holds a window sized to it; the display goes away.
  ASSERT_TRUE(world.addDisplay(sim::DisplaySpec{.id = 2, .frame = CGRect(1440, 0, 1920, 1080)}));
  sim::WindowSpec big;
  big.id = 24;
  big.title = "Big";
  big.frame = CGRect(1440, 25, 1915, 1000);
  ASSERT_TRUE(world.createWindow(kMail, big));
  corrector->recordScreenRects();
  ASSERT_TRUE(world.removeDisplay(2));
  corrector->screenParametersDidChange();
  drain();
  // The window was moved onto the primary display's visible frame and is fitted to it.
  EXPECT_EQ(frameOf(24), CGRect(0, 25, 1440, 875));
}

}  // namespace
