#pragma once
// The view that fills the preview panel: a grid of window thumbnails, the Now
// Playing controls under it for a music player, on a translucent rounded
// background that the track's artwork may tint. It keeps the hover state of
// the thumbnails and their buttons, steps a thumbnail's swipe target, and
// reports every action to its delegate (none while measuring off screen).
//
// The content and delegate boxes come from the environment
// (DockPreviewContentContainer, DockPreviewViewDelegateContainer).

#include <memory>
#include <optional>
#include <vector>

#include "app/previews/DockPreviewContent.h"
#include "app/previews/DockPreviewViewDelegate.h"
#include "app/snapping/SnapAlignment.h"
#include "platform/image/Image.h"
#include "platform/ui/Color.h"
#include "platform/ui/State.h"
#include "platform/ui/View.h"

struct DockPreviewView {
  using ButtonAction = DockPreviewThumbnailContent::ButtonAction;

  static constexpr double kColumnWidth = 240;
  // The grid's default gap between columns.
  static constexpr double kColumnSpacing = 8;
  // How far cells may shrink to let a panel of very many windows fit.
  static constexpr double kMinimumCellScale = 0.01;
  static constexpr double kThumbnailMaximumHeight = 240;
  static constexpr double kNowPlayingWidth = 240;
  static constexpr double kNowPlayingHeight = 80;
  static constexpr double kNowPlayingBottomPadding = 20;
  static constexpr double kHorizontalPadding = 10;
  static constexpr double kCornerRadius = 10;
  static constexpr double kArtworkTintOpacity = 0.3;

  ui::EnvironmentObject<DockPreviewContentContainer> contentContainer;
  ui::EnvironmentObject<DockPreviewViewDelegateContainer> delegateContainer;
  ui::Namespace animationNamespace;
  ui::State<std::optional<DockPreviewThumbnailContent>> hoverThumbnail;
  ui::State<std::optional<ButtonAction>> hoverButtonAction;
  ui::State<std::optional<DockPreviewSwipeState>> swipeState;

  ui::View body() const;

  // The dominant colours of an artwork (fair quality, iterative); none when
  // the analysis fails.
  static std::vector<ui::Color> artworkColors(const img::Image& artwork);
  // The content's cell scale as drawn: 1, or a fraction no smaller than the minimum.
  static double cellScale(const DockPreviewContent& content);

 private:
  struct Cell;

  std::shared_ptr<DockPreviewViewDelegate> delegate() const;
  const std::optional<DockPreviewContent>& currentContent() const;
  bool isHovered(const DockPreviewThumbnailContent& entry) const;

  ui::View artworkTint(const DockPreviewContent& content) const;

  void thumbnailHoverChanged(const DockPreviewThumbnailContent& entry, bool hovering) const;
  void buttonHoverChanged(const DockPreviewThumbnailContent& entry, const ButtonAction& action, bool hovering) const;
  void buttonClicked(const DockPreviewThumbnailContent& entry, const ButtonAction& action) const;
  void swipeStep(const DockPreviewThumbnailContent& entry, ScrollGestureProcessor::Direction direction,
                 bool isFastSwipe) const;
};
