#pragma once
// Encoders the image tests and benchmarks use to make their inputs: JPEG
// through libjpeg and PNG through libpng, exact for every alpha and
// interlaced when asked (cairo's PNG goes through premultiplied pixels and is
// never interlaced). Inputs are valid, so the libraries' default error
// handling is enough.

#include <jpeglib.h>
#include <png.h>

#include <cstdint>
#include <vector>

#include "platform/image/Bitmap.h"

namespace imagetest {

inline std::vector<uint8_t> encodeJPEG(const img::Bitmap& bitmap, int quality = 90, bool progressive = false) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(bitmap.pixelsWide());
  info.image_height = static_cast<JDIMENSION>(bitmap.pixelsHigh());
  info.input_components = 4;
  info.in_color_space = JCS_EXT_RGBA;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    auto row = const_cast<JSAMPROW>(bitmap.row(static_cast<int>(info.next_scanline)).data());
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<uint8_t> out(buffer, buffer + size);
  free(buffer);
  return out;
}

inline void appendPNG(png_structp png, png_bytep data, std::size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

inline std::vector<uint8_t> encodePNG(const img::Bitmap& bitmap, bool interlaced = false) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, appendPNG, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.pixelsWide()),
               static_cast<png_uint_32>(bitmap.pixelsHigh()), 8, PNG_COLOR_TYPE_RGBA,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_bytep> rows;
  for (int y = 0; y < bitmap.pixelsHigh(); ++y) rows.push_back(const_cast<png_bytep>(bitmap.row(y).data()));
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace imagetest
