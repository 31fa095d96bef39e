#pragma once
// The badge laid over a hovered thumbnail when its window is not where the
// user looks: on another display (a display glyph with a chevron pointing at
// it), or on another Space of this display. Nothing otherwise.

#include "app/previews/DockPreviewContent.h"
#include "platform/ui/View.h"

struct DockPreviewThumbnailPositionIndicatorOverlay {
  DockPreviewThumbnailContent thumbnailContent;
  bool highlighted = false;

  ui::View body() const;
};
