#pragma once
// The desktop the snapping tests work on and the fixture that drives it with
// the input driver under the virtual clock.
//
// Two displays side by side: the primary 1440 x 900 (visible frame 0, 0,
// 1440, 875 below its menu bar) with user Spaces 1 (current) and 2 and a
// full-screen Space 3; on its right a taller 1920 x 1080 display with Space
// 10. Top-left coordinates use H = 1080, so the primary display spans y 180
// to 1080 and its visible area is (0, 205, 1440, 875); the right display's is
// (1440, 25, 1920, 1055).
//
// Mail has "Inbox" on the primary display and "Drafts" (not resizable);
// Notes has "Memo" on the right display; Safari has "Video" on the
// full-screen Space.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/model/ApplicationController.h"
#include "app/model/ApplicationRepository.h"
#include "app/model/tests/DeskTestSupport.h"
#include "app/model/tests/ModelTestSupport.h"
#include "app/snapping/SnapAnalytics.h"
#include "app/snapping/SnapController.h"
#include "app/snapping/SnapPreviewWindowController.h"
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSRunningApplication.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/events/CGEvent.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestSupport.h"
#include "platform/sim/InputDriver.h"
#include "platform/sim/Scenario.h"

namespace snaptest {

inline constexpr pid_t kMail = 502;
inline constexpr pid_t kNotes = 503;
inline constexpr pid_t kSafari = 504;
inline constexpr std::uint32_t kInbox = 21;
inline constexpr std::uint32_t kDrafts = 22;
inline constexpr std::uint32_t kMemo = 31;
inline constexpr std::uint32_t kVideo = 41;

inline const char* const kDesk = R"({
  "displays": [
    {"id": 1, "uuid": "11111111-1111-4111-8111-111111111111", "frame": [0, 0, 1440, 900],
     "visibleFrame": [0, 0, 1440, 875],
     "spaces": [{"id": 1}, {"id": 2}, {"id": 3, "type": "fullscreen"}], "currentSpace": 1},
    {"id": 2, "uuid": "22222222-2222-4222-8222-222222222222", "frame": [1440, 0, 1920, 1080],
     "spaces": [{"id": 10}], "currentSpace": 10}
  ],
  "self": {"pid": 100, "bundleIdentifier": "com.morvalent.Morvalent", "name": "Morvalent"},
  "dock": {"pid": 90, "frame": [300, 1020, 840, 60], "items": []},
  "applications": [
    {"pid": 502, "bundleIdentifier": "com.apple.mail", "bundleURL": "file:///System/Applications/Mail.app/",
     "name": "Mail",
     "windows": [{"id": 21, "title": "Inbox", "frame": [200, 400, 800, 500], "spaces": [1]},
                 {"id": 22, "title": "Drafts", "frame": [300, 920, 400, 90], "spaces": [1], "resizable": false}]},
    {"pid": 503, "bundleIdentifier": "com.apple.Notes", "bundleURL": "file:///System/Applications/Notes.app/",
     "name": "Notes",
     "windows": [{"id": 31, "title": "Memo", "frame": [1700, 200, 900, 600], "spaces": [10]}]},
    {"pid": 504, "bundleIdentifier": "com.apple.Safari", "bundleURL": "file:///Applications/Safari.app/",
     "name": "Safari",
     "windows": [{"id": 41, "title": "Video", "frame": [0, 205, 1440, 875], "spaces": [3]}]}
  ],
  "frontmost": 502,
  "zOrder": [21, 22, 31, 41],
  "mouse": [700, 1000]
})";

using desktest::advance;
using desktest::drain;
using desktest::windowElement;

inline std::shared_ptr<appkit::NSScreen> screen(std::size_t index) { return appkit::NSScreen::screens().at(index); }

// Records the usage events, in a chosen analytics mode.
class RecordingAnalytics : public SnapAnalytics {
 public:
  AnalyticsMode analyticsMode = AnalyticsMode::automaticAnalytics;
  std::vector<std::string> events;
  AnalyticsMode mode() const override { return analyticsMode; }
  void trackEvent(const std::string& name) override { events.push_back(name); }
};

// An NSEvent with a Quartz event at a top-left point.
inline std::shared_ptr<appkit::NSEvent> eventAt(CGPoint location,
                                                cgevent::CGEventType type = cgevent::kCGEventLeftMouseDragged) {
  return appkit::NSEvent::eventWithCGEvent(cgevent::CGEventCreateMouseEvent(nullptr, type, location,
                                                                            cgevent::kCGMouseButtonLeft));
}

// Runs a task on the main actor until the scheduler is idle; whether it ended.
inline bool run(std::function<conc::Task<void>()> make) {
  auto done = std::make_shared<bool>(false);
  conc::spawnOnMain([make, done]() -> conc::Task<void> {
    auto task = make();
    co_await std::move(task);
    *done = true;
  });
  drain();
  return *done;
}

template <class T>
std::optional<T> result(std::function<conc::Task<T>()> make) {
  auto r = modeltest::start<T>(std::move(make));
  drain();
  return r->has_value() ? std::optional<T>(std::move(**r)) : std::nullopt;
}

// The fixture: virtual clock, fresh preferences, the desk, the engine with
// its overlay owner and a repository, the input driver pumping the clock.
class SnapTest : public desktest::DrivenDeskTest {
 protected:
  explicit SnapTest(const char* scenario = kDesk) : DrivenDeskTest(scenario) {
    connectDriver();
    controller->previewDelegate = overlayOwner;
    controller->applicationRepository = repository;
    SnapAnalytics::setShared(analytics);
  }
  ~SnapTest() override {
    controller->setDragWindowSnappingEnabled(false);
    controller->setScrollWindowSnappingEnabled(false);
    // Everything started must have ended: a suspended task would leak.
    advance(60);
    SnapAnalytics::setShared(nullptr);
    driver.setNaturalScrolling(true);
    releaseDriver();
  }

  std::shared_ptr<SnapController> controller = SnapController::make();
  std::shared_ptr<SnapPreviewWindowController> overlayOwner = std::make_shared<SnapPreviewWindowController>();
  std::shared_ptr<ApplicationRepository> repository = ApplicationRepository::make();
  std::shared_ptr<RecordingAnalytics> analytics = std::make_shared<RecordingAnalytics>();

  // Puts windows into the repository's recent windows, newest first.
  void recentWindows(std::vector<std::pair<pid_t, std::uint32_t>> windows) {
    repository->recentActiveWindows.clear();
    for (auto [pid, id] : windows) {
      auto entry = ApplicationRepository::RecentActiveWindow{controllerFor(pid), windowElement(pid, id)};
      repository->recentActiveWindows.push_back(std::move(entry));
    }
  }

  std::shared_ptr<ApplicationController> controllerFor(pid_t pid) {
    for (auto& c : controllers_) {
      if (c->runningApplication->processIdentifier() == pid) return c;
    }
    auto c = ApplicationController::make(appkit::NSRunningApplication::runningApplicationWithProcessIdentifier(pid));
    controllers_.push_back(c);
    return c;
  }

  std::shared_ptr<appkit::NSWindow> overlay() const { return overlayOwner->window(); }
  bool overlayVisible() const { return overlay() && overlay()->isVisible(); }
  // The overlay's frame in top-left coordinates.
  CGRect overlayFrame() const {
    return overlay() ? appkit::NSScreen::flippedRect(overlay()->frame()) : CGRect::null();
  }

 private:
  std::vector<std::shared_ptr<ApplicationController>> controllers_;
};

}  // namespace snaptest
