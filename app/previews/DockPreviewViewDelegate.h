#pragma once
// How the preview view reports the user's actions to the preview coordinator.
// Each call returns at once; the coordinator starts its own tasks.

#include <memory>
#include <optional>

#include "app/nowplaying/MediaButton.h"
#include "app/previews/DockPreviewContent.h"
#include "app/shell/ObservableValue.h"
#include "app/snapping/SnapAlignment.h"
#include "platform/appkit/NSScreen.h"

class DockPreviewViewDelegate {
 public:
  virtual ~DockPreviewViewDelegate() = default;

  // The pointer entered (true) or left (false) the panel.
  virtual void previewHoverDidChange(bool hovering) = 0;
  virtual void didClickOnThumbnail(const DockPreviewThumbnailContent& content) = 0;
  // `activate`: the thumbnail now shows its snap buttons.
  virtual void didRightClickOnThumbnail(const DockPreviewThumbnailContent& content, bool activate) = 0;
  // A scroll or swipe on the thumbnail stepped to a target.
  virtual void didSwipeOnThumbnail(const DockPreviewThumbnailContent& content,
                                   std::shared_ptr<appkit::NSScreen> screen, SnapAlignment alignment) = 0;
  // A snap or move button was entered (its target) or left (no alignment, no screen).
  virtual void didHoverOnSnapButton(const DockPreviewThumbnailContent& content,
                                    std::shared_ptr<appkit::NSScreen> screen,
                                    std::optional<SnapAlignment> alignment) = 0;
  // A snap or move button was clicked, with its target: a move button
  // passes maximized on its display. The click snaps by itself; it does not
  // rely on a hover having armed the target.
  virtual void didClickOnSnapButton(const DockPreviewThumbnailContent& content,
                                    std::shared_ptr<appkit::NSScreen> screen, SnapAlignment alignment) = 0;
  virtual void didClickOnCloseButton(const DockPreviewThumbnailContent& content) = 0;
  virtual void didClickMediaButton(MediaButton button) = 0;
};

// The boxes the preview view finds in its environment. The delegate box holds
// the delegate weakly, so the panel's view tree never keeps the coordinator
// that owns the panel alive.
using DockPreviewContentContainer = NullableObservableValue<DockPreviewContent>;
using DockPreviewViewDelegateContainer = NullableObservableValue<std::weak_ptr<DockPreviewViewDelegate>>;
