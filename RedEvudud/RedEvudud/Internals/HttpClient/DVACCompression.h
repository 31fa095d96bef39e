#pragma once
// gzip of request bodies.

#include <optional>

#include "platform/foundation/Value.h"

class DVACCompression {
 public:
  DVACCompression() = delete;

  // The data as one gzip member; nil for nil or empty input and on any
  // failure (logged).
  static std::optional<ns::Data> compressData(const std::optional<ns::Data>& data);

  // Makes every compression fail at stream set-up, the way a zlib that
  // rejects its parameters would; for tests of the callers' fallback.
  static void setFailsForTesting(bool fails);
};
