#pragma once
// The window-snapping engine. One global mouse monitor turns drags of other
// applications' windows towards the edges of a screen, and scrolls or swipes
// on their title bars, into snaps; the Dock preview asks it for snaps and
// drives its overlay through the snap mode. Per window it keeps the frame
// from before the first snap of a series, so a later drag or swipe can give
// it back (snap-back).
//
// Everything here runs on the main actor. Accessibility reads suspend the
// caller until the serial Accessibility queue hands the result back; frame
// and size writes are queued without waiting, and reads queued after them see
// their result. Drag events run as separate tasks that may overlap; dragMode
// keeps them consistent.
//
// Made by make() (two-phase): the scroll-gesture callbacks and the monitor
// refer back to the engine.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "app/model/AXUIElementWrapper.h"
#include "app/model/DiagnosticLogging.h"
#include "app/model/ScreenAndSpaceRepository.h"
#include "app/snapping/ScrollGestureProcessor.h"
#include "app/snapping/SnapAlignment.h"
#include "app/snapping/SnapDragCalculator.h"
#include "app/snapping/WindowClosingObserver.h"
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSWindow.h"
#include "platform/concurrency/Task.h"
#include "platform/foundation/Geometry.h"

class ApplicationRepository;

// The owner of the snap overlay window (SnapPreviewWindowController).
class SnapControllerPreviewDelegate {
 public:
  virtual ~SnapControllerPreviewDelegate() = default;
  virtual std::shared_ptr<appkit::NSWindow> window() const = 0;
  virtual void setWindow(std::shared_ptr<appkit::NSWindow> window) = 0;
};

class SnapController : public DiagnosticLogging, public std::enable_shared_from_this<SnapController> {
 public:
  using RecentWindowGeometry = SnapRecentWindowGeometry;

  struct DragMode {
    enum class Kind { dragging, initializing, none };
    Kind kind = Kind::none;
    std::optional<AXUIElementWrapper> windowElement{};  // dragging
    std::shared_ptr<SnapDragCalculator> calculator{};   // dragging

    static DragMode dragging(AXUIElementWrapper windowElement, std::shared_ptr<SnapDragCalculator> calculator) {
      return DragMode{Kind::dragging, std::move(windowElement), std::move(calculator)};
    }
    static DragMode initializing() { return DragMode{Kind::initializing, std::nullopt, nullptr}; }
    static DragMode none() { return DragMode{}; }

    // Dragging modes compare their elements and their calculators' starting conditions.
    friend bool operator==(const DragMode& a, const DragMode& b);
  };

  struct SnapMode {
    enum class Kind { snap, snapBack, snapBackFrame, none };
    Kind kind = Kind::none;
    std::optional<AXUIElementWrapper> windowElement{};
    SnapAlignmentAndScreen alignmentAndScreen{};                 // snap
    std::vector<RecentWindowGeometry> recentWindowGeometries{};  // snap
    CGSize size{};                                               // snapBack
    CGRect frame{};                                              // snapBackFrame

    static SnapMode snap(AXUIElementWrapper windowElement, SnapAlignmentAndScreen alignmentAndScreen,
                         std::vector<RecentWindowGeometry> recentWindowGeometries) {
      return SnapMode{Kind::snap, std::move(windowElement), std::move(alignmentAndScreen),
                      std::move(recentWindowGeometries), {}, {}};
    }
    static SnapMode snapBack(AXUIElementWrapper windowElement, CGSize size) {
      return SnapMode{Kind::snapBack, std::move(windowElement), {}, {}, size, {}};
    }
    static SnapMode snapBackFrame(AXUIElementWrapper windowElement, CGRect frame) {
      return SnapMode{Kind::snapBackFrame, std::move(windowElement), {}, {}, {}, frame};
    }
    static SnapMode none() { return SnapMode{}; }

    friend bool operator==(const SnapMode& a, const SnapMode& b);
  };

  // The monitor's event mask: left mouse up, left mouse dragged, scroll wheel.
  static constexpr std::uint64_t kMonitorEventMask = 0x400044;
  // The top strip of a window in which gestures snap it.
  static constexpr double kTitleBarStripHeight = 40;
  // A snap whose target lies within this of the window's frame changes nothing.
  static constexpr double kSnapTolerance = 4.0;
  // The delay before a snap request's completion.
  static constexpr double kSnapCompletionDelay = 0.1;

  // init()
  static std::shared_ptr<SnapController> make();
  ~SnapController() override;
  SnapController(const SnapController&) = delete;
  SnapController& operator=(const SnapController&) = delete;

