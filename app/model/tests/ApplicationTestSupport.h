#pragma once
// The desktop the application tests work on, and helpers to drive the
// controllers and the repository over it.
//
// Two displays side by side with three Spaces: the left display has Spaces 1
// (current) and 2, the right one Space 10. Finder, Mail and Safari are regular
// applications with windows on every Space; Meter is a menu-bar application.
// This program has a bundle of its own at /Applications/Morvalent.app.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/model/ApplicationController.h"
#include "app/model/ApplicationRepository.h"
#include "app/model/tests/ModelTestSupport.h"
#include "app/preferences/Preferences.h"
#include "platform/appkit/NSRunningApplication.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestSupport.h"
#include "platform/sim/Scenario.h"

namespace apptest {

inline constexpr pid_t kSelf = 100;
inline constexpr pid_t kDock = 90;
inline constexpr pid_t kFinder = 501;
inline constexpr pid_t kMail = 502;
inline constexpr pid_t kSafari = 503;
inline constexpr pid_t kMeter = 504;
inline constexpr const char* kOwnBundlePath = "/Applications/Morvalent.app";
inline constexpr const char* kLeftDisplay = "11111111-1111-4111-8111-111111111111";
inline constexpr const char* kRightDisplay = "22222222-2222-4222-8222-222222222222";

// Front to back: Inbox, Documents, News (all Spaces), Send Later (right
// display), Colors (a floating panel), then Downloads and Start on Space 2.
inline const char* const kDesk = R"({
  "displays": [
    {"id": 1, "uuid": "11111111-1111-4111-8111-111111111111", "frame": [0, 0, 1440, 900],
     "spaces": [{"id": 1}, {"id": 2}], "currentSpace": 1},
    {"id": 2, "uuid": "22222222-2222-4222-8222-222222222222", "frame": [1440, 0, 1920, 1080],
     "spaces": [{"id": 10}], "currentSpace": 10}
  ],
  "self": {"pid": 100, "bundleIdentifier": "com.morvalent.Morvalent", "bundleURL": "file:///Applications/Morvalent.app/",
           "name": "Morvalent", "activationPolicy": "accessory"},
  "dock": {"pid": 90, "frame": [300, 1020, 840, 60], "items": [
    {"title": "Finder", "url": "file:///System/Library/CoreServices/Finder.app/", "frame": [310, 1024, 52, 52]},
    {"title": "Mail", "url": "file:///System/Applications/Mail.app/", "frame": [370, 1024, 52, 52]},
    {"title": "Safari", "url": "file:///Applications/Safari.app/", "frame": [430, 1024, 52, 52]}]},
  "applications": [
    {"pid": 501, "bundleIdentifier": "com.apple.finder", "bundleURL": "file:///System/Library/CoreServices/Finder.app/",
     "name": "Finder",
     "windows": [{"id": 11, "title": "Documents", "frame": [100, 300, 600, 400], "spaces": [1]},
                 {"id": 12, "title": "Downloads", "frame": [200, 350, 640, 420], "spaces": [2]}]},
    {"pid": 502, "bundleIdentifier": "com.apple.mail", "bundleURL": "file:///System/Applications/Mail.app/", "name": "Mail",
     "windows": [{"id": 21, "title": "Inbox", "frame": [300, 250, 700, 500], "spaces": [1]},
                 {"id": 22, "title": "Send Later", "subrole": "AXDialog", "frame": [1600, 100, 400, 300], "spaces": [10]},
                 {"id": 23, "title": "Colors", "subrole": "AXFloatingWindow", "frame": [1100, 300, 200, 200], "spaces": [1]}]},
    {"pid": 503, "bundleIdentifier": "com.apple.Safari", "bundleURL": "file:///Applications/Safari.app/", "name": "Safari",
     "windows": [{"id": 31, "title": "Start", "frame": [150, 260, 800, 600], "spaces": [2]},
                 {"id": 32, "title": "News", "frame": [1700, 200, 900, 600], "spaces": "all"}]},
    {"pid": 504, "bundleIdentifier": "com.example.meter", "name": "Meter", "activationPolicy": "accessory"}
  ],
  "frontmost": 502,
  "zOrder": [21, 11, 32, 22, 23, 12, 31]
})";

// The window numbers of a list of elements, in order.
inline std::vector<std::uint64_t> ids(const std::vector<AXUIElementWrapper>& elements) {
  std::vector<std::uint64_t> out;
  for (const auto& e : elements) out.push_back(e.element->id.id);
  return out;
}

