#include "app/previews/DockPreviewPresenter.h"

#include <algorithm>

#include "app/previews/DockPreviewView.h"
#include "platform/appkit/NSViewController.h"
#include "platform/image/Bitmap.h"
#include "platform/ui/Host.h"

namespace {

double frameMinX(const std::shared_ptr<appkit::NSScreen>& screen) { return screen ? screen->frame().minX() : 0; }

// The white 40 x 30 stand-in for a window without a capture.
img::Image placeholderImage() {
  auto bitmap = img::Bitmap::filled(static_cast<int>(DockPreviewPresenter::kPlaceholderWidth),
                                    static_cast<int>(DockPreviewPresenter::kPlaceholderHeight),
                                    img::Pixel{255, 255, 255, 255});
  return img::Image::withBitmap(std::move(*bitmap));
}

}  // namespace

DockPreviewThumbnailContent DockPreviewPresenter::makeThumbnailContent(
    const WindowSummary& window, const ScreenSummary& screen, const SpaceSummary& space,
    const std::shared_ptr<appkit::NSScreen>& previewScreen, const ScreenAndSpaceCollection& screensAndSpaces) {
  using ScreenDisplayMode = DockPreviewThumbnailContent::ScreenDisplayMode;
  using SpaceDisplayMode = DockPreviewThumbnailContent::SpaceDisplayMode;
  using ButtonAction = DockPreviewThumbnailContent::ButtonAction;

  ScreenDisplayMode screenDisplayMode = ScreenDisplayMode::current;
  if (!screensEqual(screen.screen, previewScreen)) {
    screenDisplayMode =
        frameMinX(screen.screen) < frameMinX(previewScreen) ? ScreenDisplayMode::left : ScreenDisplayMode::right;
  }

  const bool onFullscreenSpace = window.space.type == CGSSpaceType::fullscreen;
  std::vector<ButtonAction> actions;
  if (!onFullscreenSpace && window.space.isCurrentSpace) {
    auto screens = screensAndSpaces.screens();
    std::stable_sort(screens.begin(), screens.end(), [](const ScreenSummary& a, const ScreenSummary& b) {
      return frameMinX(a.screen) < frameMinX(b.screen);
    });
    for (const auto& s : screens) {
      if (s.isCurrentDisplay && window.isResizable) {
        actions.push_back(ButtonAction::snap(SnapAlignment::left, s.screen));
        actions.push_back(ButtonAction::snap(SnapAlignment::maximized, s.screen));
        actions.push_back(ButtonAction::snap(SnapAlignment::right, s.screen));
      } else {
        actions.push_back(ButtonAction::screen(s.screen));
      }
    }
  }

  return DockPreviewThumbnailContent{
      window.element,
      window.title,
      window.thumbnailImage ? *window.thumbnailImage : placeholderImage(),
      space.isCurrentSpace ? SpaceDisplayMode::normal : SpaceDisplayMode::otherSpace,
      screen,
      screenDisplayMode,
      space.userSpaceNumber ? std::to_string(*space.userSpaceNumber) : std::string(),
      window.isMain,
      false,
      std::move(actions),
      !onFullscreenSpace,
  };
}

std::optional<DockPreviewContent> DockPreviewPresenter::makeContent(
    const ApplicationSummary& summary, int maximumColumns, const std::shared_ptr<appkit::NSScreen>& screen,
    const std::optional<NowPlayingInfo>& nowPlayingInfo) {
  auto screensAndSpaces = ScreenAndSpaceRepository::getScreensAndSpaces();
  if (!screensAndSpaces) return std::nullopt;

  auto screens = summary.screens;
  std::stable_sort(screens.begin(), screens.end(), [](const ApplicationSummaryScreen& a, const ApplicationSummaryScreen& b) {
    return frameMinX(a.summary.screen) < frameMinX(b.summary.screen);
  });
  std::vector<DockPreviewThumbnailContent> windows;
  for (const auto& s : screens) {
    for (const auto& space : s.spaces) {
      for (const auto& window : space.windows) {
        windows.push_back(makeThumbnailContent(window, s.summary, space.summary, screen, *screensAndSpaces));
      }
    }
  }

  bool showcase = false;
  if (nowPlayingInfo && nowPlayingInfo->artwork && windows.size() == 1) {
    DockPreviewThumbnailContent artwork = windows.front();
    artwork.title.clear();
    artwork.thumbnailImage = *nowPlayingInfo->artwork;
    artwork.isNowPlaying = true;
    windows = {std::move(artwork)};
    showcase = true;
  }

  DockPreviewContent content;
  content.title = summary.title;
  content.numberOfColumns = static_cast<int>(std::min<std::size_t>(windows.size(), static_cast<std::size_t>(
                                                                                       std::max(maximumColumns, 0))));
  content.windows = std::move(windows);
  content.nowPlayingInfo = nowPlayingInfo;
  content.nowPlayingShowcaseMode = showcase;
  content.animating = false;
  return content;
}

CGSize DockPreviewPresenter::measure(const DockPreviewContent& content) {
  auto container = std::make_shared<DockPreviewContentContainer>(content);
  auto delegateContainer = std::make_shared<DockPreviewViewDelegateContainer>();
  auto controller = appkit::NSHostingController::make(
      ui::View(DockPreviewView{}).environmentObject(container).environmentObject(delegateContainer));
  return controller->hostingView()->intrinsicContentSize();
}

