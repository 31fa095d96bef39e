#include <gtest/gtest.h>

#include <fstream>

#include "platform/foundation/TestSupport.h"
#include "platform/sim/Scenario.h"

namespace {

using sim::Scenario;
using sim::World;

const char* const kDesk = R"({
  "version": 1,
  "displays": [
    {"id": 1, "uuid": "6d2b7c1e-0000-4000-8000-000000000001", "name": "Built-in", "frame": [0, 0, 1440, 900],
     "visibleFrame": [0, 70, 1440, 805], "scale": 2,
     "spaces": [{"id": 1, "type": "user"}, {"id": 2, "type": "user"}, {"id": 3, "type": "fullscreen"}],
     "currentSpace": 1},
    {"id": 2, "frame": {"x": 1440, "y": 0, "width": 1920, "height": 1080},
     "spaces": [{"id": 10}], "currentSpace": 10}
  ],
  "windowServerDisplayOrder": [2, 1],
  "dock": {"pid": 90, "frame": [300, 1020, 840, 60],
           "items": [{"title": "Finder", "url": "file:///System/Library/CoreServices/Finder.app/",
                      "frame": [310, 1024, 52, 52]},
                     {"subrole": "AXTrashDockItem", "title": "Trash", "frame": [1070, 1024, 52, 52]}]},
  "applications": [
    {"pid": 501, "bundleIdentifier": "com.apple.finder", "name": "Finder",
     "bundleURL": "file:///System/Library/CoreServices/Finder.app/",
     "windows": [{"id": 11, "title": "Documents", "frame": [100, 200, 800, 600], "spaces": [1], "color": "#FF0000"},
                 {"id": 12, "title": "Downloads", "frame": [120, 220, 800, 600], "spaces": [2], "minimized": true}]},
    {"pid": 502, "bundleIdentifier": "com.example.Editor", "name": "Editor", "activationPolicy": "regular",
     "windows": [{"id": 21, "title": null, "subrole": "AXDialog", "frame": [1500, 300, 400, 300], "spaces": "all"}],
     "faults": {"responseDelay": 0.5, "attributes": {"AXTitle": {"error": "kAXErrorCannotComplete"}}}}
  ],
  "frontmost": 501,
  "zOrder": [21],
  "mouse": [700, 500],
  "script": [{"at": 0.5, "move": [1, 2]}],
  "snapshots": ["first"]
})";

std::string parseError(const std::string& text) {
  std::string error;
  EXPECT_FALSE(Scenario::parse(text, &error)) << text;
  return error;
}

TEST(Scenario, LoadsTheWorldItDescribes) {
  sim::ScopedScenario scenario(kDesk);
  World& w = scenario.world();

  auto displays = w.displays();
  ASSERT_EQ(displays.size(), 2u);
  EXPECT_EQ(displays[0].uuid, "6D2B7C1E-0000-4000-8000-000000000001");  // upper case, as the window server writes it
  EXPECT_EQ(displays[0].visibleFrame, CGRect(0, 70, 1440, 805));
  EXPECT_EQ(displays[0].currentSpace, 1u);
  EXPECT_EQ(displays[1].visibleFrame, CGRect(1440, 0, 1920, 1055));  // menu bar by default
  EXPECT_EQ(w.currentSpaces(), (std::vector<sim::SpaceID>{10, 1}));  // window-server order

  auto apps = w.runningApplications();
  ASSERT_EQ(apps.size(), 4u);  // this program, the Dock, Finder, Editor in launch order
  EXPECT_TRUE(apps[0].isSelf);
  EXPECT_TRUE(apps[1].isDock);
  EXPECT_EQ(apps[1].bundleIdentifier, "com.apple.dock");
  EXPECT_EQ(apps[2].pid, 501);
  EXPECT_EQ(apps[3].activationPolicy, sim::ActivationPolicy::Regular);
  EXPECT_EQ(w.frontmostApplication(), 501);
  EXPECT_EQ(w.dockPid(), 90);

  auto window = w.window(11);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->frame, CGRect(100, 200, 800, 600));  // top-left in, top-left out
  EXPECT_EQ(window->frameBL, CGRect(100, 1080 - 200 - 600, 800, 600));
  EXPECT_EQ(window->color, (img::Pixel{0xFF, 0, 0, 0xFF}));
  EXPECT_TRUE(w.window(21)->onAllSpaces);
  EXPECT_FALSE(w.window(21)->title);
  EXPECT_EQ(w.zOrder(), (std::vector<sim::WindowID>{21, 11, 12}));
  EXPECT_EQ(w.mouseLocationTopLeft(), (CGPoint{700, 500}));
  EXPECT_EQ(w.dockItems().size(), 2u);
  EXPECT_EQ(w.dockItems()[0].frame, CGRect(310, 1024, 52, 52));
}

TEST(Scenario, WindowColoursKeepTheirAlphaAndTakeOnlyHexDigits) {
  auto desk = [](const std::string& colour) {
    return R"({"applications": [{"pid": 5, "windows": [{"id": 1, "color": ")" + colour + R"("}]}]})";
  };
  const std::pair<const char*, img::Pixel> good[] = {{"#0a1B2c", {0x0A, 0x1B, 0x2C, 0xFF}},
                                                     {"#11223344", {0x11, 0x22, 0x33, 0x44}},
                                                     {"#FFFFFF00", {0xFF, 0xFF, 0xFF, 0}}};
  for (const auto& [text, pixel] : good) {
    auto scenario = Scenario::parse(desk(text));
    ASSERT_TRUE(scenario) << text;
    EXPECT_EQ(scenario->applications[0].windows[0].color, pixel) << text;
  }
  for (const char* bad : {"#1122334", "#112233445", "#112233GG", "11223344", "#FF0000-1", "# 1223344"}) {
    EXPECT_EQ(parseError(desk(bad)),
              "applications[0].windows[0].color: expected a colour \"#RRGGBB\" or \"#RRGGBBAA\"");
  }
}

