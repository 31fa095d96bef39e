#pragma once
// Opaque pixels the image tests paint with.

#include "platform/image/Bitmap.h"

namespace imagetest {

inline constexpr img::Pixel kRed{255, 0, 0, 255};
inline constexpr img::Pixel kGreen{0, 255, 0, 255};
inline constexpr img::Pixel kBlue{0, 0, 255, 255};

}  // namespace imagetest
