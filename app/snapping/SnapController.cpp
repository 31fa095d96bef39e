#include "app/snapping/SnapController.h"

#include "app/snapping/SnapAnalytics.h"
#include "app/snapping/SnapPreviewWindowController.h"
#include "platform/accessibility/AXUIElement.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/events/CGEvent.h"

// ---------------------------------------------------------------- equality

bool operator==(const SnapController::DragMode& a, const SnapController::DragMode& b) {
  using Kind = SnapController::DragMode::Kind;
  if (a.kind != b.kind) return false;
  if (a.kind != Kind::dragging) return true;
  if (!(a.windowElement == b.windowElement)) return false;
  if (!a.calculator || !b.calculator) return a.calculator == b.calculator;
  return *a.calculator == *b.calculator;
}

bool operator==(const SnapController::SnapMode& a, const SnapController::SnapMode& b) {
  using Kind = SnapController::SnapMode::Kind;
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case Kind::none: return true;
    case Kind::snap:
      return a.windowElement == b.windowElement && a.alignmentAndScreen == b.alignmentAndScreen &&
             a.recentWindowGeometries == b.recentWindowGeometries;
    case Kind::snapBack:
      return a.windowElement == b.windowElement && a.size.width == b.size.width && a.size.height == b.size.height;
    case Kind::snapBackFrame: return a.windowElement == b.windowElement && a.frame == b.frame;
  }
  return false;
}

// ---------------------------------------------------------------- life

std::shared_ptr<SnapController> SnapController::make() {
  std::shared_ptr<SnapController> controller(new SnapController());
  controller->setUpScrollGestureProcessor();
  std::weak_ptr<SnapController> weak = controller;
  controller->windowClosingObserver_ = std::make_unique<WindowClosingObserver>([weak](const AXUIElementWrapper& window) {
    if (auto self = weak.lock()) self->previousSnapRecords.erase(window);
  });
  return controller;
}

void SnapController::rememberSnapRecord(const AXUIElementWrapper& window, SnapRecord record) {
  previousSnapRecords.insert_or_assign(window, record);
  // Closed meanwhile: nothing would ever report it.
  if (windowClosingObserver_ && !windowClosingObserver_->watch(window)) previousSnapRecords.erase(window);
}

void SnapController::forgetSnapRecord(const AXUIElementWrapper& window) {
  previousSnapRecords.erase(window);
  if (windowClosingObserver_) windowClosingObserver_->unwatch(window);
}

SnapController::~SnapController() {
  if (monitor) appkit::NSEvent::removeMonitor(monitor);
}

void SnapController::setUpScrollGestureProcessor() {
  // Weak: the engine lives for the process; a dropped one is not kept alive
  // by its own callbacks.
  std::weak_ptr<SnapController> weak = weak_from_this();
  scrollGestureProcessor = ScrollGestureProcessor::create(
      [weak](ScrollGestureProcessor::Direction direction, bool isFastSwipe,
             const std::shared_ptr<appkit::NSEvent>& event) {
        conc::spawnOnMain([weak, direction, isFastSwipe, event]() -> conc::Task<void> {
          auto self = weak.lock();
          if (!self) co_return;
          auto step = self->handleScrollGesture(direction, isFastSwipe, event);
          co_await std::move(step);
        });
      },
      [weak] {
        conc::spawnOnMain([weak]() -> conc::Task<void> {
          auto self = weak.lock();
          if (!self) co_return;
          auto end = self->endSwipe();
          co_await std::move(end);
        });
      });
}

void SnapController::setDragWindowSnappingEnabled(bool enabled) {
  if (enabled == dragWindowSnappingEnabled_) return;
  dragWindowSnappingEnabled_ = enabled;
  log([enabled] { return diagnostics::messages::dragWindowSnappingEnabled(enabled); });
  updateEventMonitor();
}

void SnapController::setScrollWindowSnappingEnabled(bool enabled) {
  if (enabled == scrollWindowSnappingEnabled_) return;
  scrollWindowSnappingEnabled_ = enabled;
  log([enabled] { return diagnostics::messages::scrollWindowSnappingEnabled(enabled); });
  updateEventMonitor();
}

// ---------------------------------------------------------------- the monitor

