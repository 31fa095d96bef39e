#pragma once
// A picture of the whole simulated desktop as it stands: every display with
// its menu bar, the other applications' windows on the current Spaces, the
// Dock with its items, this program's own visible windows with their content
// drawn by the view toolkit, and the pointer.

#include <optional>
#include <string>

#include "platform/image/Bitmap.h"

namespace desktop {

// Pixels cover the union of the displays' frames; one point is `scale` pixels.
std::optional<img::Bitmap> snapshot(double scale = 1.0);
bool writeSnapshotPNG(const std::string& path, double scale = 1.0);

}  // namespace desktop
