#pragma once
// The desk the preview coordinator's tests work on, and the fixture that
// drives it with the input driver under the virtual clock.
//
// One display, 1440 x 900, with the Dock along its bottom (visible frame 0,
// 70, 1440, 805); Spaces 1 (current) and 2. Top-left coordinates use H = 900,
// so the Dock strip spans y 830 to 900 and its icons y 839 to 891.
//
// Dock items, left to right: Mail, Notes, Calculator (running, no windows),
// Pages (not running), an application item without a title, then a folder
// and the Trash. Mail has Inbox and Drafts on Space 1 and Archive on Space 2;
// Notes has Memo.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/model/ApplicationController.h"
#include "app/model/ApplicationRepository.h"
#include "app/model/tests/DeskTestSupport.h"
#include "app/nowplaying/NowPlayingCoordinator.h"
#include "app/nowplaying/NowPlayingProvider.h"
#include "app/nowplaying/NowPlayingPublisher.h"
#include "app/previews/DockPreviewCoordinator.h"
#include "app/previews/DockPreviewWindowController.h"
#include "app/shell/AnalyticsManager.h"
#include "app/shell/tests/RecordingTelemetry.h"
#include "app/snapping/ScreenResizeCorrector.h"
#include "app/snapping/SnapController.h"
#include "app/snapping/SnapPreviewWindowController.h"
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSRunningApplication.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/events/CGEventTap.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestSupport.h"
#include "platform/sim/InputDriver.h"
#include "platform/sim/Scenario.h"
#include "platform/ui/Host.h"

namespace coordtest {

inline constexpr pid_t kDock = 90;
inline constexpr pid_t kMail = 502;
inline constexpr pid_t kNotes = 503;
inline constexpr pid_t kCalculator = 504;
inline constexpr std::uint32_t kInbox = 21;
inline constexpr std::uint32_t kDrafts = 22;
inline constexpr std::uint32_t kArchive = 23;
inline constexpr std::uint32_t kMemo = 31;

inline const char* const kMailURL = "file:///System/Applications/Mail.app/";
inline const char* const kNotesURL = "file:///System/Applications/Notes.app/";

// Icon centres and other places, top-left.
inline constexpr CGPoint kMailIcon{336, 865};
inline constexpr CGPoint kNotesIcon{398, 865};
inline constexpr CGPoint kCalculatorIcon{460, 865};
inline constexpr CGPoint kPagesIcon{522, 865};
inline constexpr CGPoint kUntitledIcon{584, 865};
inline constexpr CGPoint kDockGap{800, 865};
inline constexpr CGPoint kFolderIcon{1026, 865};
inline constexpr CGPoint kDesktop{1300, 700};
inline constexpr CGPoint kOnMemo{1200, 400};

inline const char* const kDockDesk = R"({
  "displays": [
    {"id": 1, "uuid": "11111111-1111-4111-8111-111111111111", "frame": [0, 0, 1440, 900],
     "visibleFrame": [0, 70, 1440, 805], "spaces": [{"id": 1}, {"id": 2}], "currentSpace": 1}
  ],
  "self": {"pid": 100, "bundleIdentifier": "com.morvalent.Morvalent", "name": "Morvalent"},
  "dock": {"pid": 90, "frame": [300, 830, 840, 70], "items": [
    {"title": "Mail", "url": "file:///System/Applications/Mail.app/", "frame": [310, 839, 52, 52]},
    {"title": "Notes", "url": "file:///System/Applications/Notes.app/", "frame": [372, 839, 52, 52]},
    {"title": "Calculator", "url": "file:///System/Applications/Calculator.app/", "frame": [434, 839, 52, 52]},
    {"title": "Pages", "url": "file:///Applications/Pages.app/", "frame": [496, 839, 52, 52]},
    {"url": "file:///Applications/Nameless.app/", "frame": [558, 839, 52, 52]},
    {"subrole": "AXFolderDockItem", "title": "Downloads", "url": "file:///Users/me/Downloads/",
     "frame": [1000, 839, 52, 52]},
    {"subrole": "AXTrashDockItem", "title": "Trash", "frame": [1078, 839, 52, 52]}
  ]},
  "applications": [
    {"pid": 502, "bundleIdentifier": "com.apple.mail", "bundleURL": "file:///System/Applications/Mail.app/",
     "name": "Mail",
     "windows": [{"id": 21, "title": "Inbox", "frame": [100, 100, 700, 500], "spaces": [1]},
                 {"id": 22, "title": "Drafts", "frame": [150, 150, 600, 400], "spaces": [1]},
                 {"id": 23, "title": "Archive", "frame": [120, 120, 700, 450], "spaces": [2]}]},
    {"pid": 503, "bundleIdentifier": "com.apple.Notes", "bundleURL": "file:///System/Applications/Notes.app/",
     "name": "Notes",
     "windows": [{"id": 31, "title": "Memo", "frame": [900, 150, 500, 400], "spaces": [1]}]},
    {"pid": 504, "bundleIdentifier": "com.apple.calculator",
     "bundleURL": "file:///System/Applications/Calculator.app/", "name": "Calculator"}
  ],
  "frontmost": 502,
  "zOrder": [21, 22, 31],
  "mouse": [1300, 700]
})";

