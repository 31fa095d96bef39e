#include <gtest/gtest.h>

#include <string>

#include "app/snapping/tests/SnapTestSupport.h"
#include "platform/sim/InputScript.h"

namespace {

using namespace snaptest;

// The desk with a user at it: Inbox is dragged to the top of the primary
// display and held there, let go, then Memo is swiped left twice in one
// gesture (it ends up behind Inbox) and, after a pause, Inbox is swiped down.
std::string deskWithScript() {
  auto desk = nlohmann::ordered_json::parse(kDesk);
  desk["script"] = nlohmann::ordered_json::parse(R"([
    {"dragWindow": 21, "to": [700, 190], "steps": 8, "hold": true},
    {"wait": 0.2},
    {"release": "left"},
    {"trackpadScroll": [2000, 214], "fingers": [[-3, 0], [-3, 0], [-3, 0], [-3, 0], [-3, 0], [-3, 0], [-3, 0], [-3, 0]],
     "momentum": [[-1, 0]]},
    {"swipe": [1000, 215], "direction": "down", "distance": 12, "after": 0.5}
  ])");
  return desk.dump();
}

class ScriptedDesk : public SnapTest {
 protected:
  ScriptedDesk() : SnapTest(script_.c_str()) {
    controller->setDragWindowSnappingEnabled(true);
    controller->setScrollWindowSnappingEnabled(true);
  }
  static inline const std::string script_ = deskWithScript();
};

TEST_F(ScriptedDesk, AUserDragsAndSwipesWindowsIntoPlace) {
  auto parsed = sim::Scenario::parse(script_);
  ASSERT_TRUE(parsed);
  std::string error;
  auto script = sim::InputScript::parse(parsed->script, &error);
  ASSERT_TRUE(script) << error;

  // Held at the top: the overlay covers the primary display's visible area.
  sim::InputScript holding{{script->steps[0], script->steps[1]}};
  ASSERT_TRUE(holding.play(driver, &error)) << error;
  EXPECT_TRUE(overlayVisible());
  EXPECT_EQ(overlayFrame(), CGRect(0, 205, 1440, 875));

  sim::InputScript release{{script->steps[2]}};
  ASSERT_TRUE(release.play(driver, &error)) << error;
  EXPECT_EQ(frameOf(kInbox), CGRect(0, 205, 1440, 875));

  sim::InputScript rest{{script->steps.begin() + 3, script->steps.end()}};
  ASSERT_TRUE(rest.play(driver, &error)) << error;
  // Memo: the left half of its display, then the right half of the primary one.
  EXPECT_EQ(frameOf(kMemo), CGRect(720, 205, 720, 875));
  // Inbox swiped down on the display where it started: the frame it had
  // before the snap, where it was let go under the menu bar.
  EXPECT_EQ(frameOf(kInbox), CGRect(700 - 400, 205, 800, 500));
  EXPECT_EQ(analytics->events, (std::vector<std::string>{"windowSnapping_SnapMaximized"}));
  EXPECT_FALSE(overlayVisible());
  EXPECT_FALSE(controller->swipeState);
}

}  // namespace
