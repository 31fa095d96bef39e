#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/image/Bitmap.h"
#include "platform/image/Geometry.h"

namespace img {

// The few pieces of Core Image that colour analysis uses, over 8-bit RGBA
// bitmaps. Extents are in pixels with the origin at the top-left pixel; an
// image's extent is (0, 0, pixelsWide, pixelsHigh).
class CIImage {
 public:
  // An empty image: no pixels, empty extent.
  CIImage() = default;
  // initWithBitmapImageRep:
  explicit CIImage(std::shared_ptr<const Bitmap> bitmap);
  explicit CIImage(Bitmap bitmap);

  bool isEmpty() const { return !bitmap_; }
  Rect extent() const;
  const std::shared_ptr<const Bitmap>& bitmap() const { return bitmap_; }

  // imageBySettingAlphaOneInExtent: every pixel inside the extent becomes
  // opaque with its colour kept; pixels outside are unchanged.
  CIImage imageBySettingAlphaOneInExtent(Rect extent) const;

 private:
  std::shared_ptr<const Bitmap> bitmap_;
};

// CIAreaAverage: a 1 x 1 image at (0, 0) holding the average of the input
// over inputExtent. Pixels are weighted by the part of them the extent covers
// and colours are averaged premultiplied, so transparent pixels lend no
// colour; the area of the extent beyond the image counts as clear. No output
// without an input image or with an empty or non-finite extent.
struct CIAreaAverage {
  CIImage inputImage;
  Rect inputExtent;

  std::optional<CIImage> outputImage() const;
};

// CIKMeans: clusters the colours of the input inside inputExtent into
// inputCount clusters and returns them as an inputCount x 1 image, heaviest
// cluster first; a pixel's alpha is the cluster's share of the input
// (weighted by the pixels' alpha), its colour the cluster's mean colour.
// - Seeds are deterministic: inputMeans when it holds inputCount colours,
//   otherwise the heaviest colour first, then each time the colour with the
//   largest weight x squared distance to the seeds chosen so far (ties go to
//   the lower 0xRRGGBB value). With fewer distinct colours than clusters the
//   remaining seeds repeat and their clusters stay empty (alpha 0).
// - inputPasses rounds of assignment and update (0...20), stopping early once
//   no colour changes cluster. Empty clusters keep their mean.
// - inputPerceptual clusters in gamma-encoded sRGB (perceptually more even);
//   otherwise in linear-light RGB.
// No output without an input image, with an empty or non-finite extent, or
// with a count outside 1...128 or passes outside 0...20.
struct CIKMeans {
  CIImage inputImage;
  Rect inputExtent;
  int inputCount = 8;
  int inputPasses = 5;
  bool inputPerceptual = false;
  std::vector<Pixel> inputMeans;

  std::optional<CIImage> outputImage() const;
};

// CIContext: renders an image into caller memory as RGBA8, straight alpha.
class CIContext {
 public:
  // Renders the pixels of bounds (whole numbers, top-left origin) row by row;
  // pixels of bounds outside the image's extent are written as clear. Writes
  // nothing and returns false when bounds is not a whole, non-empty rectangle,
  // rowBytes is shorter than a row, or the buffer cannot hold every row.
  bool render(const CIImage& image, std::span<uint8_t> buffer, std::size_t rowBytes, Rect bounds) const;
};

}  // namespace img
