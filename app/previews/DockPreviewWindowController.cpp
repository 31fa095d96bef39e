#include "app/previews/DockPreviewWindowController.h"

#include <cmath>

#include "platform/appkit/NSAnimationContext.h"

std::shared_ptr<appkit::NSPanel> DockPreviewWindowController::makePanel() {
  return appkit::NSPanel::make(appkit::NSMakeRect(0, 0, 0, 0), appkit::NSWindowStyleMaskNonactivatingPanel,
                               appkit::NSBackingStoreType::buffered, false);
}

DockPreviewWindowController::DockPreviewWindowController(std::shared_ptr<appkit::NSPanel> window)
    : appkit::NSWindowController(window), viewController_(DockPreviewPresentationViewController::make()) {
  if (!window) return;
  window->setTitleVisibility(appkit::NSWindowTitleVisibility::hidden);
  window->setStyleMask(appkit::NSWindowStyleMaskNonactivatingPanel);
  window->setLevel(kWindowLevel);
  window->setCollectionBehavior(kCollectionBehavior);
  window->setOpaque(false);
  window->setBackgroundColor(ui::Color::clear().toNS());
  window->setContentViewController(viewController_);
}

void DockPreviewWindowController::show(bool animated, CGRect frame) {
  if (!std::isfinite(frame.origin.x) || !std::isfinite(frame.origin.y) || !std::isfinite(frame.size.width) ||
      !std::isfinite(frame.size.height)) {
    return;
  }
  const CGRect truncated(std::trunc(frame.origin.x), std::trunc(frame.origin.y), std::trunc(frame.size.width),
                         std::trunc(frame.size.height));
  auto apply = [this, truncated] {
    auto panel = window();
    if (!panel) return;
    panel->setFrame(truncated, true);
    viewController_->view()->setFrame(appkit::NSMakeRect(0, 0, truncated.size.width, truncated.size.height));
    panel->orderFront();
    resetAlpha();
  };
  if (animated) {
    appkit::NSAnimationContext::runAnimationGroup([&](appkit::NSAnimationContext&) { apply(); }, [] {});
  } else {
    apply();
  }
}

void DockPreviewWindowController::fadeOut(std::function<void()> completion) {
  auto panel = window();
  if (!panel) return;
  std::weak_ptr<appkit::NSWindow> weakPanel = panel;
  appkit::NSAnimationContext::runAnimationGroup(
      [&](appkit::NSAnimationContext& context) {
        context.setDuration(kFadeOutDuration);
        panel->animator().setAlphaValue(0.0);
      },
      [weakPanel, completion = std::move(completion)] {
        // A presentation or a cancelled hide restored the alpha: the panel stays.
        auto p = weakPanel.lock();
        if (p && p->alphaValue() == 0.0 && completion) completion();
      });
}

void DockPreviewWindowController::resetAlpha() {
  auto panel = window();
  if (!panel) return;
  appkit::NSAnimationContext::runAnimationGroup(
      [&](appkit::NSAnimationContext& context) {
        context.setDuration(0.0);
        panel->animator().setAlphaValue(1.0);
      },
      [] {});
}
