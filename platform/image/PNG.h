#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/image/Bitmap.h"

namespace img {

// PNG through cairo. Decoded images come back as 8-bit RGBA with straight
// alpha whatever the file's own format. Colours of fully opaque pixels survive
// a save and load exactly; partly transparent ones go through cairo's
// premultiplied pixels and may move by one step. Failures yield nothing or
// false, never a partial result.
std::optional<Bitmap> loadPNG(const std::string& path);
std::optional<Bitmap> decodePNG(std::span<const uint8_t> data);
bool savePNG(const Bitmap& bitmap, const std::string& path);
std::optional<std::vector<uint8_t>> encodePNG(const Bitmap& bitmap);

}  // namespace img
