#include "app/previews/DockPreviewView.h"

#include <algorithm>
#include <string>

#include "Tincture/DominantColors.h"
#include "app/model/ScreenAndSpaceRepository.h"
#include "app/previews/DockPreviewNowPlayingControls.h"
#include "app/previews/DockPreviewThumbnailView.h"
#include "app/previews/TrackingAreaViewModifier.h"
#include "app/previews/VisualEffectView.h"
#include "app/preferences/Preferences.h"
#include "platform/ui/AppStorage.h"
#include "platform/ui/OnChange.h"

namespace {

std::string cellId(const DockPreviewThumbnailContent& entry) { return std::to_string(entry.element.hash()); }

}  // namespace

std::vector<ui::Color> DockPreviewView::artworkColors(const img::Image& artwork) {
  // Every hover re-renders the panel; the analysis of one artwork is kept.
  static thread_local std::optional<std::pair<img::Image, std::vector<ui::Color>>> last;
  if (last && last->first.isSameObject(artwork)) return last->second;
  std::vector<ui::Color> colors;
  try {
    for (const auto& c : tincture::dominantColors(artwork, tincture::DominantColorQuality::fair,
                                                  tincture::DominantColorAlgorithm::iterative)) {
      colors.push_back(ui::Color::fromNS(c));
    }
  } catch (const tincture::ImageColorError&) {
    colors.clear();
  }
  last.emplace(artwork, colors);
  return colors;
}

double DockPreviewView::cellScale(const DockPreviewContent& content) {
  const double scale = content.cellScale;
  return scale > 0 && scale < 1 ? std::max(scale, kMinimumCellScale) : 1;
}

std::shared_ptr<DockPreviewViewDelegate> DockPreviewView::delegate() const {
  auto* container = delegateContainer.get();
  if (!container || !container->value.get()) return nullptr;
  return container->value.get()->lock();
}

const std::optional<DockPreviewContent>& DockPreviewView::currentContent() const {
  // Read in place: the panel may hold very many windows.
  static const std::optional<DockPreviewContent> none;
  auto* container = contentContainer.get();
  return container ? container->value.get() : none;
}

bool DockPreviewView::isHovered(const DockPreviewThumbnailContent& entry) const {
  const auto& hovered = hoverThumbnail.get();
  return hovered && hovered->isSameThumbnail(entry);
}

void DockPreviewView::thumbnailHoverChanged(const DockPreviewThumbnailContent& entry, bool hovering) const {
  const auto& content = currentContent();
  if (content && !content->animating) {
    if (hovering) {
      // Tracking repeats true on every move inside; the same thumbnail stays.
      if (!isHovered(entry)) hoverThumbnail.set(entry);
    } else {
      hoverThumbnail.set(std::nullopt);
      hoverButtonAction.set(std::nullopt);
    }
  }
  if (!hovering) {
    swipeState.set(std::nullopt);
    if (auto d = delegate()) d->didHoverOnSnapButton(entry, nullptr, std::nullopt);
  }
}

void DockPreviewView::buttonHoverChanged(const DockPreviewThumbnailContent& entry, const ButtonAction& action,
                                         bool hovering) const {
  const auto& content = currentContent();
  if (!content || content->animating) return;
  hoverButtonAction.set(hovering ? std::optional<ButtonAction>(action) : std::nullopt);
  auto d = delegate();
  if (!d) return;
  if (!hovering) {
    d->didHoverOnSnapButton(entry, nullptr, std::nullopt);
  } else if (const auto* snap = action.asSnap()) {
    d->didHoverOnSnapButton(entry, snap->screen, snap->snapAlignment);
  } else if (const auto* screen = action.asScreen()) {
    d->didHoverOnSnapButton(entry, screen->screen, SnapAlignment::maximized);
  }
}

