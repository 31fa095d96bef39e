#pragma once

#include <optional>

#include "Tincture/ImageColorError.h"
#include "platform/image/Color.h"
#include "platform/image/CoreImage.h"
#include "platform/image/Image.h"

namespace tincture {

// CIImage(image:): the Core Image image of an image's bitmap. Nothing when the
// image has no bitmap representation or an empty size.
std::optional<img::CIImage> ciImage(const img::Image& image);

// The image redrawn into a new 8-bit RGBA bitmap of the size in points
// truncated to whole pixels, in a new image of that point size; the image
// itself (the same object) when it already has that size. Nothing when the
// size gives no valid bitmap (below one pixel, not finite, too large) or the
// image has no bitmap to draw from.
std::optional<img::Image> resized(const img::Image& image, img::Size to);

// The average colour of the image, read back from one 8-bit RGBA pixel.
// Throws ImageColorError::ciImageFailure when the image has no usable bitmap.
img::Color averageColor(const img::Image& image);

}  // namespace tincture
