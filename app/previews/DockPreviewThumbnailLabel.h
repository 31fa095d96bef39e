#pragma once
// The row under a window thumbnail: a badge that says where the window lies
// when it is not on the display and Space the user looks at, then its title.

#include "app/previews/DockPreviewContent.h"
#include "platform/ui/View.h"

struct DockPreviewThumbnailLabel {
  DockPreviewThumbnailContent thumbnailContent;

  ui::View body() const;
};
