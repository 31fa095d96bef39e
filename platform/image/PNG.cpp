#include "platform/image/PNG.h"

#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/foundation/AtomicFile.h"

namespace img {
namespace {

struct SurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// cairo's limit on image surfaces.
constexpr int kCairoMaxDimension = 32767;

std::optional<Bitmap> bitmapFromSurface(cairo_surface_t* loaded) {
  if (!loaded || cairo_surface_status(loaded) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  const int width = cairo_image_surface_get_width(loaded);
  const int height = cairo_image_surface_get_height(loaded);
  auto bitmap = Bitmap::create(width, height);
  if (!bitmap) return std::nullopt;

  // Bring every cairo format to ARGB32 by painting it.
  Surface argb(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  if (cairo_surface_status(argb.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  cairo_t* cr = cairo_create(argb.get());
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, loaded, 0, 0);
  cairo_paint(cr);
  const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  if (!drawn) return std::nullopt;
  cairo_surface_flush(argb.get());

  const unsigned char* data = cairo_image_surface_get_data(argb.get());
  const int stride = cairo_image_surface_get_stride(argb.get());
  if (!data) return std::nullopt;
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<std::size_t>(y) * stride);
    for (int x = 0; x < width; ++x) {
      const uint32_t v = row[x];  // native-endian premultiplied ARGB
      const unsigned a = v >> 24;
      Pixel p{0, 0, 0, static_cast<uint8_t>(a)};
      if (a > 0) {
        auto unpremultiply = [a](unsigned c) { return static_cast<uint8_t>(std::min(255u, (c * 255 + a / 2) / a)); };
        p.r = unpremultiply((v >> 16) & 0xff);
        p.g = unpremultiply((v >> 8) & 0xff);
        p.b = unpremultiply(v & 0xff);
      }
      bitmap->setPixel(x, y, p);
    }
  }
  return bitmap;
}

Surface surfaceFromBitmap(const Bitmap& bitmap) {
  if (bitmap.pixelsWide() > kCairoMaxDimension || bitmap.pixelsHigh() > kCairoMaxDimension) return nullptr;
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bitmap.pixelsWide(), bitmap.pixelsHigh()));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_flush(surface.get());
  unsigned char* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  for (int y = 0; y < bitmap.pixelsHigh(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<std::size_t>(y) * stride);
    for (int x = 0; x < bitmap.pixelsWide(); ++x) {
      const Pixel p = bitmap.pixel(x, y);
      auto premultiply = [&p](unsigned c) -> uint32_t { return (c * p.a + 127) / 255; };
      row[x] = (uint32_t{p.a} << 24) | (premultiply(p.r) << 16) | (premultiply(p.g) << 8) | premultiply(p.b);
    }
  }
  cairo_surface_mark_dirty(surface.get());
  return surface;
}

struct ReadCursor {
  std::span<const uint8_t> data;
  std::size_t offset = 0;
};

cairo_status_t readChunk(void* closure, unsigned char* out, unsigned int length) {
  auto* cursor = static_cast<ReadCursor*>(closure);
  if (cursor->data.size() - cursor->offset < length) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(out, cursor->data.data() + cursor->offset, length);
  cursor->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

cairo_status_t writeChunk(void* closure, const unsigned char* in, unsigned int length) {
  auto* out = static_cast<std::vector<uint8_t>*>(closure);
  out->insert(out->end(), in, in + length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::optional<Bitmap> loadPNG(const std::string& path) {
  Surface loaded(cairo_image_surface_create_from_png(path.c_str()));
  return bitmapFromSurface(loaded.get());
}

std::optional<Bitmap> decodePNG(std::span<const uint8_t> data) {
  ReadCursor cursor{data};
  Surface loaded(cairo_image_surface_create_from_png_stream(&readChunk, &cursor));
  return bitmapFromSurface(loaded.get());
}

bool savePNG(const Bitmap& bitmap, const std::string& path) {
  // Encoded in memory first and moved into place whole, so a failed save
  // leaves any earlier file untouched.
  const auto encoded = encodePNG(bitmap);
  if (!encoded || path.empty()) return false;
  return ns::writeFileAtomically(path, *encoded, 0644) == 0;
}

std::optional<std::vector<uint8_t>> encodePNG(const Bitmap& bitmap) {
  Surface surface = surfaceFromBitmap(bitmap);
  if (!surface) return std::nullopt;
  std::vector<uint8_t> out;
  if (cairo_surface_write_to_png_stream(surface.get(), &writeChunk, &out) != CAIRO_STATUS_SUCCESS) {
    return std::nullopt;
  }
  return out;
}

}  // namespace img
