#include "platform/image/Color.h"

#include <charconv>
#include <cmath>

namespace img {

std::string shortestDecimal(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

namespace {
std::string component(double value) {
  // Whole numbers without a fraction, the way colour descriptions read.
  std::string text = shortestDecimal(value);
  if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
  return text;
}
}  // namespace

std::string Color::description() const {
  return "sRGB " + component(red_) + " " + component(green_) + " " + component(blue_) + " " + component(alpha_);
}

}  // namespace img
