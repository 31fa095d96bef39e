#pragma once
// A scenario: the world of the simulated desktop as a JSON document
// (displays and their Spaces, applications and their windows, the Dock,
// permissions and faults), loaded by tests and by `morvalent --scenario`.
// The format is described in docs/scenario.md.
//
// The input script and the snapshot points ("script", "snapshots"), the
// music players ("players") and the program's preferences ("preferences")
// are kept as read, for the code that plays them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sim/World.h"

namespace sim {

struct Scenario {
  int version = 1;
  bool accessibilityTrusted = true;
  bool screenCaptureAllowed = true;
  std::optional<OperatingSystemVersion> osVersion;  // the world's default when absent
  std::vector<DisplaySpec> displays;
  std::vector<DisplayID> windowServerDisplayOrder;
  std::optional<ApplicationSpec> self;
  std::optional<DockSpec> dock;
  std::vector<ApplicationSpec> applications;
  std::optional<pid_t> frontmost;
  std::vector<WindowID> zOrder;  // front to back; unlisted windows follow in file order
  std::optional<CGPoint> mouse;  // top-left
  std::optional<std::uint64_t> hashBuckets;
  bool copySpacesFails = false;
  bool managedDisplaySpacesFails = false;
  ns::Array managedDisplaySpacesExtra;  // appended to the window server's display list as they are
  nlohmann::ordered_json script = nlohmann::ordered_json::array();
  nlohmann::ordered_json snapshots = nlohmann::ordered_json::array();
  // The music players (an object, for the scripting layer's players) and the
  // program's own preferences (an object of key and value), kept as read for
  // the program that runs the scenario; null when absent.
  nlohmann::ordered_json players;
  nlohmann::ordered_json preferences;

  // nullopt with a message naming the place of the first problem
  // ("applications[1].windows[0].frame: ...").
  static std::optional<Scenario> parse(std::string_view json, std::string* error = nullptr);
  static std::optional<Scenario> load(const std::string& path, std::string* error = nullptr);

  // Replaces the world's contents with the scenario. Loading posts no
  // notifications but one reset event.
  void apply(World& world = World::shared()) const;
};

// For tests: loads a scenario into the shared world for the life of the
// object and empties the world afterwards. Aborts on a malformed scenario.
class ScopedScenario {
 public:
  explicit ScopedScenario(std::string_view json);
  ~ScopedScenario();
  ScopedScenario(const ScopedScenario&) = delete;
  ScopedScenario& operator=(const ScopedScenario&) = delete;
  World& world() const { return World::shared(); }
};

}  // namespace sim
