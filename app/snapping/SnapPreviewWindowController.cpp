#include "app/snapping/SnapPreviewWindowController.h"

#include "app/snapping/SnapPreviewView.h"
#include "platform/appkit/NSColor.h"
#include "platform/appkit/NSViewController.h"

std::shared_ptr<appkit::NSWindow> SnapPreviewWindowController::makeOverlayWindow() {
  auto window = appkit::NSWindow::make(appkit::NSMakeRect(0, 0, 0, 0), appkit::NSWindowStyleMaskBorderless,
                                       appkit::NSBackingStoreType::buffered, false);
  window->setContentViewController(appkit::NSHostingController::make(ui::View(SnapPreviewView{})));
  window->setLevel(appkit::NSPopUpMenuWindowLevel);
  window->setCollectionBehavior(appkit::NSWindowCollectionBehaviorCanJoinAllSpaces |
                                appkit::NSWindowCollectionBehaviorFullScreenAuxiliary);
  window->setAlphaValue(1.0);
  window->setOpaque(false);
  window->setBackgroundColor(ui::Color::clear().toNS());
  // Windows here are never released when closed; closing only orders out.
  return window;
}

std::shared_ptr<appkit::NSWindow> SnapPreviewWindowController::overlayWindow() {
  if (auto existing = window()) return existing;
  auto made = makeOverlayWindow();
  setWindow(made);
  return made;
}
