#include "app/previews/DockPreviewCoordinator.h"

#include "app/previews/DockPreviewWindowController.h"
#include "platform/appkit/NSRunningApplication.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSWindow.h"

// ---------------------------------------------------------------- values

std::string DockPreviewCoordinator::HoverState::description() const {
  switch (kind) {
    case Kind::hoverOverDockIcon:
      return diagnostics::messages::hoverStateText("hoverOverDockIcon", bundleURL);
    case Kind::none:
      return "none";
    case Kind::hoverOverDock:
      return "hoverOverDock";
    case Kind::hoverOverPreviewWindow:
      return "hoverOverPreviewWindow";
    case Kind::hoverOverScreen:
      return "hoverOverScreen";
  }
  return "none";
}

// ---------------------------------------------------------------- creation

DockPreviewCoordinator::DockPreviewCoordinator(std::shared_ptr<ApplicationRepository> applicationRepository,
                                               std::shared_ptr<SnapController> snapController,
                                               std::shared_ptr<ScreenResizeCorrector> screenResizeCorrector,
                                               std::shared_ptr<NowPlayingCoordinator> nowPlayingCoordinator)
    : applicationRepository(std::move(applicationRepository)),
      snapController(std::move(snapController)),
      screenResizeCorrector(std::move(screenResizeCorrector)),
      mouseTracker(DockPreviewMouseTracker::make()),
      presenter(std::make_shared<DockPreviewPresenter>(
          DockPreviewWindowController::make(DockPreviewWindowController::makePanel()))),
      nowPlayingCoordinator(std::move(nowPlayingCoordinator)) {}

std::shared_ptr<DockPreviewCoordinator> DockPreviewCoordinator::make(
    std::shared_ptr<ApplicationRepository> applicationRepository, std::shared_ptr<SnapController> snapController,
    std::shared_ptr<ScreenResizeCorrector> screenResizeCorrector,
    std::shared_ptr<NowPlayingCoordinator> nowPlayingCoordinator) {
  std::shared_ptr<DockPreviewCoordinator> self(
      new DockPreviewCoordinator(std::move(applicationRepository), std::move(snapController),
                                 std::move(screenResizeCorrector), std::move(nowPlayingCoordinator)));
  self->presenter->dockWindowController()->viewController()->setDelegate(
      std::weak_ptr<DockPreviewViewDelegate>(self));
  if (self->applicationRepository) {
    self->applicationRepository->delegate = std::weak_ptr<ApplicationRepositoryDelegate>(self);
  }
  self->mouseTracker->delegate = std::weak_ptr<DockPreviewMouseTrackerDelegate>(self);
  return self;
}

DockPreviewCoordinator::~DockPreviewCoordinator() = default;

SingleCallDelayedTask<DockPreviewCoordinator::DockIconApplication>& DockPreviewCoordinator::showTask() {
  if (!showTask_) {
    std::weak_ptr<DockPreviewCoordinator> weak = weak_from_this();
    showTask_ = std::make_unique<SingleCallDelayedTask<DockIconApplication>>(
        kShowDelay, [weak](const DockIconApplication& application) {
          if (auto self = weak.lock()) self->showTaskFired(application);
        });
  }
  return *showTask_;
}

SingleCallDelayedTask<>& DockPreviewCoordinator::hideTask() {
  if (!hideTask_) {
    std::weak_ptr<DockPreviewCoordinator> weak = weak_from_this();
    hideTask_ = std::make_unique<SingleCallDelayedTask<>>(kHideDelay, [weak] {
      if (auto self = weak.lock()) self->hide(true);
    });
  }
  return *hideTask_;
}

// ---------------------------------------------------------------- fields

void DockPreviewCoordinator::setDockController(std::shared_ptr<ApplicationController> controller) {
  dockController_ = std::move(controller);
  mouseTracker->setDockController(dockController_);
}

void DockPreviewCoordinator::setHoverState(HoverState state) {
  if (state == hoverState_) return;
  hoverState_ = std::move(state);
  logHoverState();
}

void DockPreviewCoordinator::setEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  logEnabled(enabled);
  if (enabled) {
    mouseTracker->setTrackingMode(TrackingMode::dockOnly);
    reset();
    return;
  }
  hide(false);
  setHoveringDockIconApplication(std::nullopt);
  setPresentedDockIconApplication(std::nullopt);
  setHoverState(HoverState::none());
  mouseTracker->setTrackingMode(TrackingMode::disabled);
  reset();
}

