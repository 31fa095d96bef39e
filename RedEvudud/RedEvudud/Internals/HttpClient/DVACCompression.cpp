#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACCompression.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"

namespace {

// A gzip wrapper around the deflate stream.
constexpr int kGzipWindowBits = 31;
constexpr int kMemoryLevel = 8;
// Outside zlib's range of levels, so deflateInit2_ refuses it.
constexpr int kInvalidLevelForTesting = 42;

std::atomic<bool> failsForTesting{false};

std::string initErrorDescription(int code) {
  switch (code) {
    case Z_VERSION_ERROR:
      return "Version of zlib.h & libz library do not match!";
    case Z_MEM_ERROR:
      return "Not enough memory.";
    case Z_STREAM_ERROR:
      return "Invalid parameter passed in to function.";
    default:
      return "Unknown error!";
  }
}

std::string deflateErrorDescription(int code) {
  switch (code) {
    case Z_STREAM_ERROR:
      return "Inconsistent stream state.";
    case Z_BUF_ERROR:
      return "No progress is possible.";
    default:
      return "Unknown error!";
  }
}

}  // namespace

void DVACCompression::setFailsForTesting(bool fails) { failsForTesting.store(fails); }

std::optional<ns::Data> DVACCompression::compressData(const std::optional<ns::Data>& data) {
  if (!data || data->empty()) return std::nullopt;
  const ns::Data& input = *data;
  // zlib counts input and output in 32-bit units; one pass cannot take more.
  if (input.size() > std::numeric_limits<uInt>::max() / 2) {
    DVACLogError(kDVACLogTag, "Compression failed with error: " + initErrorDescription(Z_STREAM_ERROR));
    return std::nullopt;
  }

  z_stream stream{};
  const int level = failsForTesting.load() ? kInvalidLevelForTesting : Z_DEFAULT_COMPRESSION;
  const int initStatus = deflateInit2_(&stream, level, Z_DEFLATED, kGzipWindowBits, kMemoryLevel,
                                       Z_DEFAULT_STRATEGY, ZLIB_VERSION, static_cast<int>(sizeof(z_stream)));
  if (initStatus != Z_OK) {
    DVACLogError(kDVACLogTag, "Compression failed with error: " + initErrorDescription(initStatus));
    return std::nullopt;
  }

  // length x 1.01 + 12 covers deflate's own worst case for large inputs; the
  // gzip wrapper needs more than that for small ones, so never go below
  // zlib's bound.
  const auto length = static_cast<size_t>(static_cast<double>(input.size()) * 1.01 + 12);
  const size_t bound = deflateBound(&stream, static_cast<uLong>(input.size()));
  ns::Data output(std::max(length, bound));

  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  int status = Z_OK;
  while (status == Z_OK) {
    if (stream.total_out >= output.size()) output.resize(output.size() * 2);
    stream.next_out = output.data() + stream.total_out;
    stream.avail_out = static_cast<uInt>(output.size() - stream.total_out);
    status = deflate(&stream, Z_FINISH);
  }
  if (status != Z_STREAM_END) {
    DVACLogError(kDVACLogTag, "Deflate failed with error: " + deflateErrorDescription(status));
    deflateEnd(&stream);
    return std::nullopt;
  }
  output.resize(stream.total_out);
  deflateEnd(&stream);
  return output;
}
