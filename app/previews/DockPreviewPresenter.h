#pragma once
// Turns an application's window summary into the content of the preview
// panel, chooses the number of columns by measuring the rendered preview,
// places the panel above the Dock icon inside the screen's visible frame and
// shows it; also dismisses it. Main thread only.

#include <limits>
#include <memory>
#include <optional>

#include "app/model/ScreenAndSpaceRepository.h"
#include "app/model/WindowSummary.h"
#include "app/nowplaying/NowPlayingInfo.h"
#include "app/previews/DockPreviewContent.h"
#include "app/previews/DockPreviewWindowController.h"
#include "platform/appkit/NSScreen.h"
#include "platform/foundation/Geometry.h"

class DockPreviewPresenter {
 public:
  static constexpr int kMaximumColumns = 5;
  // Points between the anchor (the top of the Dock icon) and the panel.
  static constexpr double kAnchorGap = 11;
  static constexpr double kPlaceholderWidth = 40;
  static constexpr double kPlaceholderHeight = 30;

  explicit DockPreviewPresenter(std::shared_ptr<DockPreviewWindowController> dockWindowController)
      : dockWindowController_(std::move(dockWindowController)) {}
  virtual ~DockPreviewPresenter() = default;

  const std::shared_ptr<DockPreviewWindowController>& dockWindowController() const { return dockWindowController_; }

  // Shows the preview of `summary` on `screen`, centred above `point` (the
  // top centre of the Dock icon, bottom-left screen coordinates). Shows
  // nothing when the screens and Spaces cannot be read.
  virtual void present(const ApplicationSummary& summary, const std::optional<NowPlayingInfo>& nowPlayingInfo,
                       const std::shared_ptr<appkit::NSScreen>& screen, bool animated, CGPoint point);

  // The panel's content: the windows screen by screen (left to right), Space
  // by Space; a music player's single window becomes its artwork. Nothing
  // when the screens and Spaces cannot be read.
  virtual std::optional<DockPreviewContent> makeContent(const ApplicationSummary& summary, int maximumColumns,
                                                        const std::shared_ptr<appkit::NSScreen>& screen,
                                                        const std::optional<NowPlayingInfo>& nowPlayingInfo);

  virtual DockPreviewThumbnailContent makeThumbnailContent(const WindowSummary& window, const ScreenSummary& screen,
                                                           const SpaceSummary& space,
                                                           const std::shared_ptr<appkit::NSScreen>& previewScreen,
                                                           const ScreenAndSpaceCollection& screensAndSpaces);

  virtual void dismiss(bool animated);

  // The size of the preview of `content` as the panel will lay it out.
  static CGSize measure(const DockPreviewContent& content);
  // The panel's origin for its size: centred on the anchor, `kAnchorGap`
  // above it, kept inside the visible frame (its left and bottom edges win
  // when it is larger).
  static CGPoint panelOrigin(CGPoint anchor, CGSize size, const CGRect& visibleFrame);
  // Fewer columns (down to half the maximum) while the panel is wider than
  // the visible frame, or while a column can go without adding a row; never
  // while the panel is taller than `visibleHeight`.
  static void measureContent(DockPreviewContent& content, int maximumColumns, CGSize& size, double visibleWidth,
                             double visibleHeight = std::numeric_limits<double>::infinity());
  // Where the measured panel passes the visible frame, shrinks the cells (and
  // lets as many columns in as keeps them largest) so that it fits; `size`
  // becomes the panel's new size.
  static void fitContent(DockPreviewContent& content, CGSize& size, CGSize visible);
  // Whether that many windows are sure to pass a visible frame that high at
  // full size, whatever their cells.
  static bool tooManyToFit(std::size_t windows, double visibleHeight);

 private:
  std::shared_ptr<DockPreviewWindowController> dockWindowController_;
};