void DockPreviewCoordinator::setHoveringDockIconApplication(std::optional<DockIconApplication> application) {
  const bool changed = !(application == hoveringDockIconApplication_);
  hoveringDockIconApplication_ = std::move(application);
  if (changed) hoveringDockIconApplicationDidChange();
}

void DockPreviewCoordinator::setPresentedDockIconApplication(std::optional<DockIconApplication> application) {
  const bool changed = !(application == presentedDockIconApplication_);
  storePresentedDockIconApplication(std::move(application));
  if (changed) presentedDockIconApplicationDidChange(false);
}

void DockPreviewCoordinator::storePresentedDockIconApplication(std::optional<DockIconApplication> application) {
  // Only the presented application reports its closed windows.
  if (presentedDockIconApplication_ && presentedDockIconApplication_->controller) {
    presentedDockIconApplication_->controller->delegate.reset();
  }
  if (application && application->controller) {
    application->controller->delegate = std::weak_ptr<ApplicationControllerDelegate>(shared_from_this());
  }
  presentedDockIconApplication_ = std::move(application);
}

void DockPreviewCoordinator::setPresentedNowPlayingPublisher(std::shared_ptr<NowPlayingPublisher> publisher) {
  presentedNowPlayingPublisher_ = std::move(publisher);
  if (!presentedNowPlayingPublisher_) {
    presentedNowPlayingPublisherCancellable_.reset();
    return;
  }
  // Weak: the coordinator owns the subscription.
  std::weak_ptr<DockPreviewCoordinator> weak = weak_from_this();
  presentedNowPlayingPublisherCancellable_ =
      presentedNowPlayingPublisher_->nowPlayingInfoPublisher().sink([weak](const std::optional<NowPlayingInfo>&) {
        if (auto self = weak.lock()) self->presentedDockIconApplicationDidUpdate(true);
      });
}

bool DockPreviewCoordinator::isPanelVisible() const {
  auto window = presenter->dockWindowController()->window();
  return window && window->isVisible();
}

std::optional<std::string> DockPreviewCoordinator::bundleIdentifierOf(
    const std::optional<DockIconApplication>& application) {
  if (!application || !application->controller) return std::nullopt;
  return application->controller->runningApplication->bundleIdentifier();
}

// ---------------------------------------------------------------- hovering and showing

void DockPreviewCoordinator::didMouseMoveOverDockIcon(const ns::URL& bundleURL, const std::string& title,
                                                      const AXUIElementWrapper& element) {
  std::shared_ptr<ApplicationController> controller;
  if (applicationRepository) controller = applicationRepository->applicationController(bundleURL, title);
  if (!controller) {
    didMouseMoveOverDockArea();
    cancelHide();
    return;
  }
  if (!hoveringDockIconApplication_ || hoveringDockIconApplication_->bundleURL != bundleURL) {
    setHoveringDockIconApplication(DockIconApplication{controller, element, bundleURL});
    mouseTracker->setTrackingMode(TrackingMode::entireScreen);
    logHoverOnNewDockIcon(hoveringDockIconApplication_ ? std::optional<ns::URL>(hoveringDockIconApplication_->bundleURL)
                                                       : std::nullopt);
  }
  setHoverState(HoverState::hoverOverDockIcon(bundleURL));
  cancelHide();
}

void DockPreviewCoordinator::hoveringDockIconApplicationDidChange() {
  logHoveringApplicationDidChange(bundleIdentifierOf(hoveringDockIconApplication_));
  cancelShow();
  if (!hoveringDockIconApplication_) return;
  const DockIconApplication hovered = *hoveringDockIconApplication_;
  showTask().schedule(hovered);
  log([url = hovered.bundleURL] { return "showTask.schedule:" + url.absoluteString(); });
  // A music player's track is fresh by the time the panel shows.
  if (nowPlayingCoordinator) {
    nowPlayingCoordinator->refresh(hovered.controller->runningApplication->bundleIdentifier().value_or(""));
  }
  // Back on the icon of the shown preview: it stays.
  if (presentedDockIconApplication_ && presentedDockIconApplication_->bundleURL == hovered.bundleURL) cancelHide();
}

