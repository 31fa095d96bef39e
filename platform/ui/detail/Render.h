#pragma once
// Drawing of the placed tree with cairo. Internal to the toolkit.

#include "platform/image/Bitmap.h"
#include "platform/ui/Node.h"

namespace ui::detail {

// A bitmap of `size` points at `scale` pixels per point (at least one pixel).
img::Bitmap renderTree(const Node* root, Size size, double scale);

}  // namespace ui::detail