using desktest::advance;
using desktest::drain;
using desktest::windowElement;

using telemetrytest::RecordingTelemetry;

// A music player that answers at once with a fixed record.
class FakeProvider : public NowPlayingProvider {
 public:
  explicit FakeProvider(std::string bundleIdentifier) : bundleIdentifier_(std::move(bundleIdentifier)) {}
  std::optional<NowPlayingInfo> info;
  std::vector<std::string> commands;

  std::optional<NowPlayingInfo> nowPlayingInfo() const override { return info; }
  std::string bundleIdentifier() const override { return bundleIdentifier_; }
  conc::Task<void> refresh() override { co_return; }
  conc::Task<void> playPause() override {
    commands.push_back("playPause");
    co_return;
  }
  conc::Task<void> previousTrack() override {
    commands.push_back("previousTrack");
    co_return;
  }
  conc::Task<void> nextTrack() override {
    commands.push_back("nextTrack");
    co_return;
  }

 private:
  std::string bundleIdentifier_;
};

// Hands out publishers over fake providers; records the refreshes.
class FakeNowPlayingCoordinator : public NowPlayingCoordinator {
 public:
  std::vector<std::string> refreshes;
  std::map<std::string, std::shared_ptr<FakeProvider>> fakes;
  std::vector<std::weak_ptr<NowPlayingPublisher>> made;

  void refresh(const std::string& bundleIdentifier) override { refreshes.push_back(bundleIdentifier); }
  std::shared_ptr<NowPlayingPublisher> nowPlayingPublisher(const std::string& bundleIdentifier) override {
    auto it = fakes.find(bundleIdentifier);
    if (it == fakes.end()) return nullptr;
    auto publisher = NowPlayingPublisher::make(it->second->info, {}, false, it->second);
    made.push_back(publisher);
    return publisher;
  }
};

// The resize corrector, noting which applications the coordinator asks it to
// check (it acts on them only after a change of the displays).
class RecordingCorrector : public ScreenResizeCorrector {
 public:
  static std::shared_ptr<RecordingCorrector> make(std::shared_ptr<ApplicationRepository> repository) {
    return std::shared_ptr<RecordingCorrector>(new RecordingCorrector(std::move(repository)));
  }
  std::vector<std::string> asked;
  void checkApplicationIfNeeded(const ApplicationSummary& summary) override {
    asked.push_back(summary.bundleID);
    ScreenResizeCorrector::checkApplicationIfNeeded(summary);
  }

 private:
  explicit RecordingCorrector(std::shared_ptr<ApplicationRepository> repository)
      : ScreenResizeCorrector(std::move(repository)) {}
};

inline NowPlayingInfo track(std::string title, bool playing = true) {
  NowPlayingInfo info;
  info.artist = "Artist";
  info.title = std::move(title);
  info.album = "Album";
  info.duration = 200;
  info.getPlaybackPosition = [] { return 10.0; };
  info.isPlaying = playing;
  return info;
}

// The desk, the repository, the snapping engine with its overlay, the
// resize corrector, a fake Now Playing coordinator, the analytics manager over
// a recording client (automatic analytics), and the coordinator, enabled.
class CoordinatorTest : public desktest::DrivenDeskTest {
 protected:
  explicit CoordinatorTest(const char* scenario = kDockDesk) : DrivenDeskTest(scenario) {
    connectDriver();
    snapController->previewDelegate = overlayOwner;
    snapController->applicationRepository = repository;
    corrector->setEnabled(true);
    analytics->setMode(AnalyticsMode::automaticAnalytics);
    AnalyticsManager::setSharedForTesting(analytics);
    coordinator = DockPreviewCoordinator::make(repository, snapController, corrector, nowPlaying);
    repository->setUp();
    drain();
    coordinator->setEnabled(true);
    drain();
  }
  ~CoordinatorTest() override {
    coordinator->setEnabled(false);
    // Everything started must have ended: a suspended task would leak.
    advance(60);
    AnalyticsManager::setSharedForTesting(nullptr);
    releaseDriver();
  }

