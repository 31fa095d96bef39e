#include "Tincture/ImageColorError.h"

namespace tincture {

const char* ImageColorError::what() const noexcept {
  switch (code_) {
    case nsImageResizeFailure: return "nsImageResizeFailure";
    case ciImageFailure: return "ciImageFailure";
    case cgImageFailure: return "cgImageFailure";
    case cgImageDataFailure: return "cgImageDataFailure";
    case outputImageFailure: return "outputImageFailure";
  }
  return "ImageColorError";
}

}  // namespace tincture