void SnapController::updateEventMonitor() {
  if (monitor) {
    appkit::NSEvent::removeMonitor(monitor);
    monitor.reset();
  }
  if (!dragWindowSnappingEnabled_ && !scrollWindowSnappingEnabled_) return;
  std::weak_ptr<SnapController> weak = weak_from_this();
  monitor = appkit::NSEvent::addGlobalMonitorForEventsMatchingMask(
      kMonitorEventMask, [weak](const std::shared_ptr<appkit::NSEvent>& event) {
        if (!event) return;
        // One task per event; events are not coalesced.
        conc::spawnOnMain([weak, event]() -> conc::Task<void> {
          auto self = weak.lock();
          if (!self) co_return;
          auto handling = self->handle(event);
          co_await std::move(handling);
        });
      });
}

const char* SnapController::analyticsEventName(SnapAlignment alignment) {
  switch (alignment) {
    case SnapAlignment::left: return "windowSnapping_SnapLeft";
    case SnapAlignment::maximized: return "windowSnapping_SnapMaximized";
    case SnapAlignment::right: return "windowSnapping_SnapRight";
    case SnapAlignment::centered:
    case SnapAlignment::snapBack: return "windowSnapping_SnapCentered";
  }
  return "windowSnapping_SnapCentered";
}

conc::Task<void> SnapController::handle(std::shared_ptr<appkit::NSEvent> event) {
  return handleIn(shared_from_this(), std::move(event));
}

conc::Task<void> SnapController::handleIn(std::shared_ptr<SnapController> self, std::shared_ptr<appkit::NSEvent> event) {
  self->lastEventDate = dispatch::wallNow();
  if (!event) co_return;
  switch (event->type()) {
    case appkit::NSEventType::leftMouseUp: {
      if (!self->dragWindowSnappingEnabled_) co_return;
      if (self->snapMode.kind == SnapMode::Kind::snap) {
        SnapAnalytics::trackIfAutomatic(analyticsEventName(self->snapMode.alignmentAndScreen.snapAlignment));
      }
      auto applying = self->applySnap();
      co_await std::move(applying);
      co_return;
    }
    case appkit::NSEventType::leftMouseDragged: {
      if (!self->dragWindowSnappingEnabled_) co_return;
      // The step runs in a task of its own, after any mouse-up already queued.
      const std::uint64_t releaseCount = self->releaseCount_;
      conc::spawnOnMain([self, event, releaseCount]() -> conc::Task<void> {
        auto step = handleDragIn(self, event, releaseCount);
        co_await std::move(step);
      });
      co_return;
    }
    case appkit::NSEventType::scrollWheel: {
      if (!self->scrollWindowSnappingEnabled_ || !self->scrollGestureProcessor) co_return;
      if (event->hasPreciseScrollingDeltas()) {
        self->scrollGestureProcessor->processPreciseScroll(event);
      } else {
        self->scrollGestureProcessor->processMouseWheel(event);
      }
      co_return;
    }
    default: co_return;
  }
}

// ---------------------------------------------------------------- the drag pipeline

conc::Task<void> SnapController::handleDrag(std::shared_ptr<appkit::NSEvent> event) {
  return handleDragIn(shared_from_this(), std::move(event), releaseCount_);
}

conc::Task<void> SnapController::handleDragIn(std::shared_ptr<SnapController> self,
                                              std::shared_ptr<appkit::NSEvent> event, std::uint64_t releaseCount) {
  // Its drag ended before this step ran: starting a drag now would leave the
  // engine initializing and deaf to the next drag.
  if (!event || releaseCount != self->releaseCount_) co_return;
  switch (self->dragMode.kind) {
    case DragMode::Kind::initializing: co_return;  // the start of this drag is still being worked out
    case DragMode::Kind::none: {
      auto start = startDragIn(self, event);
      co_await std::move(start);
      co_return;
    }
    case DragMode::Kind::dragging: {
      auto step = continueDragIn(self, event, self->dragMode);
      co_await std::move(step);
      co_return;
    }
  }
}

conc::Task<std::optional<AXUIElementWrapper>> SnapController::windowAt(CGPoint point) {
  auto finding = AXUIElementContext::shared().find(point);
  std::optional<AXUIElementWrapper> hit = co_await std::move(finding);
  if (!hit) co_return std::nullopt;
  const AXUIElementWrapper element = *hit;
  std::function<std::optional<AXUIElementWrapper>(AXUIElementContext::ControllerFactory&)> read =
      [element](AXUIElementContext::ControllerFactory& factory) {
        return factory.controller(element).elementAttribute(ax::NSAccessibilityWindowAttribute);
      };
  auto reading = retrieve<std::optional<AXUIElementWrapper>>(read);
  std::optional<AXUIElementWrapper> window = co_await std::move(reading);
  co_return window ? *window : element;
}

