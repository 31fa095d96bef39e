#include "platform/sim/InputScript.h"

#include <cmath>
#include <map>
#include <set>
#include <stdexcept>

namespace sim {

namespace {

using json = nlohmann::ordered_json;

struct Problem : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& where, const std::string& what) { throw Problem(where + ": " + what); }

double number(const json& v, const std::string& where) {
  if (!v.is_number()) fail(where, "expected a number");
  const double d = v.get<double>();
  if (!std::isfinite(d)) fail(where, "expected a finite number");
  return d;
}

double nonNegative(const json& v, const std::string& where) {
  const double d = number(v, where);
  if (d < 0) fail(where, "expected a number not below 0");
  return d;
}

int count(const json& v, const std::string& where, int minimum) {
  if (!v.is_number_integer()) fail(where, "expected a whole number");
  const auto n = v.get<long long>();
  if (n < minimum || n > 100000) fail(where, "expected a whole number from " + std::to_string(minimum) + " to 100000");
  return static_cast<int>(n);
}

bool boolean(const json& v, const std::string& where) {
  if (!v.is_boolean()) fail(where, "expected true or false");
  return v.get<bool>();
}

CGPoint point(const json& v, const std::string& where) {
  if (v.is_array()) {
    if (v.size() != 2) fail(where, "expected a point");
    return CGPoint{number(v[0], where), number(v[1], where)};
  }
  if (v.is_object() && v.size() == 2 && v.contains("x") && v.contains("y")) {
    return CGPoint{number(v["x"], where + ".x"), number(v["y"], where + ".y")};
  }
  fail(where, "expected a point");
}

InputDriver::Delta delta(const json& v, const std::string& where) {
  const CGPoint p = point(v, where);
  return InputDriver::Delta{p.x, p.y};
}

std::vector<InputDriver::Delta> deltas(const json& v, const std::string& where) {
  if (!v.is_array()) fail(where, "expected a list of deltas");
  std::vector<InputDriver::Delta> out;
  for (std::size_t i = 0; i < v.size(); ++i) out.push_back(delta(v[i], where + "[" + std::to_string(i) + "]"));
  return out;
}

MouseButton button(const json& v, const std::string& where) {
  if (v == "left") return MouseButton::left;
  if (v == "right") return MouseButton::right;
  if (v == "other") return MouseButton::other;
  fail(where, "expected \"left\", \"right\" or \"other\"");
}

InputDriver::SwipeDirection direction(const json& v, const std::string& where) {
  if (v == "left") return InputDriver::SwipeDirection::left;
  if (v == "right") return InputDriver::SwipeDirection::right;
  if (v == "up") return InputDriver::SwipeDirection::up;
  if (v == "down") return InputDriver::SwipeDirection::down;
  fail(where, "expected \"left\", \"right\", \"up\" or \"down\"");
}

bool isCommentOnly(const json& v) {
  if (!v.is_object() || v.empty()) return false;
  for (const auto& [key, value] : v.items()) {
    if (key.empty() || key[0] != '_') return false;
  }
  return true;
}

InputStep parseStep(const json& v, const std::string& where) {
  if (!v.is_object()) fail(where, "expected an object");
  static const std::set<std::string> actions{"wait",          "move",        "press",          "release",
                                             "click",         "dragWindow",  "scrollWheel",    "trackpadScroll",
                                             "swipe",         "naturalScrolling", "snapshot"};
  static const std::set<std::string> options{"after",   "steps",    "button",   "to",       "hold",    "grabX",
                                             "delta",   "notches",  "interval", "fingers",  "momentum",
                                             "direction", "fast",   "distance"};
  std::optional<std::string> action;
  for (const auto& [key, value] : v.items()) {
    if (!key.empty() && key[0] == '_') continue;
    if (actions.count(key)) {
      if (action) fail(where, "more than one action (" + *action + ", " + key + ")");
      action = key;
    } else if (!options.count(key)) {
      fail(where + "." + key, "unknown key");
    }
  }
  if (!action) fail(where, "no action");

  // Options that the action does not take are mistakes too.
  static const std::map<std::string, std::set<std::string>> allowed{
      {"wait", {}},
      {"move", {"steps"}},
      {"press", {}},
      {"release", {}},
      {"click", {"button"}},
      {"dragWindow", {"to", "steps", "hold", "grabX"}},
      {"scrollWheel", {"delta", "notches", "interval"}},
      {"trackpadScroll", {"fingers", "momentum", "interval"}},
      {"swipe", {"direction", "fast", "distance"}},
      {"naturalScrolling", {}},
      {"snapshot", {}},
  };
  for (const auto& [key, value] : v.items()) {
    if (key.empty() || key[0] == '_' || key == *action || key == "after") continue;
    if (!allowed.at(*action).count(key)) fail(where + "." + key, "not an option of " + *action);
  }

  InputStep s;
  if (v.contains("after")) s.after = nonNegative(v["after"], where + ".after");
  const json& a = v[*action];
  const std::string at = where + "." + *action;
  auto opt = [&](const char* key) -> const json* { return v.contains(key) ? &v[key] : nullptr; };

  if (*action == "wait") {
    s.kind = InputStep::Kind::wait;
    s.seconds = nonNegative(a, at);
  } else if (*action == "move") {
    s.kind = InputStep::Kind::move;
    s.point = point(a, at);
    if (auto o = opt("steps")) s.steps = count(*o, where + ".steps", 1);
  } else if (*action == "press" || *action == "release") {
    s.kind = *action == "press" ? InputStep::Kind::press : InputStep::Kind::release;
    s.button = button(a, at);
  } else if (*action == "click") {
    s.kind = InputStep::Kind::click;
    s.point = point(a, at);
    if (auto o = opt("button")) s.button = button(*o, where + ".button");
  } else if (*action == "dragWindow") {
    s.kind = InputStep::Kind::dragWindow;
    if (!a.is_number_integer() || a.get<long long>() < 1 || a.get<long long>() > 0xFFFFFFFFll) {
      fail(at, "expected a window id");
    }
    s.window = static_cast<WindowID>(a.get<long long>());
    auto to = opt("to");
    if (!to) fail(where, "dragWindow needs \"to\"");
    s.point = point(*to, where + ".to");
    if (auto o = opt("steps")) s.steps = count(*o, where + ".steps", 1);
    if (auto o = opt("hold")) s.release = !boolean(*o, where + ".hold");
    if (auto o = opt("grabX")) s.grabX = nonNegative(*o, where + ".grabX");
  } else if (*action == "scrollWheel") {
    s.kind = InputStep::Kind::scrollWheel;
    s.point = point(a, at);
    auto d = opt("delta");
    if (!d) fail(where, "scrollWheel needs \"delta\"");
    s.delta = delta(*d, where + ".delta");
    if (auto o = opt("notches")) s.notches = count(*o, where + ".notches", 1);
    if (auto o = opt("interval")) s.interval = nonNegative(*o, where + ".interval");
  } else if (*action == "trackpadScroll") {
    s.kind = InputStep::Kind::trackpadScroll;
    s.point = point(a, at);
    s.interval = 1.0 / 60;
    if (auto o = opt("fingers")) s.fingers = deltas(*o, where + ".fingers");
    if (auto o = opt("momentum")) s.momentum = deltas(*o, where + ".momentum");
    if (auto o = opt("interval")) s.interval = nonNegative(*o, where + ".interval");
    if (s.fingers.empty() && s.momentum.empty()) fail(where, "trackpadScroll needs \"fingers\" or \"momentum\"");
  } else if (*action == "swipe") {
    s.kind = InputStep::Kind::swipe;
    s.point = point(a, at);
    auto d = opt("direction");
    if (!d) fail(where, "swipe needs \"direction\"");
    s.direction = direction(*d, where + ".direction");
    if (auto o = opt("fast")) s.fast = boolean(*o, where + ".fast");
    if (auto o = opt("distance")) {
      s.distance = number(*o, where + ".distance");
      if (s.distance <= 0 || s.distance > 100000) fail(where + ".distance", "expected a number above 0");
    }
  } else if (*action == "snapshot") {
    s.kind = InputStep::Kind::snapshot;
    if (!a.is_string() || a.get<std::string>().empty() ||
        a.get<std::string>().find_first_of("/\\") != std::string::npos) {
      fail(at, "expected a name (no slashes)");
    }
    s.name = a.get<std::string>();
  } else {
    s.kind = InputStep::Kind::naturalScrolling;
    s.natural = boolean(a, at);
  }
  return s;
}

}  // namespace