TEST(Scenario, KeepsTheScriptAndSnapshotsAsRead) {
  auto scenario = Scenario::parse(kDesk);
  ASSERT_TRUE(scenario);
  EXPECT_EQ(scenario->script.dump(), R"([{"at":0.5,"move":[1,2]}])");
  EXPECT_EQ(scenario->snapshots.dump(), R"(["first"])");
}

TEST(Scenario, LoadingPostsOnlyTheReset) {
  std::vector<sim::Event::Kind> seen;
  auto token = World::shared().addObserver([&](const sim::Event& e) { seen.push_back(e.kind); });
  {
    sim::ScopedScenario scenario(kDesk);
    EXPECT_EQ(seen, (std::vector<sim::Event::Kind>{sim::Event::Kind::WorldReset}));
  }
}

TEST(Scenario, NamesThePlaceOfAProblem) {
  EXPECT_EQ(parseError(R"({"displays": [{"id": 1, "frame": [0,0,10,10], "colour": 1}]})"),
            "displays[0]: unknown key \"colour\"");
  EXPECT_EQ(parseError(R"({"applications": [{"pid": 5, "windows": [{"id": 1, "frame": [0,0,1]}]}]})"),
            "applications[0].windows[0].frame: expected 4 numbers");
  EXPECT_EQ(parseError(R"({"applications": [{"pid": 5, "windows": [{"id": 1, "spaces": [7]}]}]})"),
            "applications[0].windows[0].spaces[0]: no Space 7");
  EXPECT_EQ(parseError(R"({"applications": [{"pid": 5, "windows": [{"id": 1}]}, {"pid": 6, "windows": [{"id": 1}]}]})"),
            "applications[1].windows[0].id: window 1 is listed twice");
  EXPECT_EQ(parseError(R"({"applications": [{"pid": 5}, {"pid": 5}]})"),
            "applications[1].pid: process 5 is listed twice");
  EXPECT_EQ(parseError(R"({"applications": [{"pid": 100}]})"), "applications[0].pid: process 100 is listed twice");
  EXPECT_EQ(parseError(R"({"displays": [{"id": 1, "frame": [0,0,10,10], "spaces": [{"id": 1}], "currentSpace": 2}]})"),
            "displays[0].currentSpace: not one of the display's Spaces");
  EXPECT_EQ(parseError(R"({"version": 2})"), "version: unsupported version 2");
  EXPECT_EQ(parseError(R"({"frontmost": 77})"), "frontmost: no process 77");
  EXPECT_EQ(parseError(R"({"applications": [{"pid": 5, "windows": [{"id": 1, "color": "red"}]}]})"),
            "applications[0].windows[0].color: expected a colour \"#RRGGBB\" or \"#RRGGBBAA\"");
  EXPECT_EQ(parseError(R"({"applications": [{"pid": 5, "faults": {"attributes": {"AXTitle": {"error": 1, "value": 2}}}}]})"),
            "applications[0].faults.attributes.AXTitle: give exactly one of \"error\" and \"value\"");
  EXPECT_EQ(parseError(R"({"applications": [{"pid": 5, "bundleURL": "not a url"}]})"),
            "applications[0].bundleURL: not a valid URL: \"not a url\"");
  EXPECT_EQ(parseError(R"({"applications": [{"pid": -3}]})"), "applications[0].pid: expected a positive process id");
  EXPECT_EQ(parseError(R"([1, 2])"), "scenario: expected an object");
  EXPECT_NE(parseError(R"({"displays": [)").find("not valid JSON"), std::string::npos);
}

TEST(Scenario, IgnoresCommentKeys) {
  EXPECT_TRUE(Scenario::parse(R"({"_comment": "two displays", "displays": [{"id": 1, "_note": 1, "frame": [0,0,10,10]}]})"));
}

TEST(Scenario, LoadsFromAFileAndReportsAMissingOne) {
  ns::test::TemporaryDirectory dir;
  const std::string path = dir.file("desk.json");
  std::ofstream(path) << kDesk;
  std::string error;
  EXPECT_TRUE(Scenario::load(path, &error)) << error;
  EXPECT_FALSE(Scenario::load(dir.file("missing.json"), &error));
  EXPECT_EQ(error, dir.file("missing.json") + ": cannot be read");
  std::ofstream(path) << "{\"displays\": 3}";
  EXPECT_FALSE(Scenario::load(path, &error));
  EXPECT_EQ(error, path + ": displays: expected an array");
}

TEST(Scenario, TypedFaultValuesBecomeTheValuesTheyName) {
  auto scenario = Scenario::parse(R"({"applications": [{"pid": 5, "faults": {"windowAttributes": {
      "AXPosition": {"value": [3, 4], "type": "size"},
      "AXSize": {"value": "big"},
      "AXURL": {"value": "https://example.com/", "type": "url"}}}}]})");
  ASSERT_TRUE(scenario);
  const auto& faults = scenario->applications[0].faults.windowAttributes;
  auto position = faults.at("AXPosition").value->objectAs<sim::AXValueObject>();
  ASSERT_TRUE(position);
  EXPECT_EQ(position->type, sim::AXValueType::CGSize);
  EXPECT_EQ(*faults.at("AXSize").value, ns::Value("big"));
  EXPECT_TRUE(faults.at("AXURL").value->objectAs<sim::URLObject>());
}

}  // namespace