conc::Task<void> SnapController::startDragIn(std::shared_ptr<SnapController> self,
                                             std::shared_ptr<appkit::NSEvent> event) {
  self->dragMode = DragMode::initializing();
  const std::uint64_t serial = ++self->dragSerial_;

  const cgevent::CGEventRef& cg = event->cgEvent();
  if (!cg) co_return;  // stays initializing until the mouse-up
  const CGPoint pointer = cgevent::CGEventGetLocation(cg);

  auto finding = windowAt(pointer);
  std::optional<AXUIElementWrapper> found = co_await std::move(finding);
  if (!found) co_return;
  const AXUIElementWrapper windowElement = *found;

  auto reading = windowElement.getData();
  const AXUIElementData data = co_await std::move(reading);

  std::optional<SnapRecord> record;
  if (auto it = self->previousSnapRecords.find(windowElement); it != self->previousSnapRecords.end()) {
    record = it->second;
  }

  auto collecting = self->getRecentWindowGeometries(windowElement);
  std::vector<RecentWindowGeometry> geometries = co_await std::move(collecting);

  // A mouse-up (and maybe the next drag) came while the window was looked
  // up: this start belongs to a drag that is over.
  if (self->dragMode.kind != DragMode::Kind::initializing || self->dragSerial_ != serial) co_return;

  if (!data.frame) {
    self->dragMode = DragMode::none();
    co_return;
  }
  SnapDragCalculator::StartingConditions conditions{windowElement, *data.frame, std::nullopt,
                                                   data.resizable.value_or(true), std::move(geometries)};
  if (record && record->snappedFrame == *data.frame) conditions.snapBackSize = record->startingFrame.size;
  auto calculator = std::make_shared<SnapDragCalculator>(std::move(conditions));
  self->dragMode = DragMode::dragging(windowElement, std::move(calculator));
}

conc::Task<void> SnapController::continueDragIn(std::shared_ptr<SnapController> self,
                                                std::shared_ptr<appkit::NSEvent> event, DragMode mode) {
  if (!mode.windowElement || !mode.calculator) co_return;
  const AXUIElementWrapper windowElement = *mode.windowElement;
  auto reading = windowElement.getData();
  const AXUIElementData data = co_await std::move(reading);
  if (!(self->dragMode == mode) || !data.frame) co_return;

  const SnapDragCalculator::Result result = mode.calculator->calculate(*event, *data.frame);
  const SnapMode previous = self->snapMode;
  switch (result.kind) {
    case SnapDragCalculator::Result::Kind::snap:
      self->snapMode = SnapMode::snap(windowElement, result.alignmentAndScreen, result.recentWindowGeometries);
      break;
    case SnapDragCalculator::Result::Kind::snapBack:
      self->snapMode = SnapMode::snapBack(windowElement, result.size);
      break;
    case SnapDragCalculator::Result::Kind::none: self->snapMode = SnapMode::none(); break;
  }
  if (!(self->snapMode == previous)) self->updateSnapPreview();
}

// ---------------------------------------------------------------- applying

conc::Task<void> SnapController::applySnap() {
  auto applying = applySnapIn(shared_from_this());
  (void)co_await std::move(applying);
}

conc::Task<bool> SnapController::applySnap(AXUIElementWrapper element, SnapAlignmentAndScreen target) {
  return applySnapToIn(shared_from_this(), std::move(element), std::move(target));
}

conc::Task<bool> SnapController::applySnapToIn(std::shared_ptr<SnapController> self, AXUIElementWrapper element,
                                               SnapAlignmentAndScreen target) {
  const bool armed = self->snapMode.kind == SnapMode::Kind::snap && self->snapMode.windowElement == element &&
                     self->snapMode.alignmentAndScreen == target;
  if (!armed) {
    auto collecting = self->getRecentWindowGeometries(element);
    std::vector<RecentWindowGeometry> geometries = co_await std::move(collecting);
    // Applied at once: the overlay of any other target goes when it is applied.
    self->snapMode = SnapMode::snap(std::move(element), std::move(target), std::move(geometries));
  }
  auto applying = applySnapIn(self);
  co_return co_await std::move(applying);
}

