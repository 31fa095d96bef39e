// Snapping without a drag: title-bar gestures stepping a window through the
// snap targets, snap requests from the Dock preview, and the geometries of
// the user's other recent windows that the targets are fitted to.

#include "app/model/ApplicationController.h"
#include "app/model/ApplicationRepository.h"
#include "app/snapping/SnapController.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/events/CGEvent.h"
#include "platform/windowserver/CGSSpace.h"

namespace {

// CGSCopySpacesForWindows mask: current and other Spaces, user-visible only.
constexpr int kWindowSpacesMask = 7;

// The Space ids of one window; none when the answer is not a list of ids.
std::optional<std::vector<std::uint64_t>> spacesOfWindow(std::uint32_t windowID) {
  const ns::Value windows(ns::Array{ns::Value(windowID)});
  const std::optional<ns::Value> answer =
      cgs::CGSCopySpacesForWindows(cgs::CGSMainConnectionID(), kWindowSpacesMask, windows);
  if (!answer || !answer->array()) return std::nullopt;
  std::vector<std::uint64_t> ids;
  for (const ns::Value& v : *answer->array()) {
    if (!v.isInteger() || (v.isInt() && *v.asInt64() < 0)) return std::nullopt;
    ids.push_back(*v.asUInt64());
  }
  return ids;
}

}  // namespace

// ---------------------------------------------------------------- gestures

conc::Task<void> SnapController::handleScrollGesture(ScrollGestureProcessor::Direction direction, bool isFastSwipe,
                                                     std::shared_ptr<appkit::NSEvent> event) {
  return handleScrollGestureIn(shared_from_this(), direction, isFastSwipe, std::move(event));
}

conc::Task<void> SnapController::handleScrollGestureIn(std::shared_ptr<SnapController> self,
                                                       ScrollGestureProcessor::Direction direction, bool isFastSwipe,
                                                       std::shared_ptr<appkit::NSEvent> event) {
  const std::uint64_t swipeEndCount = self->swipeEndCount_;
  const std::shared_ptr<const ScreenAndSpaceCollection> collection = ScreenAndSpaceRepository::getScreensAndSpaces();
  if (!collection) co_return;

  auto finding = self->windowElement(event);
  const std::optional<AXUIElementWrapper> window = co_await std::move(finding);
  if (!window) co_return;

  auto testing = self->titleBarScreen(event, *window, collection);
  const std::optional<ScreenSummary> titleBarScreen = co_await std::move(testing);
  if (!titleBarScreen) co_return;

  std::optional<SnapAlignment> from;
  ScreenSummary current = *titleBarScreen;
  ScreenSummary original = *titleBarScreen;
  if (self->swipeState && self->swipeState->element == *window) {
    from = self->swipeState->snapAlignment;
    current = self->swipeState->screen;
    original = self->swipeState->originalScreen;
  }
  const DockPreviewSwipeState::Target target =
      DockPreviewSwipeState::nextTarget(from, current, original, direction, isFastSwipe, *collection);
  // The window is still stepped, but a gesture that is over keeps no swipe.
  if (swipeEndCount == self->swipeEndCount_) {
    self->swipeState = DockPreviewSwipeState{*window, target.snapAlignment, target.screen, original};
  }

  auto snapping = self->snap(*window, target.screen.screen, target.snapAlignment, [] {});
  co_await std::move(snapping);
}

conc::Task<std::optional<AXUIElementWrapper>> SnapController::windowElement(std::shared_ptr<appkit::NSEvent> event) {
  return windowElementIn(shared_from_this(), std::move(event));
}

conc::Task<std::optional<AXUIElementWrapper>> SnapController::windowElementIn(std::shared_ptr<SnapController> self,
                                                                              std::shared_ptr<appkit::NSEvent> event) {
  // A swipe keeps acting on the window it started on, wherever the pointer is.
  if (self->swipeState) co_return self->swipeState->element;
  if (!event || !event->cgEvent()) co_return std::nullopt;
  auto finding = windowAt(cgevent::CGEventGetLocation(event->cgEvent()));
  co_return co_await std::move(finding);
}

conc::Task<std::optional<ScreenSummary>> SnapController::titleBarScreen(
    std::shared_ptr<appkit::NSEvent> event, AXUIElementWrapper windowElement,
    std::shared_ptr<const ScreenAndSpaceCollection> screenAndSpaceCollection) {
  return titleBarScreenIn(shared_from_this(), std::move(event), std::move(windowElement),
                          std::move(screenAndSpaceCollection));
}