void DockPreviewCoordinator::showTaskFired(const DockIconApplication& application) {
  // Hovering the panel never replaces its content. The icon is no longer
  // under the pointer: forgetting it lets a return to it schedule a new show.
  if (hoverState_ == HoverState::hoverOverPreviewWindow()) {
    if (hoveringDockIconApplication_ && *hoveringDockIconApplication_ == application) {
      setHoveringDockIconApplication(std::nullopt);
    }
    return;
  }
  if (hoveringDockIconApplication_ && *hoveringDockIconApplication_ == application) show();
}

void DockPreviewCoordinator::show() {
  log([] { return "show"; });
  if (hoveringDockIconApplication_) setPresentedDockIconApplication(hoveringDockIconApplication_);
}

void DockPreviewCoordinator::cancelShow() {
  if (showTask().isPending()) {
    showTask().cancel();
    log([] { return "cancelShow"; });
  }
  // A presentation still being prepared is discarded when it comes back.
  if (!isPanelVisible()) setPresentedDockIconApplication(std::nullopt);
}

void DockPreviewCoordinator::hide(bool animated) {
  log([animated] { return "hide animated:" + diagnostics::text(animated); });
  if (hoverState_ == HoverState::hoverOverPreviewWindow()) setHoverState(HoverState::hoverOverScreen());
  cancelShow();
  hideTask().cancel();
  setPresentedDockIconApplication(std::nullopt);
  // Nothing of the preview outlives the panel: the player is no longer polled.
  shownDockIconApplication_.reset();
  setPresentedNowPlayingPublisher(nullptr);
  presentedDockIconElementFrame.reset();
  presenter->dismiss(animated);
  if (enabled_) mouseTracker->setTrackingMode(TrackingMode::dockOnly);
  // A snap target previewed from a thumbnail goes with the panel, and so
  // does one whose hover is still reading the windows.
  ++snapButtonHoverSerial_;
  setSnapModeNone();
}

void DockPreviewCoordinator::setSnapModeNone() {
  if (!snapController) return;
  const SnapController::SnapMode previous = snapController->snapMode;
  snapController->snapMode = SnapController::SnapMode::none();
  if (!(snapController->snapMode == previous)) snapController->updateSnapPreview();
}

void DockPreviewCoordinator::scheduleHide() {
  hideTask().schedule();
  log([] { return "scheduleHide"; });
}

void DockPreviewCoordinator::cancelHide() {
  if (!hideTask().isPending()) return;
  hideTask().cancel();
  // Undoes a fade-out in progress.
  presenter->dockWindowController()->resetAlpha();
  log([] { return "cancelHide"; });
}

void DockPreviewCoordinator::didMouseMoveOverDockArea() {
  setHoverState(HoverState::hoverOverDock());
  if (hoveringDockIconApplication_) {
    log([] { return "didMouseMoveOverDockArea"; });
    setHoveringDockIconApplication(std::nullopt);
  }
  cancelHide();
}

void DockPreviewCoordinator::didClickOnDock() { conc::spawnOnMain(clickOnDockIn(shared_from_this())); }

conc::Task<void> DockPreviewCoordinator::clickOnDockIn(std::shared_ptr<DockPreviewCoordinator> self) {
  self->log([] { return "didClickOnDock"; });
  self->hide(false);
  if (!self->hoveringDockIconApplication_) co_return;
  const std::shared_ptr<ApplicationController> controller = self->hoveringDockIconApplication_->controller;
  auto restoring = controller->unminimizeIfNeeded();
  co_await std::move(restoring);
  auto reading = controller->getApplicationSummary();
  const std::optional<ApplicationSummary> summary = co_await std::move(reading);
  if (summary && self->screenResizeCorrector) self->screenResizeCorrector->checkApplicationIfNeeded(*summary);
}

void DockPreviewCoordinator::didClickOnScreen() {
  log([] { return "didClickOnScreen"; });
  hide(true);
}