void DockPreviewPresenter::measureContent(DockPreviewContent& content, int maximumColumns, CGSize& size,
                                          double visibleWidth, double visibleHeight) {
  const int minimumColumns = maximumColumns / 2;
  // Whether a size was stored: a measured size may itself be zero by zero,
  // and the search must still end.
  bool measured = size != CGSize{};
  for (;;) {
    int columns = content.numberOfColumns;
    if (measured) {
      // Fewer columns only make a panel that is already too tall taller.
      if (columns <= minimumColumns || size.height > visibleHeight) return;
      columns -= 1;
    }
    DockPreviewContent candidate = content;
    candidate.numberOfColumns = columns;
    candidate.animating = false;
    const CGSize candidateSize = measure(candidate);
    const bool accepted = !measured || (candidateSize.width < size.width &&
                                        (size.width > visibleWidth || candidateSize.height == size.height));
    if (!accepted) return;
    // The first layout is always kept; each later pass takes one column away.
    content = std::move(candidate);
    size = candidateSize;
    measured = true;
  }
}

void DockPreviewPresenter::fitContent(DockPreviewContent& content, CGSize& size, CGSize visible) {
  const std::size_t count = content.windows.size();
  if (count == 0 || (size.width <= visible.width && size.height <= visible.height)) return;

  // The cells at full size in one column: their heights, and what the panel
  // adds around the grid (the padding, the Now Playing controls).
  DockPreviewContent single = content;
  single.numberOfColumns = 1;
  single.cellScale = 1;
  single.animating = false;
  auto container = std::make_shared<DockPreviewContentContainer>(single);
  auto host = ui::Host::make(ui::View(DockPreviewView{})
                                 .environmentObject(container)
                                 .environmentObject(std::make_shared<DockPreviewViewDelegateContainer>()));
  host->layoutIfNeeded();
  const ui::Node* grid = host->root() ? host->root()->findFirst([](const ui::Node& n) {
    return n.kind == ui::NodeKind::lazyVGrid;
  }) : nullptr;
  if (!grid || grid->layoutChildren.size() != count) return;
  std::vector<double> heights;
  heights.reserve(count);
  for (const ui::Node* cell : grid->layoutChildren) heights.push_back(cell->frame.height);
  const double paddingWidth = 2 * DockPreviewView::kHorizontalPadding;
  const double otherHeight = std::max(0.0, host->size().height - grid->frame.height);

  // The column count that lets the cells keep the largest scale.
  double bestScale = 0;
  std::size_t bestColumns = 1;
  for (std::size_t columns = 1; columns <= count; ++columns) {
    const double gridWidth = static_cast<double>(columns) * DockPreviewView::kColumnWidth +
                             static_cast<double>(columns - 1) * DockPreviewView::kColumnSpacing;
    const double widthScale = (visible.width - paddingWidth) / gridWidth;
    // More columns only narrow the cells further.
    if (widthScale <= bestScale) break;
    double gridHeight = 0;
    for (std::size_t row = 0; row < count; row += columns) {
      gridHeight += *std::max_element(heights.begin() + static_cast<std::ptrdiff_t>(row),
                                      heights.begin() + static_cast<std::ptrdiff_t>(std::min(count, row + columns)));
    }
    const double scale =
        std::min({1.0, widthScale, gridHeight > 0 ? (visible.height - otherHeight) / gridHeight : 1.0});
    if (scale > bestScale) {
      bestScale = scale;
      bestColumns = columns;
    }
  }
  content.numberOfColumns = static_cast<int>(bestColumns);
  // A little below the exact fit, so that rounding never lets it pass the frame.
  content.cellScale = std::clamp(bestScale * (1 - 1e-9), DockPreviewView::kMinimumCellScale, 1.0);
  content.animating = false;
  size = measure(content);
}

CGPoint DockPreviewPresenter::panelOrigin(CGPoint anchor, CGSize size, const CGRect& visibleFrame) {
  const double minX = visibleFrame.origin.x, minY = visibleFrame.origin.y;
  const double width = visibleFrame.size.width, height = visibleFrame.size.height;
  double x = anchor.x - size.width / 2;
  x = std::min(x, minX + width - size.width);
  x = std::max(x, minX);
  double y = anchor.y + kAnchorGap;
  y = std::min(y, minY + height - size.height);
  y = std::max(y, minY);
  return {x, y};
}

void DockPreviewPresenter::present(const ApplicationSummary& summary, const std::optional<NowPlayingInfo>& nowPlayingInfo,
                                   const std::shared_ptr<appkit::NSScreen>& screen, bool animated, CGPoint point) {
  if (!screen || !dockWindowController_) return;
  auto content = makeContent(summary, kMaximumColumns, screen, nowPlayingInfo);
  if (!content) return;
  const CGRect visibleFrame = screen->visibleFrame();
  CGSize size{};
  measureContent(*content, kMaximumColumns, size, visibleFrame.size.width, visibleFrame.size.height);
  fitContent(*content, size, visibleFrame.size);
  const CGPoint origin = panelOrigin(point, size, visibleFrame);
  dockWindowController_->viewController()->update(std::move(content), animated);
  dockWindowController_->show(animated, CGRect(origin, size));
}

void DockPreviewPresenter::dismiss(bool animated) {
  if (!dockWindowController_) return;
  auto viewController = dockWindowController_->viewController();
  auto panel = dockWindowController_->window();
  if (animated) {
    dockWindowController_->fadeOut([viewController, panel] {
      viewController->update(std::nullopt, true);
      if (panel) panel->orderOut();
    });
    return;
  }
  if (panel) panel->orderOut();
  // Set at once, without the animation's second step (and so that a second
  // step still pending from an earlier update cannot bring the content back).
  viewController->update(std::nullopt, false);
}