conc::Task<std::optional<ScreenSummary>> SnapController::titleBarScreenIn(
    std::shared_ptr<SnapController> self, std::shared_ptr<appkit::NSEvent> event, AXUIElementWrapper windowElement,
    std::shared_ptr<const ScreenAndSpaceCollection> collection) {
  if (self->swipeState) co_return self->swipeState->screen;
  if (!collection) co_return std::nullopt;

  std::function<std::optional<WindowSummary>(AXUIElementContext::ControllerFactory&)> summarize =
      [windowElement, collection](AXUIElementContext::ControllerFactory&) {
        return ApplicationController::makeWindowSummary(windowElement, *collection, false);
      };
  auto summarizing = retrieve<std::optional<WindowSummary>>(summarize);
  const std::optional<WindowSummary> summary = co_await std::move(summarizing);
  if (!summary) co_return std::nullopt;

  if (!event || !event->cgEvent()) co_return std::nullopt;
  const CGPoint location = cgevent::CGEventGetLocation(event->cgEvent());

  // Windows on full-screen and system Spaces are never swipe-snapped.
  if (!summary->frame || summary->space.type != CGSSpaceType::user) co_return std::nullopt;
  const CGRect& f = *summary->frame;
  const CGRect strip(f.origin.x, f.origin.y, f.size.width, kTitleBarStripHeight);
  if (!containsInclusive(strip, location)) co_return std::nullopt;
  co_return summary->screen;
}

conc::Task<void> SnapController::endSwipe() { return endSwipeIn(shared_from_this()); }

conc::Task<void> SnapController::endSwipeIn(std::shared_ptr<SnapController> self) {
  // The swipe is over as soon as its end is reported: the next gesture may
  // begin at once (a new touch ends a swipe that had no momentum) and must
  // not step this window. Steps still under way belong to the ended swipe.
  ++self->swipeEndCount_;
  self->swipeState.reset();
  // One pass through the Accessibility queue, so the last step's work is done
  // when this returns.
  auto passing = AXUIElementContext::shared().find(CGPoint{0, 0});
  (void)co_await std::move(passing);
}

// ---------------------------------------------------------------- snap requests

conc::Task<void> SnapController::snap(AXUIElementWrapper element, std::shared_ptr<appkit::NSScreen> screen,
                                      SnapAlignment alignment, std::function<void()> completion) {
  return snapIn(shared_from_this(), std::move(element), std::move(screen), alignment, std::move(completion));
}

conc::Task<void> SnapController::snapIn(std::shared_ptr<SnapController> self, AXUIElementWrapper element,
                                        std::shared_ptr<appkit::NSScreen> screen, SnapAlignment alignment,
                                        std::function<void()> completion) {
  auto collecting = self->getRecentWindowGeometries(element);
  std::vector<RecentWindowGeometry> geometries = co_await std::move(collecting);

  const SnapMode previous = self->snapMode;
  self->snapMode = SnapMode::snap(element, SnapAlignmentAndScreen{alignment, std::move(screen)}, std::move(geometries));
  if (!(self->snapMode == previous)) self->updateSnapPreview();

  auto applying = self->applySnap();
  co_await std::move(applying);

  if (completion) dispatch::Queue::main()->asyncAfterDelay(kSnapCompletionDelay, std::move(completion));
}

// ---------------------------------------------------------------- recent windows

conc::Task<std::vector<SnapController::RecentWindowGeometry>> SnapController::getRecentWindowGeometries(
    AXUIElementWrapper excludeElement) {
  return recentWindowGeometriesIn(shared_from_this(), std::move(excludeElement));
}

conc::Task<std::vector<SnapController::RecentWindowGeometry>> SnapController::recentWindowGeometriesIn(
    std::shared_ptr<SnapController> self, AXUIElementWrapper excludeElement) {
  const std::shared_ptr<const ScreenAndSpaceCollection> collection = ScreenAndSpaceRepository::getScreensAndSpaces();
  if (!collection) co_return std::vector<RecentWindowGeometry>{};
  const std::shared_ptr<ApplicationRepository> repository = self->applicationRepository.lock();
  if (!repository) co_return std::vector<RecentWindowGeometry>{};

  std::vector<AXUIElementWrapper> windows;
  for (const auto& recent : repository->recentActiveWindows) {
    if (recent.element) windows.push_back(*recent.element);
  }

  using Continuation = conc::CheckedContinuation<std::vector<RecentWindowGeometry>>;
  auto collectingOnQueue = conc::withCheckedContinuation<std::vector<RecentWindowGeometry>>(
      [windows, excludeElement, collection](Continuation continuation) {
        AXUIElementContext::shared().perform([windows, excludeElement, collection,
                                              continuation](AXUIElementContext::ControllerFactory& factory) {
          std::vector<RecentWindowGeometry> geometries;
          for (const AXUIElementWrapper& window : windows) {
            const AXUIElementData data = factory.controller(window).data();
            if (data.wrapper == excludeElement) continue;
            if (!data.windowID || !data.frame) continue;
            const std::optional<std::vector<std::uint64_t>> spaceIDs = spacesOfWindow(*data.windowID);
            if (!spaceIDs) continue;
            const std::optional<SpaceSummary> space = collection->space(*spaceIDs);
            if (!space || !space->isCurrentSpace) continue;
            const std::optional<ScreenSummary> screen = collection->screen(*spaceIDs);
            if (!screen) continue;
            geometries.push_back(RecentWindowGeometry{window, *data.frame, screen->screen});
          }
          AXUIElementContext::returnToMain([continuation, geometries] { continuation.resume(geometries); });
        });
      });
  co_return co_await std::move(collectingOnQueue);
}
