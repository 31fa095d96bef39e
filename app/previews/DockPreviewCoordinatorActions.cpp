// What the coordinator does when the user acts on a window thumbnail, and when
// the presented application loses a window.

#include "app/previews/DockPreviewCoordinator.h"
#include "app/shell/AnalyticsManager.h"

namespace {

using SpaceDisplayMode = DockPreviewThumbnailContent::SpaceDisplayMode;

std::shared_ptr<appkit::NSScreen> screenOr(std::shared_ptr<appkit::NSScreen> screen,
                                           const DockPreviewThumbnailContent& content) {
  return screen ? std::move(screen) : content.screenSummary.screen;
}

}  // namespace

// ---------------------------------------------------------------- events

const char* DockPreviewCoordinator::snapButtonEventName(SnapAlignment alignment) {
  switch (alignment) {
    case SnapAlignment::left:
      return "dockPreview_SnapLeft";
    case SnapAlignment::maximized:
      return "dockPreview_SnapMaximized";
    case SnapAlignment::right:
      return "dockPreview_SnapRight";
    case SnapAlignment::centered:
    case SnapAlignment::snapBack:
      return "dockPreview_SnapCentered";
  }
  return "dockPreview_SnapCentered";
}

const char* DockPreviewCoordinator::swipeEventName(SnapAlignment alignment) {
  switch (alignment) {
    case SnapAlignment::left:
      return "dockPreview_SwipeLeft";
    case SnapAlignment::maximized:
      return "dockPreview_SwipeMaximized";
    case SnapAlignment::right:
      return "dockPreview_SwipeRight";
    case SnapAlignment::centered:
      return "dockPreview_SwipeCentered";
    case SnapAlignment::snapBack:
      return "dockPreview_SwipeBack";
  }
  return "dockPreview_SwipeBack";
}

void DockPreviewCoordinator::record(const std::string& event, const DockPreviewThumbnailContent& content) {
  auto manager = AnalyticsManager::shared();
  if (!manager || manager->mode() != AnalyticsMode::automaticAnalytics) return;
  using EventProperty = AnalyticsManager::EventProperty;
  const std::map<EventProperty, std::string> properties{
      {EventProperty::window_ScreenDisplayMode, toString(content.screenDisplayMode)},
      {EventProperty::window_SpaceDisplayMode, toString(content.spaceDisplayMode)},
  };
  manager->trackEvent(event, properties);
}

// ---------------------------------------------------------------- selecting

void DockPreviewCoordinator::didClickOnThumbnail(const DockPreviewThumbnailContent& content) {
  conc::spawnOnMain(selectWindowIn(shared_from_this(), content));
}

conc::Task<void> DockPreviewCoordinator::selectWindowIn(std::shared_ptr<DockPreviewCoordinator> self,
                                                        DockPreviewThumbnailContent content) {
  // Taken before the panel hides: hiding forgets the presented application.
  std::shared_ptr<ApplicationController> controller;
  if (self->presentedDockIconApplication_) controller = self->presentedDockIconApplication_->controller;
  if (self->snapController) {
    // A snap that a button hover left pending is carried out now.
    auto applying = self->snapController->applySnap();
    co_await std::move(applying);
  }
  self->hide(false);
  if (controller) {
    auto activating = controller->activate(content.element);
    co_await std::move(activating);
  }
  record("dockPreview_SelectWindow", content);
}

void DockPreviewCoordinator::didRightClickOnThumbnail(const DockPreviewThumbnailContent& content, bool activate) {
  conc::spawnOnMain(rightClickIn(shared_from_this(), content, activate));
}

conc::Task<void> DockPreviewCoordinator::rightClickIn(std::shared_ptr<DockPreviewCoordinator> self,
                                                      DockPreviewThumbnailContent content, bool activate) {
  // A window on another Space or full screen: the right click is a click.
  if (content.spaceDisplayMode != SpaceDisplayMode::normal) {
    conc::spawnOnMain(selectWindowIn(self, content));
    co_return;
  }
  if (activate) {
    if (self->presentedDockIconApplication_) {
      const auto controller = self->presentedDockIconApplication_->controller;
      auto activating = controller->activate(content.element);
      co_await std::move(activating);
    }
    record("dockPreview_RightClickOnWindow_Activate", content);
    co_return;
  }

  // Give the focus back to the window used before this one.
  std::vector<ApplicationRepository::RecentActiveWindow> recent;
  if (self->applicationRepository) recent = self->applicationRepository->recentActiveWindows;
  for (const auto& entry : recent) {
    if (entry.element && *entry.element == content.element) continue;
    if (entry.element) {
      if (entry.applicationController) {
        auto activating = entry.applicationController->activate(*entry.element);
        co_await std::move(activating);
      }
    } else if (recent.front().applicationController) {
      recent.front().applicationController->hide();
    }
    break;
  }
  record("dockPreview_RightClickOnWindow_Deactivate", content);
}

// ---------------------------------------------------------------- snapping

void DockPreviewCoordinator::didHoverOnSnapButton(const DockPreviewThumbnailContent& content,
                                                  std::shared_ptr<appkit::NSScreen> screen,
                                                  std::optional<SnapAlignment> alignment) {
  conc::spawnOnMain(snapButtonHoverIn(shared_from_this(), content, std::move(screen), alignment,
                                      ++snapButtonHoverSerial_));
}

