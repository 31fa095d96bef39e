#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/InputScript.h"
#include "platform/sim/Scenario.h"

namespace {

const char* const kScriptedDesk = R"({
  "displays": [{"id": 1, "frame": [0, 0, 1440, 900]}],
  "applications": [
    {"pid": 502, "name": "Mail", "windows": [{"id": 21, "title": "Inbox", "frame": [100, 100, 600, 400]}]}
  ],
  "mouse": [50, 600],
  "script": [
    {"_": "drag Inbox down and to the right, then scroll and swipe on it"},
    {"dragWindow": 21, "to": [500, 300], "steps": 4},
    {"scrollWheel": [500, 300], "delta": [0, 1], "notches": 2, "after": 0.5},
    {"swipe": {"x": 500, "y": 300}, "direction": "left", "fast": true, "distance": 20},
    {"naturalScrolling": false},
    {"trackpadScroll": [500, 300], "fingers": [[3, 0]]},
    {"click": [10, 10], "button": "right"},
    {"wait": 1}
  ]
})";

class InputScriptTest : public ::testing::Test {
 protected:
  sim::ScopedScenario scenario{kScriptedDesk};
  sim::InputDriver& driver = sim::InputDriver::shared();
  std::vector<sim::InputEvent> events;
  double waited = 0;
  ns::ObserverToken tap = driver.addTapSink(std::nullopt, ~0ull, [this](const sim::InputEvent& e) { events.push_back(e); });

  InputScriptTest() {
    driver.setPump([this](double s) { waited += s; });
  }
  ~InputScriptTest() override {
    driver.setPump(nullptr);
    driver.setNaturalScrolling(true);
  }

  static std::string problem(const char* json) {
    std::string error;
    EXPECT_FALSE(sim::InputScript::parse(nlohmann::ordered_json::parse(json), &error));
    return error;
  }
};

TEST_F(InputScriptTest, PlaysAScenariosScript) {
  auto parsed = sim::Scenario::parse(kScriptedDesk);
  ASSERT_TRUE(parsed);
  std::string error;
  auto script = sim::InputScript::parse(parsed->script, &error);
  ASSERT_TRUE(script) << error;
  ASSERT_EQ(script->steps.size(), 7u);
  ASSERT_TRUE(script->play(driver, &error)) << error;

  EXPECT_EQ(scenario.world().window(21)->frame, CGRect(100 + 100, 100 + 186, 600, 400));
  std::size_t wheels = 0, continuous = 0, rightDowns = 0;
  for (const auto& e : events) {
    if (e.type == sim::InputEventType::scrollWheel) (e.continuous ? continuous : wheels)++;
    if (e.type == sim::InputEventType::rightMouseDown) ++rightDowns;
  }
  EXPECT_EQ(wheels, 2u);
  EXPECT_EQ(continuous, 4u + 4 + 2);  // the swipe (3 finger events and their end, 3 momentum events and theirs), then 1 and its end
  EXPECT_EQ(rightDowns, 1u);
  EXPECT_FALSE(driver.naturalScrolling());
  EXPECT_GE(waited, 1.5);
  // The last trackpad scroll was made without natural scrolling: reversed deltas.
  const auto& lastFinger = events[events.size() - 5];
  EXPECT_TRUE(lastFinger.continuous);
  EXPECT_EQ(lastFinger.scrollDeltaX, -3);
  EXPECT_FALSE(lastFinger.directionInvertedFromDevice);
}

TEST_F(InputScriptTest, ADragOfAWindowThatIsNotDrawnStopsThePlay) {
  auto script = sim::InputScript::parse(nlohmann::ordered_json::parse(R"([{"dragWindow": 99, "to": [1, 1]},
                                                                          {"click": [5, 5]}])"));
  ASSERT_TRUE(script);
  std::string error;
  EXPECT_FALSE(script->play(driver, &error));
  EXPECT_EQ(error, "script[0]: window 99 is not drawn or its title bar is covered");
  EXPECT_TRUE(events.empty());
}

TEST_F(InputScriptTest, SnapshotStepsReachTheSinkInOrder) {
  auto script = sim::InputScript::parse(nlohmann::ordered_json::parse(R"([{"snapshot": "before"},
                                                                          {"click": [5, 5]},
                                                                          {"snapshot": "after", "after": 0.5}])"));
  ASSERT_TRUE(script);
  std::vector<std::pair<std::string, std::size_t>> taken;
  std::string error;
  ASSERT_TRUE(script->play(driver, &error, [&](const std::string& name) {
    taken.emplace_back(name, events.size());
    return true;
  })) << error;
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0], (std::pair<std::string, std::size_t>{"before", 0}));
  EXPECT_EQ(taken[1].first, "after");
  EXPECT_GT(taken[1].second, 0u) << "the click came before the second snapshot";
  EXPECT_GE(waited, 0.5);
  // Without a sink the steps are skipped; a refusing sink stops the script.
  EXPECT_TRUE(script->play(driver, &error));
  EXPECT_FALSE(script->play(driver, &error, [](const std::string&) { return false; }));
  EXPECT_EQ(error, "script[0]: snapshot \"before\" could not be taken");
}

TEST_F(InputScriptTest, MalformedScriptsAreRefusedWithThePlace) {
  EXPECT_EQ(problem(R"({"move": [1, 2]})"), "script: expected a list of steps");
  EXPECT_EQ(problem(R"([{"move": [1, 2]}, {"move": [1]}])"), "script[1].move: expected a point");
  EXPECT_EQ(problem(R"([{"move": [1, 2], "click": [1, 2]}])"), "script[0]: more than one action (move, click)");
  EXPECT_EQ(problem(R"([{"after": 1}])"), "script[0]: no action");
  EXPECT_EQ(problem(R"([{"jump": 1}])"), "script[0].jump: unknown key");
  EXPECT_EQ(problem(R"([{"move": [1, 2], "fast": true}])"), "script[0].fast: not an option of move");
  EXPECT_EQ(problem(R"([{"press": "middle"}])"), "script[0].press: expected \"left\", \"right\" or \"other\"");
  EXPECT_EQ(problem(R"([{"dragWindow": 21}])"), "script[0]: dragWindow needs \"to\"");
  EXPECT_EQ(problem(R"([{"dragWindow": -1, "to": [1, 1]}])"), "script[0].dragWindow: expected a window id");
  EXPECT_EQ(problem(R"([{"wait": -1}])"), "script[0].wait: expected a number not below 0");
  EXPECT_EQ(problem(R"([{"move": [1, 2], "steps": 0}])"), "script[0].steps: expected a whole number from 1 to 100000");
  EXPECT_EQ(problem(R"([{"swipe": [1, 2], "direction": "sideways"}])"),
            "script[0].direction: expected \"left\", \"right\", \"up\" or \"down\"");
  EXPECT_EQ(problem(R"([{"trackpadScroll": [1, 2]}])"), "script[0]: trackpadScroll needs \"fingers\" or \"momentum\"");
  EXPECT_EQ(problem(R"([{"scrollWheel": [1, 2], "delta": "down"}])"), "script[0].delta: expected a point");
  EXPECT_EQ(problem(R"([3])"), "script[0]: expected an object");
  EXPECT_EQ(problem(R"([{"snapshot": "a/b"}])"), "script[0].snapshot: expected a name (no slashes)");
  EXPECT_EQ(problem(R"([{"snapshot": ""}])"), "script[0].snapshot: expected a name (no slashes)");
}

}  // namespace