void DockPreviewView::buttonClicked(const DockPreviewThumbnailContent& entry, const ButtonAction& action) const {
  // The click names its whole target: a hover may not have reached the
  // delegate (the bar ignores the pointer at first) or may name another one.
  if (const auto* snap = action.asSnap()) {
    if (auto d = delegate()) d->didClickOnSnapButton(entry, snap->screen, snap->snapAlignment);
  } else if (const auto* screen = action.asScreen()) {
    if (auto d = delegate()) d->didClickOnSnapButton(entry, screen->screen, SnapAlignment::maximized);
  } else {
    hoverThumbnail.set(std::nullopt);
    hoverButtonAction.set(std::nullopt);
    if (auto d = delegate()) d->didClickOnCloseButton(entry);
  }
}

void DockPreviewView::swipeStep(const DockPreviewThumbnailContent& entry, ScrollGestureProcessor::Direction direction,
                                bool isFastSwipe) const {
  auto snapshot = ScreenAndSpaceRepository::getScreensAndSpaces();
  if (!snapshot) return;
  std::optional<SnapAlignment> from;
  ScreenSummary screen = entry.screenSummary;
  ScreenSummary originalScreen = entry.screenSummary;
  if (const auto& swipe = swipeState.get(); swipe && swipe->element == entry.element) {
    from = swipe->snapAlignment;
    screen = swipe->screen;
    originalScreen = swipe->originalScreen;
  }
  auto target = DockPreviewSwipeState::nextTarget(from, screen, originalScreen, direction, isFastSwipe, *snapshot);
  swipeState.set(DockPreviewSwipeState{entry.element, target.snapAlignment, target.screen, originalScreen});
  if (auto d = delegate()) d->didSwipeOnThumbnail(entry, target.screen.screen, target.snapAlignment);
}

// One cell of the grid: the thumbnail of an entry in its frames. A cell equal
// to the last render's keeps its evaluated thumbnail, so that a hover
// evaluates only the cells whose highlight it changes.
struct DockPreviewView::Cell {
  // The view the handlers act on (one copy shared by the cells of a render).
  std::shared_ptr<const DockPreviewView> preview;
  DockPreviewThumbnailContent entry;
  double scale = 1;
  bool highlighted = false;
  std::optional<ButtonAction> highlightedButtonAction;
  bool scrollSnappingFallback = false;

  // The handlers are left out: they act on the entry through a view whose
  // state and environment every render shares.
  friend bool operator==(const Cell& a, const Cell& b) {
    return a.scale == b.scale && a.highlighted == b.highlighted &&
           a.highlightedButtonAction == b.highlightedButtonAction &&
           a.scrollSnappingFallback == b.scrollSnappingFallback &&
           DockPreviewThumbnailView::drawsSame(a.entry, b.entry);
  }

  ui::View body() const {
    // The handlers share one record of the view and the entry.
    struct Target {
      std::shared_ptr<const DockPreviewView> preview;
      DockPreviewThumbnailContent entry;
    };
    auto target = std::make_shared<const Target>(Target{preview, entry});
    DockPreviewThumbnailEventHandlers handlers{
        [target] {
          if (auto d = target->preview->delegate()) d->didClickOnThumbnail(target->entry);
        },
        [target](bool showingSnapButtons) {
          if (auto d = target->preview->delegate()) d->didRightClickOnThumbnail(target->entry, showingSnapButtons);
        },
        [target](ScrollGestureProcessor::Direction direction, bool isFastSwipe) {
          target->preview->swipeStep(target->entry, direction, isFastSwipe);
        },
        [target](bool hovering) { target->preview->thumbnailHoverChanged(target->entry, hovering); },
        [target](const ButtonAction& action, bool hovering) {
          target->preview->buttonHoverChanged(target->entry, action, hovering);
        },
        [target](const ButtonAction& action) { target->preview->buttonClicked(target->entry, action); },
    };
    DockPreviewThumbnailView thumbnail{
        ui::AppStorage<bool>(preferencekeys::scrollPreviewSnappingEnabled, scrollSnappingFallback),
        false,
        highlighted,
        highlightedButtonAction,
        entry,
        std::move(handlers),
    };
    return ui::View(std::move(thumbnail))
        .foregroundColor(ui::Color::red())
        .frame(kColumnWidth, std::nullopt)
        .frame(ui::FlexFrame{.maxHeight = kThumbnailMaximumHeight})
        .scaledLayout(scale)
        .matchedGeometryEffect(cellId(entry), preview->animationNamespace, true);
  }
};