void DockPreviewCoordinator::didExitDock() {
  cancelShow();
  setHoverState(HoverState::hoverOverScreen());
  if (hoveringDockIconApplication_) {
    log([] { return "didExitDock"; });
    setHoveringDockIconApplication(std::nullopt);
  }
  // A pending hide keeps its earlier deadline.
  if (!hideTask().isPending()) scheduleHide();
  if (isPanelVisible()) return;
  mouseTracker->setTrackingMode(TrackingMode::dockOnly);
}

void DockPreviewCoordinator::reset() {
  log([] { return "reset"; });
  mouseTracker->startTracking();
}

// ---------------------------------------------------------------- presenting

void DockPreviewCoordinator::presentedDockIconApplicationDidChange(bool animated) {
  conc::spawnOnMain(presentIn(shared_from_this(), animated));
}

bool DockPreviewCoordinator::present(const ApplicationSummary& summary, const CGRect& dockItemFrame, bool animated) {
  std::optional<NowPlayingInfo> nowPlayingInfo;
  if (presentedNowPlayingPublisher_) nowPlayingInfo = presentedNowPlayingPublisher_->nowPlayingInfo();
  auto screen = appkit::NSScreen::screenWithMouse();
  if (!screen) return false;
  // The top centre of the Dock item, in AppKit's coordinates.
  const CGPoint anchor = appkit::NSScreen::flippedPoint(
      CGPoint{dockItemFrame.origin.x + dockItemFrame.size.width * 0.5, dockItemFrame.origin.y});
  presenter->present(summary, nowPlayingInfo, screen, animated, anchor);
  return true;
}

conc::Task<void> DockPreviewCoordinator::presentIn(std::shared_ptr<DockPreviewCoordinator> self, bool animated) {
  self->logPresentedApplicationDidChange(bundleIdentifierOf(self->presentedDockIconApplication_));
  const std::optional<DockIconApplication> presented = self->presentedDockIconApplication_;
  if (!presented) co_return;

  auto readingSummary = presented->controller->getApplicationSummary();
  const std::optional<ApplicationSummary> summary = co_await std::move(readingSummary);
  auto readingItem = presented->element.getData();
  const AXUIElementData item = co_await std::move(readingItem);

  self->logPresentedApplicationDidChangeDispatched(bundleIdentifierOf(self->presentedDockIconApplication_));
  const bool current = self->presentedDockIconApplication_ == presented;
  if (summary && current && !summary->screens.empty() && item.frame) {
    std::shared_ptr<NowPlayingPublisher> publisher;
    if (self->nowPlayingCoordinator) publisher = self->nowPlayingCoordinator->nowPlayingPublisher(summary->bundleID);
    self->setPresentedNowPlayingPublisher(std::move(publisher));
    self->presentedDockIconElementFrame = item.frame;
    self->logPresenting(summary->title);
    if (self->present(*summary, *item.frame, animated)) self->shownDockIconApplication_ = presented;
    self->mouseTracker->setTrackingMode(TrackingMode::entireScreen);
    if (self->screenResizeCorrector) self->screenResizeCorrector->checkApplicationIfNeeded(*summary);
  } else if (current) {
    const auto& shown = self->shownDockIconApplication_;
    if (shown && !(*shown == *presented) && self->isPanelVisible()) {
      // Nothing to show (an application without windows, say): the panel
      // keeps the shown application's windows, so that application stays
      // the presented one, with its publisher, its frame and its closed
      // windows' reports; clicks in the panel act on it.
      self->storePresentedDockIconApplication(shown);
    } else {
      self->setPresentedNowPlayingPublisher(nullptr);
      self->presentedDockIconElementFrame.reset();
    }
  }
  // A presentation that was replaced or dropped while it read touches none of
  // the above: that state belongs to whatever replaced it. A hide that was
  // pending before the presentation finished no longer fires.
  self->hideTask().cancel();
}

void DockPreviewCoordinator::presentedDockIconApplicationDidUpdate(bool animated) {
  conc::spawnOnMain(updateIn(shared_from_this(), animated));
}

conc::Task<void> DockPreviewCoordinator::updateIn(std::shared_ptr<DockPreviewCoordinator> self, bool animated) {
  self->logPresentedApplicationDidUpdate(bundleIdentifierOf(self->presentedDockIconApplication_));
  const std::optional<DockIconApplication> presented = self->presentedDockIconApplication_;
  if (!presented) co_return;
  auto reading = presented->controller->getApplicationSummary();
  const std::optional<ApplicationSummary> summary = co_await std::move(reading);
  if (!summary || !(self->presentedDockIconApplication_ == presented) || summary->screens.empty() ||
      !self->presentedDockIconElementFrame) {
    co_return;
  }
  self->logUpdating(summary->title);
  self->present(*summary, *self->presentedDockIconElementFrame, animated);
}

