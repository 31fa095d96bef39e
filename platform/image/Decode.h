#pragma once
// Compressed images decoded straight to a bounded size. The rows of the
// source are read one at a time (JPEG's own scaling does the coarse part) and
// averaged into the result, so memory follows the size of the result, not the
// size of the source: an 8000 x 8000 picture asked for at 160 x 160 never
// exists in memory at full size. Kinds that must be held whole before they
// can be shrunk (interlaced PNG, progressive or multi-scan JPEG) are refused
// when that would take more than kMaxWholeImageBytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/image/Bitmap.h"

namespace img {

// Sources beyond these are refused: decoding them would take too long.
inline constexpr int kMaxSourceDimension = 16384;
inline constexpr std::int64_t kMaxSourcePixels = std::int64_t{128} << 20;
// The most a decoder may hold of a whole image: an interlaced PNG's pixels,
// a progressive JPEG's coefficients.
inline constexpr std::size_t kMaxWholeImageBytes = std::size_t{64} << 20;
// Interlaced PNGs are read whole, as RGBA, before they are shrunk.
inline constexpr std::int64_t kMaxInterlacedPixels = static_cast<std::int64_t>(kMaxWholeImageBytes / 4);

bool isPNG(std::span<const uint8_t> data);
bool isJPEG(std::span<const uint8_t> data);

// A PNG or a JPEG (told apart by its signature) as 8-bit RGBA with straight
// alpha, shrunk with area averaging, aspect kept, to fit in maxPixelsWide x
// maxPixelsHigh; never enlarged. Nothing when the data is no such image, is
// damaged or is too large, with the reason in `error` when given.
std::optional<Bitmap> decodeImageFitting(std::span<const uint8_t> data, int maxPixelsWide, int maxPixelsHigh,
                                         std::string* error = nullptr);

// A JPEG at its own size.
std::optional<Bitmap> decodeJPEG(std::span<const uint8_t> data, std::string* error = nullptr);

}  // namespace img
