#include "platform/image/Decode.h"

// Both libraries report fatal errors by longjmp. The functions that call
// setjmp (readPNG, readJPEG) hold nothing with a destructor: every C++ object
// lives in the job they are given, owned by their caller's frame, and the C++
// code they call returns before any library call that may jump.
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace img {
namespace {

constexpr std::size_t kMessageLength = 200;

// Averages rows of RGBA pixels into a smaller bitmap: each source pixel adds
// to the one or two result pixels its area overlaps along each axis, in
// proportion, with premultiplied colours so transparent pixels lend none.
class AreaShrinker {
 public:
  AreaShrinker(int sourceWide, int sourceHigh, int wide, int high)
      : sourceWide_(sourceWide), sourceHigh_(sourceHigh), wide_(wide), high_(high),
        columns_(static_cast<std::size_t>(sourceWide)), row_(static_cast<std::size_t>(wide) * 4),
        current_(row_.size()), next_(row_.size()) {
    const double scale = static_cast<double>(wide) / sourceWide;
    for (int x = 0; x < sourceWide; ++x) columns_[static_cast<std::size_t>(x)] = split(x, scale, wide);
    result_ = Bitmap::create(wide, high);
  }

  bool valid() const { return result_.has_value(); }

  void addRow(const uint8_t* rgba) {
    std::fill(row_.begin(), row_.end(), 0.0f);
    for (int x = 0; x < sourceWide_; ++x) {
      const uint8_t* p = rgba + static_cast<std::size_t>(x) * 4;
      const float a = p[3];
      const float premultiplied[4] = {p[0] * a / 255.0f, p[1] * a / 255.0f, p[2] * a / 255.0f, a};
      const Split& s = columns_[static_cast<std::size_t>(x)];
      add(row_, s.first, premultiplied, s.weight);
      if (s.weight < 1.0f && s.first + 1 < wide_) add(row_, s.first + 1, premultiplied, 1.0f - s.weight);
    }
    const Split s = split(sourceRow_, static_cast<double>(high_) / sourceHigh_, high_);
    ++sourceRow_;
    while (s.first > currentRow_) emitRow();
    accumulate(current_, s.weight);
    if (s.weight < 1.0f && s.first + 1 < high_) accumulate(next_, 1.0f - s.weight);
  }

  std::optional<Bitmap> finish() {
    while (currentRow_ < high_) emitRow();
    return std::move(result_);
  }

 private:
  struct Split {
    int first = 0;       // the first result pixel the source pixel overlaps
    float weight = 1.0;  // the part of the source pixel inside it; the rest is in the next
  };

  // Source pixel i spans [i, i + 1) x scale in result pixels.
  static Split split(int i, double scale, int limit) {
    const double start = i * scale;
    const double end = (i + 1) * scale;
    const int first = std::min(static_cast<int>(std::floor(start)), limit - 1);
    const double inFirst = std::min(end, static_cast<double>(first + 1)) - start;
    return Split{first, static_cast<float>(inFirst / (end - start))};
  }

  static void add(std::vector<float>& row, int x, const float* value, float weight) {
    float* target = row.data() + static_cast<std::size_t>(x) * 4;
    for (int c = 0; c < 4; ++c) target[c] += value[c] * weight;
  }

  void accumulate(std::vector<float>& target, float weight) {
    // A source row's weight within a result pixel is its share of the height.
    const float share = weight * static_cast<float>(high_) / static_cast<float>(sourceHigh_);
    for (std::size_t i = 0; i < row_.size(); ++i) target[i] += row_[i] * share;
  }

  void emitRow() {
    // Each source column's weights sum to one result column's share of it.
    const float columnShare = static_cast<float>(wide_) / static_cast<float>(sourceWide_);
    for (int x = 0; x < wide_; ++x) {
      const float* v = current_.data() + static_cast<std::size_t>(x) * 4;
      const float a = v[3] * columnShare;
      Pixel p;
      if (a > 0.0f) {
        auto channel = [&](float c) {
          return static_cast<uint8_t>(std::clamp(std::lround(c * columnShare * 255.0f / a), 0L, 255L));
        };
        p = Pixel{channel(v[0]), channel(v[1]), channel(v[2]),
                  static_cast<uint8_t>(std::clamp(std::lround(a), 0L, 255L))};
      }
      result_->setPixel(x, currentRow_, p);
    }
    current_.swap(next_);
    std::fill(next_.begin(), next_.end(), 0.0f);
    ++currentRow_;
  }

  const int sourceWide_, sourceHigh_, wide_, high_;
  std::vector<Split> columns_;
  std::vector<float> row_, current_, next_;
  int sourceRow_ = 0;
  int currentRow_ = 0;
  std::optional<Bitmap> result_;
};

// The result's size: the source fitted into the box, aspect kept, never enlarged.
void fit(int wide, int high, int maxWide, int maxHigh, int& outWide, int& outHigh) {
  const double scale = std::min({1.0, static_cast<double>(maxWide) / wide, static_cast<double>(maxHigh) / high});
  outWide = std::max(1, static_cast<int>(std::lround(wide * scale)));
  outHigh = std::max(1, static_cast<int>(std::lround(high * scale)));
}

// What a read produces, and where its C++ state lives.
struct Job {
  std::span<const uint8_t> data;
  std::size_t offset = 0;  // PNG read position
  int maxWide = 0;
  int maxHigh = 0;
  std::vector<uint8_t> rows;  // one row, or a whole interlaced PNG
  std::optional<AreaShrinker> shrinker;
  char message[kMessageLength] = {};

  void fail(const char* prefix, const char* what) { std::snprintf(message, sizeof message, "%s%s", prefix, what); }

  bool tooLarge(std::uint32_t wide, std::uint32_t high, std::int64_t limit) {
    constexpr auto kMax = static_cast<std::uint32_t>(kMaxSourceDimension);
    if (wide <= kMax && high <= kMax && static_cast<std::int64_t>(wide) * high <= limit) {
      return false;
    }
    std::snprintf(message, sizeof message, "image too large (%ux%u)", wide, high);
    return true;
  }

  // Sets up the rows and the shrinker for a source that will be delivered at
  // sourceWide x sourceHigh, the result sized from the original size.
  bool begin(int originalWide, int originalHigh, int sourceWide, int sourceHigh, std::size_t rowCount) {
    int wide = 0;
    int high = 0;
    fit(originalWide, originalHigh, maxWide, maxHigh, wide, high);
    wide = std::min(wide, sourceWide);
    high = std::min(high, sourceHigh);
    rows.assign(static_cast<std::size_t>(sourceWide) * 4 * rowCount, 0);
    shrinker.emplace(sourceWide, sourceHigh, wide, high);
    if (!shrinker->valid()) fail("", "image size not supported");
    return shrinker->valid();
  }
};

// ---------------------------------------------------------------- PNG

struct PNGFailure {
  std::jmp_buf jump;
  Job* job;
};

void readPNGData(png_structp png, png_bytep out, std::size_t length) {
  auto* job = static_cast<Job*>(png_get_io_ptr(png));
  if (job->data.size() - job->offset < length) png_error(png, "truncated data");
  std::memcpy(out, job->data.data() + job->offset, length);
  job->offset += length;
}

void onPNGError(png_structp png, png_const_charp message) {
  auto* failure = static_cast<PNGFailure*>(png_get_error_ptr(png));
  if (failure->job->message[0] == '\0') failure->job->fail("PNG: ", message);
  std::longjmp(failure->jump, 1);
}

void onPNGWarning(png_structp, png_const_charp) {}

bool readPNG(Job& job) {
  PNGFailure failure{{}, &job};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, onPNGError, onPNGWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  if (setjmp(failure.jump)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &job, readPNGData);
  png_read_info(png, info);

  const png_uint_32 wide = png_get_image_width(png, info);
  const png_uint_32 high = png_get_image_height(png, info);
  const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  if (job.tooLarge(wide, high, interlaced ? kMaxInterlacedPixels : kMaxSourcePixels)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  // Every format becomes 8-bit RGBA.
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_filler(png, 0xff, PNG_FILLER_AFTER);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<std::size_t>(wide) * 4 ||
      !job.begin(static_cast<int>(wide), static_cast<int>(high), static_cast<int>(wide), static_cast<int>(high),
                 passes > 1 ? high : 1)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  const std::size_t stride = static_cast<std::size_t>(wide) * 4;
  if (passes > 1) {
    // Each pass fills in more of every row: the image is read whole first.
    for (int pass = 0; pass < passes; ++pass) {
      for (png_uint_32 y = 0; y < high; ++y) png_read_row(png, job.rows.data() + y * stride, nullptr);
    }
    for (png_uint_32 y = 0; y < high; ++y) job.shrinker->addRow(job.rows.data() + y * stride);
  } else {
    for (png_uint_32 y = 0; y < high; ++y) {
      png_read_row(png, job.rows.data(), nullptr);
      job.shrinker->addRow(job.rows.data());
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// ---------------------------------------------------------------- JPEG

struct JPEGFailure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  Job* job;
};

void onJPEGError(j_common_ptr info) {
  auto* failure = reinterpret_cast<JPEGFailure*>(info->err);
  Job& job = *failure->job;
  if (job.message[0] == '\0') {
    if (info->err->msg_code == JERR_NO_BACKING_STORE) {
      // The whole-image buffers would pass max_memory_to_use.
      const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
      std::snprintf(job.message, sizeof job.message, "image needs more than %zu MiB to decode (%ux%u)",
                    kMaxWholeImageBytes >> 20, decompress->image_width, decompress->image_height);
    } else {
      char text[JMSG_LENGTH_MAX] = {};
      (*info->err->format_message)(info, text);
      job.fail("JPEG: ", text);
    }
  }
  std::longjmp(failure->jump, 1);
}

// Warnings (damaged but readable data) are not printed.
void onJPEGMessage(j_common_ptr) {}

bool readJPEG(Job& job) {
  // Zeroed: a jump before the decoder is set up finds nothing to destroy.
  jpeg_decompress_struct info{};
  JPEGFailure failure{};
  failure.job = &job;
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = onJPEGError;
  failure.manager.output_message = onJPEGMessage;
  if (setjmp(failure.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, job.data.data(), static_cast<unsigned long>(job.data.size()));
  jpeg_read_header(&info, TRUE);
  const JDIMENSION wide = info.image_width;
  const JDIMENSION high = info.image_height;
  if (job.tooLarge(wide, high, kMaxSourcePixels)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  // The decoder scales by 1/2, 1/4 or 1/8 for little more than the cost of
  // the entropy decoding: the largest step that still leaves the result's size.
  int target = 0;
  int targetHigh = 0;
  fit(static_cast<int>(wide), static_cast<int>(high), job.maxWide, job.maxHigh, target, targetHigh);
  unsigned denominator = 1;
  for (unsigned d : {8u, 4u, 2u}) {
    if ((wide + d - 1) / d >= static_cast<JDIMENSION>(target) &&
        (high + d - 1) / d >= static_cast<JDIMENSION>(targetHigh)) {
      denominator = d;
      break;
    }
  }
  info.scale_num = 1;
  info.scale_denom = denominator;
  info.out_color_space = JCS_EXT_RGBA;
  // A progressive or multi-scan JPEG keeps every coefficient of the image
  // (some 3 bytes a pixel) in arrays the library sizes against this limit;
  // without a backing store, arrays that pass it fail the decode up front.
  info.mem->max_memory_to_use = static_cast<long>(kMaxWholeImageBytes);
  jpeg_start_decompress(&info);
  if (!job.begin(static_cast<int>(wide), static_cast<int>(high), static_cast<int>(info.output_width),
                 static_cast<int>(info.output_height), 1)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = job.rows.data();
    jpeg_read_scanlines(&info, &row, 1);
    job.shrinker->addRow(job.rows.data());
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

std::optional<Bitmap> run(std::span<const uint8_t> data, int maxWide, int maxHigh, std::string* error) {
  Job job;
  job.data = data;
  job.maxWide = std::max(1, maxWide);
  job.maxHigh = std::max(1, maxHigh);
  bool done = false;
  try {
    if (isPNG(data)) {
      done = readPNG(job);
    } else if (isJPEG(data)) {
      done = readJPEG(job);
    } else {
      job.fail("", "not a PNG or JPEG image");
    }
  } catch (const std::bad_alloc&) {
    job.fail("", "out of memory");
    done = false;
  }
  if (!done || !job.shrinker) {
    if (error) *error = job.message[0] ? job.message : "cannot be decoded";
    return std::nullopt;
  }
  return job.shrinker->finish();
}

}  // namespace

bool isPNG(std::span<const uint8_t> data) {
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  return data.size() >= 8 && std::equal(kSignature, kSignature + 8, data.begin());
}

bool isJPEG(std::span<const uint8_t> data) {
  return data.size() >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff;
}

std::optional<Bitmap> decodeImageFitting(std::span<const uint8_t> data, int maxPixelsWide, int maxPixelsHigh,
                                         std::string* error) {
  return run(data, maxPixelsWide, maxPixelsHigh, error);
}

std::optional<Bitmap> decodeJPEG(std::span<const uint8_t> data, std::string* error) {
  if (!isJPEG(data)) {
    if (error) *error = "not a JPEG image";
    return std::nullopt;
  }
  return run(data, kMaxSourceDimension, kMaxSourceDimension, error);
}

}  // namespace img
