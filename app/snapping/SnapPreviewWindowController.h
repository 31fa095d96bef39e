#pragma once
// The owner of the snap overlay window. The engine reads and sets its window
// through SnapControllerPreviewDelegate; whoever finds no window builds it
// with makeOverlayWindow() and the same window is reused for every preview
// (closing it only hides it).

#include <memory>

#include "app/snapping/SnapController.h"
#include "platform/appkit/NSWindowController.h"

class SnapPreviewWindowController : public appkit::NSWindowController, public SnapControllerPreviewDelegate {
 public:
  explicit SnapPreviewWindowController(std::shared_ptr<appkit::NSWindow> window = nullptr)
      : appkit::NSWindowController(std::move(window)) {}

  std::shared_ptr<appkit::NSWindow> window() const override { return appkit::NSWindowController::window(); }
  void setWindow(std::shared_ptr<appkit::NSWindow> window) override {
    appkit::NSWindowController::setWindow(std::move(window));
  }

  // Borderless, buffered, level 101, on all Spaces and beside full-screen
  // windows, transparent, showing SnapPreviewView.
  static std::shared_ptr<appkit::NSWindow> makeOverlayWindow();
  // The controller's window, built and installed when it has none.
  std::shared_ptr<appkit::NSWindow> overlayWindow();
};
