#pragma once
// One window of the Dock preview: the capture with rounded corners, shadow
// and highlight ring, the title row under it and, while it is hovered, the
// position badge and the buttons. It is the whole hit area of its window;
// every gesture is reported through the event handlers.

#include <optional>

#include "app/previews/DockPreviewContent.h"
#include "platform/ui/AppStorage.h"
#include "platform/ui/State.h"
#include "platform/ui/View.h"

struct DockPreviewThumbnailView {
  using ButtonAction = DockPreviewThumbnailContent::ButtonAction;

  // Around the whole thumbnail, inside its hit area.
  static constexpr double kPadding = 15;

  // Bound to "scrollPreviewSnappingEnabled"; the creator passes the
  // preference's current value as the fallback.
  ui::AppStorage<bool> scrollPreviewSnappingEnabled;
  ui::State<bool> showingSnapButtons{false};
  bool highlighted = false;
  std::optional<ButtonAction> highlightedButtonAction;
  DockPreviewThumbnailContent thumbnailContent;
  DockPreviewThumbnailEventHandlers eventHandlers;

  // The corner radius of a capture of that size: 9 for ordinary windows,
  // down to 1 for captures of at least 1900 x 1024 points.
  static double cornerRadius(double width, double height);

  ui::View body() const;

  // Equal when they show the same window the same way: the event handlers
  // are left out (the preview makes them from the content alone), so a
  // thumbnail that a re-render leaves equal keeps its evaluated body.
  friend bool operator==(const DockPreviewThumbnailView& a, const DockPreviewThumbnailView& b);
  // Whether a thumbnail of `a` draws and reports exactly as one of `b`
  // (the same capture object, title, badges, buttons and screen).
  static bool drawsSame(const DockPreviewThumbnailContent& a, const DockPreviewThumbnailContent& b);

  // The gestures, as the modifiers deliver them.
  void rightClicked() const;
  void scrollGestureTriggered(ScrollGestureProcessor::Direction direction, bool isFastSwipe) const;
  void hoverChanged(bool hovering) const;

 private:
  ui::View imageBlock() const;
};