  // ---------------------------------------------------------------- fields
  appkit::NSEventMonitorToken monitor;
  // Keyed by the window's element (its CFHash, then CFEqual). A record goes
  // with its window: when the window closes or its application quits.
  std::unordered_map<AXUIElementWrapper, SnapRecord> previousSnapRecords;
  std::optional<double> lastEventDate;  // seconds since 1970
  std::shared_ptr<ScrollGestureProcessor> scrollGestureProcessor;
  std::weak_ptr<SnapControllerPreviewDelegate> previewDelegate;
  std::weak_ptr<ApplicationRepository> applicationRepository;
  DragMode dragMode;
  std::optional<DockPreviewSwipeState> swipeState;
  SnapMode snapMode;

  // Setting a different value logs it and re-installs the monitor.
  bool dragWindowSnappingEnabled() const { return dragWindowSnappingEnabled_; }
  void setDragWindowSnappingEnabled(bool enabled);
  bool scrollWindowSnappingEnabled() const { return scrollWindowSnappingEnabled_; }
  void setScrollWindowSnappingEnabled(bool enabled);

  // ---------------------------------------------------------------- operations
  // One step of the drag pipeline for a left-mouse-dragged event.
  virtual conc::Task<void> handleDrag(std::shared_ptr<appkit::NSEvent> event);
  // One recognised scroll gesture: steps the window under it (or the one
  // being swiped) to the next target.
  virtual conc::Task<void> handleScrollGesture(ScrollGestureProcessor::Direction direction, bool isFastSwipe,
                                               std::shared_ptr<appkit::NSEvent> event);
  // The window a gesture acts on.
  virtual conc::Task<std::optional<AXUIElementWrapper>> windowElement(std::shared_ptr<appkit::NSEvent> event);
  // The screen of the window when the gesture is on its title bar.
  virtual conc::Task<std::optional<ScreenSummary>> titleBarScreen(
      std::shared_ptr<appkit::NSEvent> event, AXUIElementWrapper windowElement,
      std::shared_ptr<const ScreenAndSpaceCollection> screenAndSpaceCollection);
  // Snaps the window to the target and calls `completion` 0.1 s later.
  virtual conc::Task<void> snap(AXUIElementWrapper element, std::shared_ptr<appkit::NSScreen> screen,
                                SnapAlignment alignment, std::function<void()> completion);
  // Applies and clears the current snap mode; ends the drag.
  virtual conc::Task<void> applySnap();
  // Snaps the window to the target at once: a snap a hover armed for this
  // window and target is taken as it is, any other is worked out afresh.
  // True when the window has the target's frame afterwards (it was moved or
  // already lay there); false when the window or its frame cannot be read.
  virtual conc::Task<bool> applySnap(AXUIElementWrapper element, SnapAlignmentAndScreen target);
  // Brings the overlay (and a pending snap-back) in line with snapMode.
  virtual void updateSnapPreview();
  // The frame of a snap target (top-left); every alignment has one.
  virtual std::optional<CGRect> targetFrame(SnapAlignment alignment, const std::shared_ptr<appkit::NSScreen>& screen,
                                            const std::optional<SnapRecord>& snapRecord,
                                            const std::vector<RecentWindowGeometry>& recentWindowGeometries) const;
  // Removes the monitor and, when a flag is on, installs a new one.
  virtual void updateEventMonitor();

  // The monitor's handler, on the main actor.
  conc::Task<void> handle(std::shared_ptr<appkit::NSEvent> event);
  // The end of a swipe: forgets the swipe, then waits for one pass through
  // the Accessibility queue.
  conc::Task<void> endSwipe();
  // The user's other recently active windows on the current Spaces.
  conc::Task<std::vector<RecentWindowGeometry>> getRecentWindowGeometries(AXUIElementWrapper excludeElement);

  // ---------------------------------------------------------------- geometry
  // A screen's visible frame in top-left coordinates.
  static CGRect visibleArea(const appkit::NSScreen& screen);
  static std::optional<CGRect> neighbourFrame(const CGRect& in, const std::vector<RecentWindowGeometry>& geometries,
                                              const std::shared_ptr<appkit::NSScreen>& screen, bool onLeft);
  static CGRect cascadedFrame(CGRect frame, const std::vector<RecentWindowGeometry>& geometries);
  static CGRect snapBackTargetFrame(const CGRect& in, const std::optional<SnapRecord>& snapRecord);
  // Queue the write on the Accessibility queue and return at once.
  static conc::Task<void> setWindowFrame(CGRect frame, AXUIElementWrapper element);
  static conc::Task<void> setWindowSize(CGSize size, AXUIElementWrapper element);