ui::View DockPreviewView::artworkTint(const DockPreviewContent& content) const {
  if (!content.nowPlayingShowcaseMode || !content.nowPlayingInfo || !content.nowPlayingInfo->artwork) {
    return ui::EmptyView();
  }
  auto colors = artworkColors(*content.nowPlayingInfo->artwork);
  if (colors.empty()) return ui::EmptyView();
  return ui::LinearGradient({ui::Color::clear(), colors.front()}, ui::UnitPoint::bottom(), ui::UnitPoint::top())
      .opacity(kArtworkTintOpacity);
}

ui::View DockPreviewView::body() const {
  auto self = *this;
  const std::optional<DockPreviewContent>& content = currentContent();
  const std::optional<std::size_t> windowCount =
      content ? std::optional<std::size_t>(content->windows.size()) : std::nullopt;

  ui::View panel;
  if (content) {
    const int columns = std::max(content->numberOfColumns, 0);
    const double scale = cellScale(*content);
    // Shrunk cells keep the proportions of the full-size grid, gaps included.
    const auto column = scale < 1 ? ui::GridItem::fixed(kColumnWidth * scale, kColumnSpacing * scale)
                                  : ui::GridItem::fixed(kColumnWidth);
    std::vector<ui::GridItem> items(static_cast<std::size_t>(columns), column);
    std::vector<ui::View> rows;
    auto shared = std::make_shared<const DockPreviewView>(*this);
    const bool snappingFallback = MorvalentDefaults::standard().scrollPreviewSnappingEnabled();
    const auto& hoveredButton = hoverButtonAction.get();
    rows.push_back(ui::LazyVGrid(
        std::move(items), ui::HorizontalAlignment::center, 0,
        {ui::ForEach(content->windows, cellId, [&](const DockPreviewThumbnailContent& entry) {
          const bool highlighted = isHovered(entry);
          return Cell{shared, entry, scale, highlighted, highlighted ? hoveredButton : std::nullopt, snappingFallback};
        })}));
    rows.push_back(ui::If(
        content->nowPlayingInfo.has_value(),
        content->nowPlayingInfo
            ? ui::View(DockPreviewNowPlayingControls{*content->nowPlayingInfo, ui::Color::labelColor(),
                                                     [self](MediaButton button) {
                                                       if (auto d = self.delegate()) d->didClickMediaButton(button);
                                                     }})
                  .foregroundColor(ui::Color::labelColor())
                  .frame(kNowPlayingWidth, kNowPlayingHeight)
                  .padding(ui::Edge::bottom, kNowPlayingBottomPadding)
            : ui::EmptyView()));
    panel = ui::VStack(ui::HorizontalAlignment::center, 0, std::move(rows))
                .ignoresSafeArea()
                .padding(ui::EdgeInsets{0, kHorizontalPadding, 0, kHorizontalPadding})
                .background(artworkTint(*content))
                .background(ui::View(VisualEffectView{ui::Material::popover, ui::BlendingMode::behindWindow})
                                .modifier(TrackinAreaViewModifier{[self](bool inside) {
                                  if (auto d = self.delegate()) d->previewHoverDidChange(inside);
                                }}))
                .clipShape(ui::Shape::roundedRectangle(kCornerRadius, kCornerRadius, ui::RoundedCornerStyle::continuous));
  }
  // A window closed or a new preview came: no highlight until the pointer
  // moves over a thumbnail again.
  return ui::onChange<std::optional<std::size_t>>(ui::If(content.has_value(), panel), windowCount,
                                                  [self](const std::optional<std::size_t>&) {
                                                    // Clearing what is clear already would evaluate
                                                    // every cell again.
                                                    const auto& hovered = self.hoverThumbnail;
                                                    const auto& button = self.hoverButtonAction;
                                                    if (hovered.get()) hovered.set(std::nullopt);
                                                    if (button.get()) button.set(std::nullopt);
                                                  });
}