conc::Task<bool> SnapController::applySnapIn(std::shared_ptr<SnapController> self) {
  const SnapMode taken = std::exchange(self->snapMode, SnapMode::none());
  if (taken.kind != SnapMode::Kind::none) self->updateSnapPreview();
  const DragMode drag = std::exchange(self->dragMode, DragMode::none());
  ++self->releaseCount_;

  if (taken.kind != SnapMode::Kind::snap || !taken.windowElement) {
    // Released without a snap: the window forgets its pre-snap frame.
    if (drag.kind == DragMode::Kind::dragging && drag.windowElement) {
      self->forgetSnapRecord(*drag.windowElement);
    }
    co_return false;
  }

  const AXUIElementWrapper window = *taken.windowElement;
  std::optional<SnapRecord> record;
  if (auto it = self->previousSnapRecords.find(window); it != self->previousSnapRecords.end()) record = it->second;

  const std::optional<CGRect> target =
      self->targetFrame(taken.alignmentAndScreen.snapAlignment, taken.alignmentAndScreen.screen, record,
                        taken.recentWindowGeometries);
  if (!target) co_return false;

  auto reading = window.getData();
  const AXUIElementData before = co_await std::move(reading);
  if (!before.frame) co_return false;
  if (before.frame->isApproximatelyEqual(*target, kSnapTolerance)) co_return true;

  auto writing = setWindowFrame(*target, window);
  co_await std::move(writing);

  // Queued behind the write: reads the frame the window accepted.
  auto readingBack = window.getData();
  const AXUIElementData after = co_await std::move(readingBack);
  if (!after.frame) co_return false;

  // Looked up again: another snap of the window may have finished meanwhile.
  const auto current = self->previousSnapRecords.find(window);
  const CGRect startingFrame = current != self->previousSnapRecords.end() ? current->second.startingFrame
                               : record                                   ? record->startingFrame
                                                                          : *before.frame;
  self->rememberSnapRecord(window, SnapRecord{startingFrame, *after.frame});
  co_return true;
}

// ---------------------------------------------------------------- the overlay

std::shared_ptr<appkit::NSWindow> SnapController::makeOverlayWindow() { return SnapPreviewWindowController::makeOverlayWindow(); }

std::shared_ptr<appkit::NSWindow> SnapController::overlayWindow() const {
  auto delegate = previewDelegate.lock();
  if (!delegate) return nullptr;
  if (auto window = delegate->window()) return window;
  auto window = makeOverlayWindow();
  delegate->setWindow(window);
  return window;
}

void SnapController::closeOverlayIfVisible() const {
  auto delegate = previewDelegate.lock();
  if (!delegate) return;
  if (auto window = delegate->window(); window && window->isVisible()) window->close();
}

void SnapController::updateSnapPreview() {
  switch (snapMode.kind) {
    case SnapMode::Kind::snap: {
      if (!snapMode.windowElement) return;
      std::optional<SnapRecord> record;
      if (auto it = previousSnapRecords.find(*snapMode.windowElement); it != previousSnapRecords.end()) {
        record = it->second;
      }
      const std::optional<CGRect> target = targetFrame(snapMode.alignmentAndScreen.snapAlignment,
                                                       snapMode.alignmentAndScreen.screen, record,
                                                       snapMode.recentWindowGeometries);
      if (previewDelegate.expired()) return;
      if (!target) {
        closeOverlayIfVisible();
        return;
      }
      auto window = overlayWindow();
      if (!window) return;
      const CGPoint origin = appkit::NSScreen::flippedPoint(target->origin);
      window->setFrame(CGRect(origin.x, origin.y - target->size.height, target->size.width, target->size.height), true);
      window->orderBack();
      return;
    }
    case SnapMode::Kind::snapBack: {
      if (snapMode.windowElement) conc::spawnOnMain(setWindowSize(snapMode.size, *snapMode.windowElement));
      closeOverlayIfVisible();
      return;
    }
    case SnapMode::Kind::snapBackFrame: {
      if (snapMode.windowElement) conc::spawnOnMain(setWindowFrame(snapMode.frame, *snapMode.windowElement));
      closeOverlayIfVisible();
      return;
    }
    case SnapMode::Kind::none: closeOverlayIfVisible(); return;
  }
}