  // Runs one read on the Accessibility queue and resumes with its result on main.
  template <class R>
  static conc::Task<R> retrieve(std::function<R(AXUIElementContext::ControllerFactory&)> body);

  // The analytics event of a snap to the alignment.
  static const char* analyticsEventName(SnapAlignment alignment);

  // The overlay window of the preview delegate, made on first use; null
  // without a delegate.
  std::shared_ptr<appkit::NSWindow> overlayWindow() const;
  // The overlay window as the engine and the application delegate build it.
  static std::shared_ptr<appkit::NSWindow> makeOverlayWindow();

 protected:
  SnapController() = default;

 private:
  void setUpScrollGestureProcessor();
  void rememberSnapRecord(const AXUIElementWrapper& window, SnapRecord record);
  void forgetSnapRecord(const AXUIElementWrapper& window);
  void closeOverlayIfVisible() const;

  static conc::Task<void> handleIn(std::shared_ptr<SnapController> self, std::shared_ptr<appkit::NSEvent> event);
  static conc::Task<void> handleDragIn(std::shared_ptr<SnapController> self, std::shared_ptr<appkit::NSEvent> event,
                                       std::uint64_t releaseCount);
  static conc::Task<void> startDragIn(std::shared_ptr<SnapController> self, std::shared_ptr<appkit::NSEvent> event);
  static conc::Task<void> continueDragIn(std::shared_ptr<SnapController> self, std::shared_ptr<appkit::NSEvent> event,
                                         DragMode mode);
  // True when a snap target was carried out.
  static conc::Task<bool> applySnapIn(std::shared_ptr<SnapController> self);
  static conc::Task<bool> applySnapToIn(std::shared_ptr<SnapController> self, AXUIElementWrapper element,
                                        SnapAlignmentAndScreen target);
  static conc::Task<void> handleScrollGestureIn(std::shared_ptr<SnapController> self,
                                                ScrollGestureProcessor::Direction direction, bool isFastSwipe,
                                                std::shared_ptr<appkit::NSEvent> event);
  static conc::Task<std::optional<AXUIElementWrapper>> windowElementIn(std::shared_ptr<SnapController> self,
                                                                       std::shared_ptr<appkit::NSEvent> event);
  static conc::Task<std::optional<ScreenSummary>> titleBarScreenIn(
      std::shared_ptr<SnapController> self, std::shared_ptr<appkit::NSEvent> event, AXUIElementWrapper windowElement,
      std::shared_ptr<const ScreenAndSpaceCollection> collection);
  static conc::Task<void> snapIn(std::shared_ptr<SnapController> self, AXUIElementWrapper element,
                                 std::shared_ptr<appkit::NSScreen> screen, SnapAlignment alignment,
                                 std::function<void()> completion);
  static conc::Task<void> endSwipeIn(std::shared_ptr<SnapController> self);
  static conc::Task<std::vector<RecentWindowGeometry>> recentWindowGeometriesIn(std::shared_ptr<SnapController> self,
                                                                                AXUIElementWrapper excludeElement);
  // The element at a top-left point's window ("AXWindow"), or the element itself.
  static conc::Task<std::optional<AXUIElementWrapper>> windowAt(CGPoint point);

  bool dragWindowSnappingEnabled_ = false;
  bool scrollWindowSnappingEnabled_ = false;
  // Bumped whenever a drag starts, so a start that was overtaken by the
  // mouse-up (and maybe by the next drag) drops its result.
  std::uint64_t dragSerial_ = 0;
  // Bumped by every applySnap(), which ends a drag: a dragged event that
  // arrived before it but is handled after it belongs to a drag that is over.
  std::uint64_t releaseCount_ = 0;
  // Bumped when a gesture's end is reported: a step of that gesture that was
  // still looking up its window must not leave a swipe state behind, or every
  // later scroll anywhere would keep stepping that window.
  std::uint64_t swipeEndCount_ = 0;
  std::unique_ptr<WindowClosingObserver> windowClosingObserver_;
};

// ---------------------------------------------------------------- templates

template <class R>
conc::Task<R> SnapController::retrieve(std::function<R(AXUIElementContext::ControllerFactory&)> body) {
  auto awaiter = conc::withCheckedContinuation<R>([body](conc::CheckedContinuation<R> continuation) {
    AXUIElementContext::shared().perform([body, continuation](AXUIElementContext::ControllerFactory& factory) {
      R value = body(factory);
      AXUIElementContext::returnToMain([continuation, value] { continuation.resume(value); });
    });
  });
  co_return co_await awaiter;
}