std::optional<InputScript> InputScript::parse(const nlohmann::ordered_json& script, std::string* error) {
  try {
    if (!script.is_array()) fail("script", "expected a list of steps");
    InputScript out;
    for (std::size_t i = 0; i < script.size(); ++i) {
      if (isCommentOnly(script[i])) continue;
      out.steps.push_back(parseStep(script[i], "script[" + std::to_string(i) + "]"));
    }
    return out;
  } catch (const Problem& p) {
    if (error) *error = p.what();
    return std::nullopt;
  }
}

bool InputScript::play(InputDriver& driver, std::string* error, const SnapshotSink& snapshot) const {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const InputStep& s = steps[i];
    if (s.after > 0) driver.wait(s.after);
    switch (s.kind) {
      case InputStep::Kind::wait: driver.wait(s.seconds); break;
      case InputStep::Kind::move: driver.moveTo(s.point, s.steps); break;
      case InputStep::Kind::press: driver.press(s.button); break;
      case InputStep::Kind::release: driver.release(s.button); break;
      case InputStep::Kind::click: driver.click(s.point, s.button); break;
      case InputStep::Kind::dragWindow:
        if (!driver.dragWindowByTitleBar(s.window, s.point, {s.steps, s.release, s.grabX})) {
          if (error) {
            *error = "script[" + std::to_string(i) + "]: window " + std::to_string(s.window) +
                     " is not drawn or its title bar is covered";
          }
          return false;
        }
        break;
      case InputStep::Kind::scrollWheel:
        driver.scrollWheel(s.point, s.delta.x, s.delta.y, s.notches, s.interval);
        break;
      case InputStep::Kind::trackpadScroll: driver.trackpadScroll(s.point, s.fingers, s.momentum, s.interval); break;
      case InputStep::Kind::swipe: driver.swipe(s.point, s.direction, s.fast, s.distance); break;
      case InputStep::Kind::naturalScrolling: driver.setNaturalScrolling(s.natural); break;
      case InputStep::Kind::snapshot:
        if (snapshot && !snapshot(s.name)) {
          if (error) *error = "script[" + std::to_string(i) + "]: snapshot \"" + s.name + "\" could not be taken";
          return false;
        }
        break;
    }
  }
  return true;
}

}  // namespace sim