conc::Task<void> DockPreviewCoordinator::snapButtonHoverIn(std::shared_ptr<DockPreviewCoordinator> self,
                                                           DockPreviewThumbnailContent content,
                                                           std::shared_ptr<appkit::NSScreen> screen,
                                                           std::optional<SnapAlignment> alignment,
                                                           std::uint64_t serial) {
  if (!self->snapController) co_return;
  const std::shared_ptr<SnapController> snap = self->snapController;
  SnapController::SnapMode previous;
  if (alignment) {
    auto reading = snap->getRecentWindowGeometries(content.element);
    std::vector<SnapController::RecentWindowGeometry> geometries = co_await std::move(reading);
    // The pointer left the button, or the panel hid, while the windows were
    // read: this hover is over and arms nothing.
    if (serial != self->snapButtonHoverSerial_) co_return;
    previous = snap->snapMode;
    SnapAlignmentAndScreen target;
    target.snapAlignment = *alignment;
    target.screen = screenOr(std::move(screen), content);
    snap->snapMode = SnapController::SnapMode::snap(content.element, std::move(target), std::move(geometries));
  } else {
    previous = snap->snapMode;
    snap->snapMode = SnapController::SnapMode::none();
  }
  if (!(snap->snapMode == previous)) snap->updateSnapPreview();
}

void DockPreviewCoordinator::didClickOnSnapButton(const DockPreviewThumbnailContent& content,
                                                  std::shared_ptr<appkit::NSScreen> screen, SnapAlignment alignment) {
  conc::spawnOnMain(snapButtonClickIn(shared_from_this(), content, std::move(screen), alignment));
}

conc::Task<void> DockPreviewCoordinator::snapButtonClickIn(std::shared_ptr<DockPreviewCoordinator> self,
                                                           DockPreviewThumbnailContent content,
                                                           std::shared_ptr<appkit::NSScreen> screen,
                                                           SnapAlignment alignment) {
  // Taken before the panel hides: hiding forgets the presented application.
  std::shared_ptr<ApplicationController> controller;
  if (self->presentedDockIconApplication_) controller = self->presentedDockIconApplication_->controller;
  // The click snaps by itself: the bar ignores hovers at first, so a quick
  // click may come before any hover armed its target.
  bool snapped = false;
  if (self->snapController) {
    auto applying = self->snapController->applySnap(
        content.element, SnapAlignmentAndScreen{alignment, screenOr(std::move(screen), content)});
    snapped = co_await std::move(applying);
  }
  self->hide(false);
  if (controller) {
    auto activating = controller->activate(content.element);
    co_await std::move(activating);
  }
  if (snapped) record(snapButtonEventName(alignment), content);
}

void DockPreviewCoordinator::didSwipeOnThumbnail(const DockPreviewThumbnailContent& content,
                                                 std::shared_ptr<appkit::NSScreen> screen, SnapAlignment alignment) {
  conc::spawnOnMain(swipeIn(shared_from_this(), content, std::move(screen), alignment));
}

conc::Task<void> DockPreviewCoordinator::swipeIn(std::shared_ptr<DockPreviewCoordinator> self,
                                                 DockPreviewThumbnailContent content,
                                                 std::shared_ptr<appkit::NSScreen> screen, SnapAlignment alignment) {
  if (!self->snapController) co_return;
  std::function<void()> completion = [self, content, alignment] {
    conc::spawnOnMain(swipeCompletedIn(self, content, alignment));
  };
  auto snapping = self->snapController->snap(content.element, screenOr(std::move(screen), content), alignment,
                                             std::move(completion));
  co_await std::move(snapping);
}

conc::Task<void> DockPreviewCoordinator::swipeCompletedIn(std::shared_ptr<DockPreviewCoordinator> self,
                                                          DockPreviewThumbnailContent content,
                                                          SnapAlignment alignment) {
  if (self->presentedDockIconApplication_) {
    const auto controller = self->presentedDockIconApplication_->controller;
    auto activating = controller->activate(content.element);
    co_await std::move(activating);
  }
  record(swipeEventName(alignment), content);
}

// ---------------------------------------------------------------- closing

void DockPreviewCoordinator::didClickOnCloseButton(const DockPreviewThumbnailContent& content) {
  conc::spawnOnMain(closeWindowIn(shared_from_this(), content));
}

conc::Task<void> DockPreviewCoordinator::closeWindowIn(std::shared_ptr<DockPreviewCoordinator> self,
                                                       DockPreviewThumbnailContent content) {
  if (self->presentedDockIconApplication_) {
    // Not awaited: the window reports its end through the controller.
    AXUIElementContext::shared().perform([element = content.element](AXUIElementContext::ControllerFactory& factory) {
      factory.controller(element).pressCloseButton();
    });
  }
  record("dockPreview_CloseWindow", content);
  co_return;
}

void DockPreviewCoordinator::applicationControllerWindowDidClose(const std::shared_ptr<ApplicationController>&) {
  conc::spawnOnMain(windowDidCloseIn(shared_from_this()));
}

conc::Task<void> DockPreviewCoordinator::windowDidCloseIn(std::shared_ptr<DockPreviewCoordinator> self) {
  if (!self->presentedDockIconApplication_) {
    self->hide(true);
    co_return;
  }
  const auto controller = self->presentedDockIconApplication_->controller;
  auto reading = controller->getApplicationSummary();
  const std::optional<ApplicationSummary> summary = co_await std::move(reading);
  if (summary && !summary->screens.empty()) {
    self->presentedDockIconApplicationDidChange(true);
  } else {
    self->hide(true);
  }
}