  std::shared_ptr<ApplicationRepository> repository = ApplicationRepository::make();
  std::shared_ptr<SnapController> snapController = SnapController::make();
  std::shared_ptr<SnapPreviewWindowController> overlayOwner = std::make_shared<SnapPreviewWindowController>();
  std::shared_ptr<RecordingCorrector> corrector = RecordingCorrector::make(repository);
  std::shared_ptr<FakeNowPlayingCoordinator> nowPlaying = std::make_shared<FakeNowPlayingCoordinator>();
  std::shared_ptr<RecordingTelemetry> telemetry = std::make_shared<RecordingTelemetry>();
  std::shared_ptr<AnalyticsManager> analytics = AnalyticsManager::make(telemetry);
  std::shared_ptr<DockPreviewCoordinator> coordinator;

  // The coordinator's lines (without the type name), in order.
  std::vector<std::string> linesOf(const std::string& type) const {
    std::vector<std::string> out;
    const std::string prefix = type + ": ";
    for (const auto& line : log.lines()) {
      if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
    }
    return out;
  }

  // The user moves the pointer there in one step; what follows is handled.
  void moveTo(CGPoint p, int steps = 1) {
    driver.moveTo(p, steps);
    drain();
  }
  void click(CGPoint p, sim::MouseButton button = sim::MouseButton::left) {
    driver.click(p, button);
    drain();
  }

  std::shared_ptr<appkit::NSWindow> panel() const { return coordinator->presenter->dockWindowController()->window(); }
  bool panelShown() const { return panel()->isVisible(); }
  std::optional<DockPreviewContent> panelContent() const {
    return coordinator->presenter->dockWindowController()->viewController()->contentContainer()->value.get();
  }
  std::vector<std::string> panelTitles() const {
    std::vector<std::string> out;
    if (auto c = panelContent()) {
      for (const auto& w : c->windows) out.push_back(w.title);
    }
    return out;
  }
  // The content title of the panel ("" without content).
  std::string panelApplication() const {
    auto c = panelContent();
    return c ? c->title : "";
  }

  std::optional<pid_t> tapPid() const {
    auto& w = coordinator->mouseTracker->cgEventTapWrapper;
    return w ? w->pid : std::optional<pid_t>(-1);
  }
  DockPreviewMouseTracker::TrackingMode trackingMode() const { return coordinator->mouseTracker->trackingMode(); }

  // Rests the pointer on an icon until its preview is up.
  void showPreview(CGPoint icon) {
    moveTo(icon);
    advance(DockPreviewCoordinator::kShowDelay + 0.05);
  }

  // ---- the panel's view tree on screen

  const ui::Node* panelRoot() const {
    auto host = panel()->contentHost();
    if (!host) return nullptr;
    host->layoutIfNeeded();
    return host->root();
  }
  static void collect(const ui::Node& n, const std::function<bool(const ui::Node&)>& pred,
                      std::vector<const ui::Node*>& out) {
    if (pred(n)) out.push_back(&n);
    for (const auto& c : n.children) collect(*c, pred, out);
  }
  std::vector<const ui::Node*> thumbnails() const {
    std::vector<const ui::Node*> out;
    if (auto root = panelRoot()) {
      collect(*root, [](const ui::Node& n) { return n.typeName == "DockPreviewThumbnailView"; }, out);
    }
    return out;
  }
  std::vector<const ui::Node*> symbols(const std::string& name) const {
    std::vector<const ui::Node*> out;
    if (auto root = panelRoot()) {
      collect(*root, [&](const ui::Node& n) { return n.kind == ui::NodeKind::symbol && n.text() == name; }, out);
    }
    return out;
  }
  // A point of the panel's content (top-left in the panel) on the screen, top-left.
  CGPoint onScreen(double x, double y) const {
    const CGRect f = panel()->frame();
    return CGPoint{f.origin.x + x, world.referenceHeight() - (f.origin.y + f.size.height) + y};
  }
  CGPoint centreOf(const ui::Node& n) const { return onScreen(n.frame.midX(), n.frame.midY()); }
  // The thumbnail of the window with that title, on screen.
  std::optional<CGPoint> thumbnailPoint(const std::string& title) const {
    const auto titles = panelTitles();
    const auto nodes = thumbnails();
    for (std::size_t i = 0; i < titles.size() && i < nodes.size(); ++i) {
      if (titles[i] == title) return centreOf(*nodes[i]);
    }
    return std::nullopt;
  }
  std::optional<CGPoint> symbolPoint(const std::string& name) const {
    auto found = symbols(name);
    if (found.empty()) return std::nullopt;
    return centreOf(*found.front());
  }

  std::shared_ptr<ApplicationController> controllerOf(pid_t pid) const {
    for (const auto& c : repository->applicationControllers) {
      if (c->runningApplication->processIdentifier() == pid) return c;
    }
    return nullptr;
  }

  std::shared_ptr<appkit::NSWindow> overlay() const { return overlayOwner->window(); }
  bool overlayVisible() const { return overlay() && overlay()->isVisible(); }
};

}  // namespace coordtest