// ---------------------------------------------------------------- delegates

void DockPreviewCoordinator::applicationRepositoryDockControllerDidChange(
    const std::shared_ptr<ApplicationController>& controller) {
  setDockController(controller);
}

void DockPreviewCoordinator::mouseTrackerDidReceive(DockPreviewMouseTracker&, const MouseEvent& event) {
  switch (event.kind) {
    case MouseEvent::Kind::movingOnDockIcon:
      if (event.dockIcon) didMouseMoveOverDockIcon(event.dockIcon->bundleURL, event.dockIcon->title, event.dockIcon->element);
      break;
    case MouseEvent::Kind::unknown:
      break;
    case MouseEvent::Kind::movingOnScreen:
      didExitDock();
      break;
    case MouseEvent::Kind::movingOnDockArea:
      didMouseMoveOverDockArea();
      break;
    case MouseEvent::Kind::mouseDownOnDock:
      didClickOnDock();
      break;
    case MouseEvent::Kind::mouseDownOnScreen:
      didClickOnScreen();
      break;
  }
}

bool DockPreviewCoordinator::mouseTrackerContainsPoint(DockPreviewMouseTracker&, CGPoint point) {
  for (const auto& window : appkit::WindowList::allWindows()) {
    if (!window->isVisible()) continue;
    const CGRect frame = window->frame();
    if (frame.size.width == 0) continue;
    if (frame.contains(point)) return true;
  }
  return false;
}

void DockPreviewCoordinator::previewHoverDidChange(bool hovering) {
  if (hovering) {
    setHoverState(HoverState::hoverOverPreviewWindow());
    cancelHide();
  } else {
    setHoverState(HoverState::hoverOverScreen());
    scheduleHide();
  }
}

void DockPreviewCoordinator::didClickMediaButton(MediaButton button) {
  if (presentedNowPlayingPublisher_) presentedNowPlayingPublisher_->handleMediaButton(button);
}

// ---------------------------------------------------------------- diagnostics

void DockPreviewCoordinator::logHoverState() const {
  log([this] { return diagnostics::messages::hoverState(hoverState_.description()); });
}

void DockPreviewCoordinator::logHoveringApplicationDidChange(const std::optional<std::string>& bundleIdentifier) const {
  log([&] { return diagnostics::messages::hoveringDockIconApplicationDidChange(bundleIdentifier); });
}

void DockPreviewCoordinator::logEnabled(bool value) const {
  log([value] { return diagnostics::messages::enabled(value); });
}

void DockPreviewCoordinator::logPresentedApplicationDidChange(const std::optional<std::string>& bundleIdentifier) const {
  log([&] { return diagnostics::messages::presentedDockIconApplicationDidChange(bundleIdentifier); });
}

void DockPreviewCoordinator::logPresentedApplicationDidChangeDispatched(
    const std::optional<std::string>& bundleIdentifier) const {
  log([&] { return diagnostics::messages::presentedDockIconApplicationDidChangeDispatched(bundleIdentifier); });
}

void DockPreviewCoordinator::logPresenting(const std::string& title) const {
  log([&] { return diagnostics::messages::presenting(title); });
}

void DockPreviewCoordinator::logPresentedApplicationDidUpdate(const std::optional<std::string>& bundleIdentifier) const {
  log([&] { return diagnostics::messages::presentedDockIconApplicationDidUpdate(bundleIdentifier); });
}

void DockPreviewCoordinator::logUpdating(const std::string& title) const {
  log([&] { return diagnostics::messages::updating(title); });
}

void DockPreviewCoordinator::logHoverOnNewDockIcon(const std::optional<ns::URL>& bundleURL) const {
  log([&] { return diagnostics::messages::hoverOnNewDockIcon(bundleURL); });
}

void DockPreviewCoordinator::logTrackingMode(TrackingMode mode) const { mouseTracker->logTrackingMode(mode); }
