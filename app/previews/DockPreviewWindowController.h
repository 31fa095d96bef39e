#pragma once
// The controller of the preview panel: a floating, non-activating panel that
// joins every Space, made once and reused for every preview. It places and
// shows the panel at full opacity, fades it out, and restores its opacity.

#include <functional>
#include <memory>

#include "app/previews/DockPreviewPresentationViewController.h"
#include "platform/appkit/NSWindow.h"
#include "platform/appkit/NSWindowController.h"
#include "platform/foundation/Geometry.h"

class DockPreviewWindowController : public appkit::NSWindowController {
 public:
  static constexpr appkit::NSWindowLevel kWindowLevel = 1000;
  // Can join all Spaces, full-screen auxiliary.
  static constexpr std::uint64_t kCollectionBehavior = appkit::NSWindowCollectionBehaviorCanJoinAllSpaces |
                                                       appkit::NSWindowCollectionBehaviorFullScreenAuxiliary;
  static constexpr double kFadeOutDuration = 0.5;

  // The panel as the preview coordinator makes it: an empty content
  // rectangle, non-activating, buffered, not deferred.
  static std::shared_ptr<appkit::NSPanel> makePanel();

  // Creates the view controller and configures the panel (hidden title,
  // non-activating, level 1000, every Space, clear and not opaque, the view
  // controller as content).
  explicit DockPreviewWindowController(std::shared_ptr<appkit::NSPanel> window);
  static std::shared_ptr<DockPreviewWindowController> make(std::shared_ptr<appkit::NSPanel> window) {
    return std::make_shared<DockPreviewWindowController>(std::move(window));
  }

  const std::shared_ptr<DockPreviewPresentationViewController>& viewController() const { return viewController_; }

  // Places the panel at the frame (bottom-left screen coordinates, each value
  // cut to whole points toward zero) and orders it front at full opacity,
  // without making it key. A frame with a value that is not a finite number
  // is refused: the panel stays as it was.
  virtual void show(bool animated, CGRect frame);
  // Fades the panel to transparent over 0.5 s, then calls `completion`
  // unless the fade was undone (the panel is not fully transparent then).
  virtual void fadeOut(std::function<void()> completion);
  // Makes the panel fully opaque at once.
  virtual void resetAlpha();

 private:
  std::shared_ptr<DockPreviewPresentationViewController> viewController_;
};
