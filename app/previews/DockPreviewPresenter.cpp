#include "app/previews/DockPreviewPresenter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "app/previews/DockPreviewThumbnailView.h"
#include "app/previews/DockPreviewView.h"
#include "platform/appkit/NSViewController.h"
#include "platform/image/Bitmap.h"
#include "platform/ui/Host.h"

namespace {

double frameMinX(const std::shared_ptr<appkit::NSScreen>& screen) { return screen ? screen->frame().minX() : 0; }

// The white 40 x 30 stand-in for a window without a capture. Every stand-in
// shares one set of pixels (a panel may hold thousands of them).
img::Image placeholderImage() {
  static const std::shared_ptr<const img::Bitmap> pixels = std::make_shared<const img::Bitmap>(
      *img::Bitmap::filled(static_cast<int>(DockPreviewPresenter::kPlaceholderWidth),
                           static_cast<int>(DockPreviewPresenter::kPlaceholderHeight), img::Pixel{255, 255, 255, 255}));
  img::Image image(img::Size{DockPreviewPresenter::kPlaceholderWidth, DockPreviewPresenter::kPlaceholderHeight});
  image.addRepresentation(pixels);
  return image;
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

namespace {

// What a cell's height at full size depends on: the capture's proportions,
// whether the label has a title, its badge, and the Now Playing showcase.
struct CellShape {
  double width, height;
  bool titled;
  int screenMode, spaceMode;
  bool nowPlaying;
  auto operator<=>(const CellShape&) const = default;
};

CellShape shapeOf(const DockPreviewThumbnailContent& w) {
  const img::Size size = w.thumbnailImage.size();
  return {size.width, size.height, !w.title.empty(), static_cast<int>(w.screenDisplayMode),
          static_cast<int>(w.spaceDisplayMode), w.isNowPlaying};
}

}  // namespace

void DockPreviewPresenter::fitContent(DockPreviewContent& content, CGSize& size, CGSize visible) {
  const std::size_t count = content.windows.size();
  if (count == 0 || (size.width <= visible.width && size.height <= visible.height)) return;

  // The full-size height of each kind of cell, from one column of one cell
  // per kind (however many windows there are), and what the panel adds
  // around the grid (the Now Playing controls).
  std::map<CellShape, std::size_t> kinds;
  DockPreviewContent samples = content;
  samples.windows.clear();
  for (const auto& w : content.windows) {
    if (kinds.emplace(shapeOf(w), samples.windows.size()).second) samples.windows.push_back(w);
  }
  samples.numberOfColumns = 1;
  samples.cellScale = 1;
  samples.animating = false;
  auto container = std::make_shared<DockPreviewContentContainer>(samples);
  auto host = ui::Host::make(ui::View(DockPreviewView{})
                                 .environmentObject(container)
                                 .environmentObject(std::make_shared<DockPreviewViewDelegateContainer>()));
  host->layoutIfNeeded();
  const ui::Node* grid = host->root() ? host->root()->findFirst([](const ui::Node& n) {
    return n.kind == ui::NodeKind::lazyVGrid;
  }) : nullptr;
  if (!grid || grid->layoutChildren.size() != samples.windows.size()) return;
  std::vector<double> heights;
  heights.reserve(count);
  for (const auto& w : content.windows) heights.push_back(grid->layoutChildren[kinds[shapeOf(w)]]->frame.height);
  const double padding = 2 * DockPreviewView::kHorizontalPadding;
  const double controlsWidth = content.nowPlayingInfo ? DockPreviewView::kNowPlayingWidth : 0;
  const double otherHeight = std::max(0.0, host->size().height - grid->frame.height);
  host.reset();

  // The column count that lets the cells keep the largest scale. The grid
  // lays rows out as tall as their tallest cell.
  auto gridWidth = [](std::size_t columns) {
    return static_cast<double>(columns) * DockPreviewView::kColumnWidth +
           static_cast<double>(columns - 1) * DockPreviewView::kColumnSpacing;
  };
  auto gridHeight = [&](std::size_t columns) {
    double total = 0;
    for (std::size_t row = 0; row < count; row += columns) {
      total += *std::max_element(heights.begin() + static_cast<std::ptrdiff_t>(row),
                                 heights.begin() + static_cast<std::ptrdiff_t>(std::min(count, row + columns)));
    }
    return total;
  };
  double bestScale = 0;
  std::size_t bestColumns = 1;
  for (std::size_t columns = 1; columns <= count; ++columns) {
    const double widthScale = (visible.width - padding) / gridWidth(columns);
    // More columns only narrow the cells further.
    if (widthScale <= bestScale) break;
    const double height = gridHeight(columns);
    const double scale = std::min({1.0, widthScale, height > 0 ? (visible.height - otherHeight) / height : 1.0});
    if (scale > bestScale) {
      bestScale = scale;
      bestColumns = columns;
    }
  }
  content.numberOfColumns = static_cast<int>(bestColumns);
  // A little below the exact fit, so that rounding never lets it pass the frame.
  content.cellScale = std::clamp(bestScale * (1 - 1e-9), DockPreviewView::kMinimumCellScale, 1.0);
  content.animating = false;
  const double scale = DockPreviewView::cellScale(content);
  size = CGSize{std::max(gridWidth(bestColumns) * scale, controlsWidth) + padding,
                gridHeight(bestColumns) * scale + otherHeight};
}

bool DockPreviewPresenter::tooManyToFit(std::size_t windows, double visibleHeight) {
  // Every cell is at least its padding high, and the grid has at most this many columns.
  const double rows = std::ceil(visibleHeight / (2 * DockPreviewThumbnailView::kPadding));
  return static_cast<double>(windows) > kMaximumColumns * std::max(rows, 0.0);
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
  if (tooManyToFit(content->windows.size(), visibleFrame.size.height)) {
    // Measuring full-size layouts of that many cells would tell nothing more.
    size = CGSize{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  } else {
    measureContent(*content, kMaximumColumns, size, visibleFrame.size.width, visibleFrame.size.height);
  }
  fitContent(*content, size, visibleFrame.size);
  if (!std::isfinite(size.width) || !std::isfinite(size.height)) size = measure(*content);
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
