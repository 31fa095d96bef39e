#pragma once
// The content of one preview panel: the thumbnails of an application's
// windows in display order, and the Now Playing record of a music player.
// Plain values built by the presenter and read by the preview views.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/model/AXUIElementWrapper.h"
#include "app/model/ScreenAndSpaceRepository.h"
#include "app/nowplaying/NowPlayingInfo.h"
#include "app/snapping/ScrollGestureProcessor.h"
#include "app/snapping/SnapAlignment.h"
#include "platform/appkit/NSScreen.h"
#include "platform/image/Image.h"

// One window as a thumbnail draws it. Not comparable as a whole: the
// preview tells thumbnails apart by their elements.
struct DockPreviewThumbnailContent {
  // Where the window's display lies relative to the display of the preview.
  enum class ScreenDisplayMode { current, left, right };
  // Whether the window lies on the current Space of its display.
  enum class SpaceDisplayMode { normal, otherSpace, fullscreen };

  // What a button on the thumbnail does.
  class ButtonAction {
   public:
    enum class Kind { close, snap, screen };
    struct Snap {
      SnapAlignment snapAlignment = SnapAlignment::left;
      std::shared_ptr<appkit::NSScreen> screen;
    };
    struct Screen {
      std::shared_ptr<appkit::NSScreen> screen;
    };

    static ButtonAction close() { return ButtonAction(Kind::close, {}, {}); }
    static ButtonAction snap(SnapAlignment snapAlignment, std::shared_ptr<appkit::NSScreen> screen) {
      return ButtonAction(Kind::snap, Snap{snapAlignment, std::move(screen)}, {});
    }
    static ButtonAction screen(std::shared_ptr<appkit::NSScreen> screen) {
      return ButtonAction(Kind::screen, {}, Screen{std::move(screen)});
    }

    Kind kind() const { return kind_; }
    bool isClose() const { return kind_ == Kind::close; }
    // The payload of its case; null for the other cases.
    const Snap* asSnap() const { return kind_ == Kind::snap ? &snap_ : nullptr; }
    const Screen* asScreen() const { return kind_ == Kind::screen ? &screen_ : nullptr; }

    // Same case; for snap equal alignments and the same screen object, for
    // screen the same screen object.
    friend bool operator==(const ButtonAction& a, const ButtonAction& b);
    // The case's index (close 0, snap 1, screen 2), then for snap the
    // alignment's raw string and the screen's object hash, for screen the
    // screen's object hash. The button overlay identifies its buttons by it.
    std::size_t hashValue() const;

   private:
    ButtonAction(Kind kind, Snap snap, Screen screen)
        : kind_(kind), snap_(std::move(snap)), screen_(std::move(screen)) {}
    Kind kind_;
    Snap snap_;
    Screen screen_;
  };

  AXUIElementWrapper element;
  std::string title;
  img::Image thumbnailImage;
  SpaceDisplayMode spaceDisplayMode = SpaceDisplayMode::normal;
  ScreenSummary screenSummary;
  ScreenDisplayMode screenDisplayMode = ScreenDisplayMode::current;
  std::string userSpaceNumber;
  bool isMain = false;
  bool isNowPlaying = false;
  std::vector<ButtonAction> snapButtonActions;
  bool closeButtonEnabled = true;

  // Whether both describe the same window (their elements are equal).
  bool isSameThumbnail(const DockPreviewThumbnailContent& other) const { return element == other.element; }
};

// The case names, as the analytics properties carry them.
const char* toString(DockPreviewThumbnailContent::ScreenDisplayMode mode);
const char* toString(DockPreviewThumbnailContent::SpaceDisplayMode mode);

template <>
struct std::hash<DockPreviewThumbnailContent::ScreenDisplayMode> {
  std::size_t operator()(DockPreviewThumbnailContent::ScreenDisplayMode m) const noexcept {
    return std::hash<int>{}(static_cast<int>(m));
  }
};
template <>
struct std::hash<DockPreviewThumbnailContent::SpaceDisplayMode> {
  std::size_t operator()(DockPreviewThumbnailContent::SpaceDisplayMode m) const noexcept {
    return std::hash<int>{}(static_cast<int>(m));
  }
};
template <>
struct std::hash<DockPreviewThumbnailContent::ButtonAction> {
  std::size_t operator()(const DockPreviewThumbnailContent::ButtonAction& a) const noexcept { return a.hashValue(); }
};

// How a thumbnail reports what the user does; supplied by the preview view,
// called on the main thread.
struct DockPreviewThumbnailEventHandlers {
  using ButtonAction = DockPreviewThumbnailContent::ButtonAction;

  std::function<void()> onClick;
  // The thumbnail's showing-snap-buttons state after the click toggled it.
  std::function<void(bool)> onRightClick;
  std::function<void(ScrollGestureProcessor::Direction, bool)> onTriggeringScrollGesture;
  std::function<void(bool)> onHover;
  std::function<void(const ButtonAction&, bool)> onButtonHover;
  std::function<void(const ButtonAction&)> onButtonClick;
};

// The whole content of one preview panel.
struct DockPreviewContent {
  std::string title;
  std::vector<DockPreviewThumbnailContent> windows;
  std::optional<NowPlayingInfo> nowPlayingInfo;
  int numberOfColumns = 0;
  // The single window of a music player shown as its artwork.
  bool nowPlayingShowcaseMode = false;
  // Only while a content change is being animated; hover changes are ignored then.
  bool animating = false;
  // Below 1 where the cells at their full size would not fit the screen's
  // visible frame: every cell, with the gaps between columns, is drawn and
  // laid out at this scale.
  double cellScale = 1;
};
