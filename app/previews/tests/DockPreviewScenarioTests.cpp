#include <gtest/gtest.h>

#include <string>

#include "app/previews/tests/CoordinatorTestSupport.h"
#include "platform/sim/InputScript.h"

namespace {

using namespace coordtest;

// A user at the desk: rests on Mail's icon, slides over to Notes, comes back
// to Mail, goes up into the panel and picks Drafts; then looks at Notes'
// preview and walks away from the Dock.
std::string deskWithScript() {
  auto desk = nlohmann::ordered_json::parse(kDockDesk);
  desk["script"] = nlohmann::ordered_json::parse(R"([
    {"move": [336, 865], "steps": 4},
    {"wait": 0.3},
    {"move": [398, 865], "steps": 3},
    {"_": "Notes' panel is up"},
    {"wait": 0.6},
    {"move": [336, 865], "steps": 3},
    {"_": "Mail's panel replaced it"},
    {"wait": 0.6},
    {"move": [800, 600], "steps": 1},
    {"_": "the pointer rests in the panel"},
    {"wait": 2.0},
    {"move": [1300, 865], "steps": 2},
    {"move": [398, 865], "steps": 6},
    {"wait": 0.6},
    {"move": [1300, 500], "steps": 5},
    {"_": "away from the Dock and the panel"},
    {"wait": 0.85},
    {"wait": 0.6}
  ])");
  return desk.dump();
}

class PreviewScenario : public CoordinatorTest {
 protected:
  PreviewScenario() : CoordinatorTest(script_.c_str()) {}
  static inline const std::string script_ = deskWithScript();

  void play(std::size_t from, std::size_t to) {
    std::string error;
    sim::InputScript part;
    part.steps.assign(script->steps.begin() + static_cast<long>(from), script->steps.begin() + static_cast<long>(to));
    ASSERT_TRUE(part.play(driver, &error)) << error;
    drain();
  }

  std::optional<sim::InputScript> script = [] {
    auto parsed = sim::Scenario::parse(script_);
    return parsed ? sim::InputScript::parse(parsed->script) : std::nullopt;
  }();
};

TEST_F(PreviewScenario, AUserBrowsesThePreviewsAndPicksAWindow) {
  ASSERT_TRUE(script);
  ASSERT_EQ(script->steps.size(), 14u);

  // Mail, then Notes before Mail's show: only Notes comes up.
  play(0, 4);
  EXPECT_EQ(panelApplication(), "Notes");
  // Back to Mail: its preview replaces Notes'.
  play(4, 6);
  EXPECT_EQ(panelApplication(), "Mail");
  const CGRect mailPanel = panel()->frame();

  // The pointer stays in the panel: it stays up.
  auto drafts = thumbnailPoint("Drafts");
  ASSERT_TRUE(drafts);
  script->steps[6].point = *drafts;
  play(6, 8);
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(panel()->frame(), mailPanel);
  EXPECT_EQ(coordinator->hoverState(), DockPreviewCoordinator::HoverState::hoverOverPreviewWindow());

  click(*drafts);
  advance(0.1);
  EXPECT_FALSE(panelShown());
  EXPECT_EQ(world.zOrder().front(), kDrafts);
  EXPECT_EQ(world.frontmostApplication(), kMail);

  // Across the Dock to Notes, then away.
  play(8, 11);
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(panelApplication(), "Notes");
  play(11, 13);
  EXPECT_TRUE(panelShown());
  play(13, 14);
  EXPECT_FALSE(panelShown());
  EXPECT_EQ(coordinator->mouseTracker->trackingMode(), DockPreviewMouseTracker::TrackingMode::dockOnly);
  EXPECT_EQ(telemetry->names(), (std::vector<std::string>{"dockPreview_SelectWindow"}));
}

}  // namespace
