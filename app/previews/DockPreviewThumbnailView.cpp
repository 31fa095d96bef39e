#include "app/previews/DockPreviewThumbnailView.h"

#include <algorithm>
#include <memory>

#include "app/nowplaying/NowPlayingInfo.h"
#include "app/previews/DockPreviewThumbnailButtonOverlay.h"
#include "app/previews/DockPreviewThumbnailLabel.h"
#include "app/previews/DockPreviewThumbnailPositionIndicatorOverlay.h"
#include "app/previews/RightClickViewModifier.h"
#include "app/previews/TrackingAreaViewModifier.h"
#include "app/snapping/ScrollGestureViewModifier.h"

bool DockPreviewThumbnailView::drawsSame(const DockPreviewThumbnailContent& a, const DockPreviewThumbnailContent& b) {
  return a.element == b.element && a.title == b.title && a.thumbnailImage.isSameObject(b.thumbnailImage) &&
         a.spaceDisplayMode == b.spaceDisplayMode && a.screenSummary == b.screenSummary &&
         a.screenDisplayMode == b.screenDisplayMode && a.userSpaceNumber == b.userSpaceNumber &&
         a.isMain == b.isMain && a.isNowPlaying == b.isNowPlaying && a.snapButtonActions == b.snapButtonActions &&
         a.closeButtonEnabled == b.closeButtonEnabled;
}

bool operator==(const DockPreviewThumbnailView& a, const DockPreviewThumbnailView& b) {
  return a.scrollPreviewSnappingEnabled.key() == b.scrollPreviewSnappingEnabled.key() &&
         a.scrollPreviewSnappingEnabled.fallback() == b.scrollPreviewSnappingEnabled.fallback() &&
         a.highlighted == b.highlighted && a.highlightedButtonAction == b.highlightedButtonAction &&
         DockPreviewThumbnailView::drawsSame(a.thumbnailContent, b.thumbnailContent);
}

double DockPreviewThumbnailView::cornerRadius(double width, double height) {
  // Captures of very large windows (full-screen ones) have square corners.
  return 1 + std::min(std::max(4 * (1900 - width), 0.0), 4.0) + std::min(std::max(4 * (1024 - height), 0.0), 4.0);
}

ui::View DockPreviewThumbnailView::imageBlock() const {
  const img::Size size = thumbnailContent.thumbnailImage.size();
  const double r = cornerRadius(size.width, size.height);
  const auto corners = ui::Shape::roundedRectangle(r, ui::RoundedCornerStyle::continuous);
  ui::StrokeStyle ring;
  ring.lineWidth = 4;
  ui::View block = ui::Image(thumbnailContent.thumbnailImage)
                       .resizable()
                       .aspectRatio(std::nullopt, ui::ContentMode::fill)
                       .drawingGroup()
                       .clipShape(corners)
                       .aspectRatio(std::nullopt, ui::ContentMode::fit)
                       .shadow(ui::Color::black().opacity(0.3), 5)
                       .overlay(ui::ShapeView(corners).stroke(
                           highlighted ? ui::Color::controlAccentColor().opacity(0.6) : ui::Color::clear(),
                           ring))
                       .padding(ui::EdgeInsets{5, 0, 0, 0});
  if (thumbnailContent.isNowPlaying) block = block.frame(kNowPlayingArtworkPoints, kNowPlayingArtworkPoints);
  return block;
}

void DockPreviewThumbnailView::rightClicked() const {
  const bool showing = !showingSnapButtons.get();
  showingSnapButtons.set(showing);
  if (eventHandlers.onRightClick) eventHandlers.onRightClick(showing);
}

void DockPreviewThumbnailView::scrollGestureTriggered(ScrollGestureProcessor::Direction direction,
                                                      bool isFastSwipe) const {
  // Windows of other Spaces cannot be snapped from the preview.
  if (thumbnailContent.spaceDisplayMode != DockPreviewThumbnailContent::SpaceDisplayMode::normal) return;
  if (eventHandlers.onTriggeringScrollGesture) eventHandlers.onTriggeringScrollGesture(direction, isFastSwipe);
}

void DockPreviewThumbnailView::hoverChanged(bool hovering) const {
  if (eventHandlers.onHover) eventHandlers.onHover(hovering);
  if (!hovering) showingSnapButtons.set(false);
}

ui::View DockPreviewThumbnailView::body() const {
  // One copy for all the gesture closures (a panel may hold very many thumbnails).
  auto self = std::make_shared<const DockPreviewThumbnailView>(*this);
  // The overlays exist only on the highlighted thumbnail (the others hold
  // nothing for them: a panel may hold very many thumbnails).
  ui::View overlays = ui::ZStack(ui::Alignment::center, {imageBlock()});
  if (highlighted) {
    overlays = overlays.overlay(ui::View(DockPreviewThumbnailPositionIndicatorOverlay{thumbnailContent, true}))
                   .overlay(ui::View(DockPreviewThumbnailButtonOverlay{
                       ui::Namespace(), thumbnailContent, highlightedButtonAction, showingSnapButtons.binding(),
                       eventHandlers.onButtonHover, eventHandlers.onButtonClick, false}));
  }
  ui::View button =
      ui::Button(
          [self] {
            if (self->eventHandlers.onClick) self->eventHandlers.onClick();
          },
          ui::VStack(ui::HorizontalAlignment::center, std::nullopt,
                     {overlays, ui::View(DockPreviewThumbnailLabel{thumbnailContent})}))
          .buttonStyle(ui::ButtonStyle::plain)
          .padding(kPadding)
          .clipShape(ui::Shape::roundedRectangle(7, ui::RoundedCornerStyle::continuous))
          .modifier(RightClickViewModifier{[self] { self->rightClicked(); }});
  if (scrollPreviewSnappingEnabled.get()) {
    button = button.modifier(ScrollGestureViewModifier{
        [self](ScrollGestureProcessor::Direction direction, bool isFastSwipe, const std::shared_ptr<appkit::NSEvent>&) {
          self->scrollGestureTriggered(direction, isFastSwipe);
        }});
  }
  return button.modifier(TrackinAreaViewModifier{[self](bool hovering) { self->hoverChanged(hovering); }});
}