inline AXUIElementWrapper window(pid_t pid, std::uint32_t id) {
  return AXUIElementWrapper(std::make_shared<ax::AXUIElement>(sim::ElementID{pid, sim::ElementKind::Window, id}));
}

inline std::shared_ptr<appkit::NSRunningApplication> application(pid_t pid) {
  return appkit::NSRunningApplication::runningApplicationWithProcessIdentifier(pid);
}

// Runs a task on the main actor until the scheduler is idle, then lets
// `seconds` pass; whether it ended.
inline bool runTask(std::function<conc::Task<void>()> make, double seconds = 0) {
  auto done = std::make_shared<bool>(false);
  conc::spawnOnMain([make, done]() -> conc::Task<void> {
    auto task = make();
    co_await std::move(task);
    *done = true;
  });
  modeltest::drain();
  if (seconds > 0) dispatch::Scheduler::shared().advance(seconds);
  return *done;
}

template <class T>
std::optional<T> result(std::function<conc::Task<T>()> make) {
  auto r = modeltest::start<T>(std::move(make));
  modeltest::drain();
  return r->has_value() ? std::optional<T>(std::move(**r)) : std::nullopt;
}

// Every Accessibility call, as "<pid>:<kind>:<name>:<element id>".
class CallLog {
 public:
  explicit CallLog(sim::World& world) {
    world.setAccessibilityCallHook([calls = calls_](const sim::AccessibilityCall& call) {
      calls->push_back(std::to_string(call.element.pid) + ":" + kind(call.kind) + ":" + call.name + ":" +
                       std::to_string(call.element.id));
    });
  }
  const std::vector<std::string>& calls() const { return *calls_; }
  std::size_t count(const std::string& prefix) const {
    return static_cast<std::size_t>(std::count_if(calls_->begin(), calls_->end(),
                                                  [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
  }
  std::vector<std::string> matching(const std::string& part) const {
    std::vector<std::string> out;
    for (const auto& c : *calls_) {
      if (c.find(part) != std::string::npos) out.push_back(c);
    }
    return out;
  }
  void clear() { calls_->clear(); }

 private:
  static std::string kind(sim::AccessibilityCall::Kind k) {
    using K = sim::AccessibilityCall::Kind;
    switch (k) {
      case K::CopyAttribute: return "get";
      case K::SetAttribute: return "set";
      case K::IsSettable: return "settable";
      case K::PerformAction: return "action";
      case K::GetWindow: return "window";
      case K::HitTest: return "hit";
    }
    return "?";
  }
  std::shared_ptr<std::vector<std::string>> calls_ = std::make_shared<std::vector<std::string>>();
};

// The fixture: virtual clock, fresh preferences, this program's bundle, the desk.
class DeskTest : public ::testing::Test {
 protected:
  explicit DeskTest(const char* scenario = kDesk) : scenario_(scenario) {}

  dispatch::VirtualClockScope clock;
  ns::test::ScopedStandardDefaults defaults;
  std::shared_ptr<ns::Bundle> previousBundle = ns::Bundle::main();
  bool bundleInstalled = (ns::Bundle::setMain(ns::Bundle::withInfoDictionary(
                              ns::Dictionary{{"CFBundleIdentifier", ns::Value(ns::kMainBundleIdentifier)},
                                             {"CFBundleName", ns::Value("Morvalent")}},
                              std::string(kOwnBundlePath))),
                          true);
  sim::ScopedScenario scenario_;
  sim::World& world = sim::World::shared();
  ns::LogCapture log;

  ~DeskTest() override {
    // Everything started must have ended: a suspended task would leak.
    dispatch::Scheduler::shared().advance(60);
    ns::Bundle::setMain(previousBundle);
  }

  void loggingModules(std::vector<std::string> names) {
    ns::Array list;
    for (auto& n : names) list.push_back(ns::Value(n));
    defaults->setObject(diagnostics::kLoggingModulesKey, ns::Value(list));
  }
  void minimizeFinderWindows(bool on) { MorvalentDefaults(defaults.get()).setMinimizeFinderWindowsEnabled(on); }

  static void drain() { modeltest::drain(); }
  static void advance(double seconds) { dispatch::Scheduler::shared().advance(seconds); }
  static double now() { return static_cast<double>(dispatch::now()) / 1e9; }
};

}  // namespace apptest
