#pragma once
// The timed input script of a scenario (its "script" list), played through
// the input driver. Each step is an object with one action and, optionally,
// "after": the seconds the user waits before it (through the driver's pump).
// Points are top-left, written [x, y] or {"x": .., "y": ..}; keys that start
// with "_" are comments, and a step of comments only is skipped.
//
//   {"wait": 0.5}
//   {"move": [x, y], "steps": 5}
//   {"press": "left"}            "left", "right" or "other"
//   {"release": "left"}
//   {"click": [x, y], "button": "right"}
//   {"dragWindow": 21, "to": [x, y], "steps": 10, "hold": true, "grabX": 40}
//                                hold: keep the button down at the end
//   {"scrollWheel": [x, y], "delta": [dx, dy], "notches": 3, "interval": 0.05}
//   {"trackpadScroll": [x, y], "fingers": [[dx, dy], ...], "momentum": [[dx, dy], ...]}
//   {"swipe": [x, y], "direction": "left", "fast": true, "distance": 60}
//   {"naturalScrolling": false}
//   {"snapshot": "preview-shown"}  hands the name to the player's snapshot sink
//
// A malformed script is refused as a whole with a message naming the place
// of the first problem ("script[2].to: expected a point").

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sim/InputDriver.h"

namespace sim {

struct InputStep {
  enum class Kind {
    wait,
    move,
    press,
    release,
    click,
    dragWindow,
    scrollWheel,
    trackpadScroll,
    swipe,
    naturalScrolling,
    snapshot
  };
  Kind kind = Kind::wait;
  double after = 0;  // seconds before the step
  double seconds = 0;  // wait
  CGPoint point{};     // move, click, scrolls and swipes: where; dragWindow: to
  int steps = 1;       // move, dragWindow
  MouseButton button = MouseButton::left;
  WindowID window = 0;
  bool release = true;  // dragWindow: false to hold the button at the end
  std::optional<double> grabX{};
  InputDriver::Delta delta{};
  int notches = 1;
  double interval = 0.05;
  std::vector<InputDriver::Delta> fingers{};
  std::vector<InputDriver::Delta> momentum{};
  InputDriver::SwipeDirection direction = InputDriver::SwipeDirection::left;
  bool fast = false;
  double distance = 60;
  bool natural = true;
  std::string name{};  // snapshot
};

struct InputScript {
  std::vector<InputStep> steps;

  static std::optional<InputScript> parse(const nlohmann::ordered_json& script, std::string* error = nullptr);
  // Receives each snapshot step's name; false stops the script.
  using SnapshotSink = std::function<bool(const std::string& name)>;

  // Plays the steps in order. Stops at a step that cannot be done (a drag of
  // a window that is not drawn or is covered, a snapshot the sink refuses) and
  // says which. Without a sink, snapshot steps are skipped.
  bool play(InputDriver& driver, std::string* error = nullptr, const SnapshotSink& snapshot = nullptr) const;
};

}  // namespace sim
