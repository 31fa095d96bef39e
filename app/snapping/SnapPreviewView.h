#pragma once
// The snap overlay's drawing: a rounded rectangle filling the window in the
// accent colour at 0.4 opacity with a 1-point border at 0.8, so the user sees
// where the window will land. The colour is read at every render.

#include "platform/ui/View.h"

struct SnapPreviewView {
  static constexpr double kCornerRadius = 10;
  static constexpr double kFillOpacity = 0.4;
  static constexpr double kBorderOpacity = 0.8;
  static constexpr double kBorderWidth = 1.0;

  ui::View body() const;
};
