#pragma once

#include <optional>

#include "platform/image/Bitmap.h"
#include "platform/image/Image.h"

namespace img {

// Redraws a bitmap into a new 8-bit RGBA bitmap of the given pixel size,
// replacing every pixel (copy compositing). Each axis is filtered on its own:
// area averaging where it shrinks (every source pixel weighted by the part of
// it a destination pixel covers), bilinear interpolation between pixel centres
// where it grows or keeps its size. Colours are filtered premultiplied, so
// transparent pixels lend no colour to their neighbours. Nothing when the size
// is not a valid bitmap size.
std::optional<Bitmap> redraw(const Bitmap& source, int pixelsWide, int pixelsHigh);

// Draws an image, from its best representation, into a new bitmap of the
// given pixel size. Nothing when the image has no representation or the size
// is not a valid bitmap size.
std::optional<Bitmap> drawImage(const Image& image, int pixelsWide, int pixelsHigh);

}  // namespace img
