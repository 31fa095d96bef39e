#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/image/Bitmap.h"
#include "platform/image/Geometry.h"

namespace img {

// An image with a size in points and its bitmap representations (the
// platform's image object). Like the platform's, it is a reference: copies
// refer to one image, and a change through one copy is seen through all.
class Image {
 public:
  // An empty image: size zero, no representation.
  Image();
  // initWithSize: an image of that size in points, without representations.
  explicit Image(Size size);
  // An image of one bitmap whose size in points equals its size in pixels.
  static Image withBitmap(Bitmap bitmap);
  // initWithData: a PNG or JPEG in memory; nothing when it cannot be decoded.
  static std::optional<Image> withData(std::span<const uint8_t> data);
  // initWithContentsOfFile: a PNG file; nothing when it cannot be read.
  static std::optional<Image> withContentsOfFile(const std::string& path);

  Size size() const;
  void setSize(Size size);

  void addRepresentation(std::shared_ptr<const Bitmap> bitmap);
  void addRepresentation(Bitmap bitmap);
  std::vector<std::shared_ptr<const Bitmap>> representations() const;

  // The representation with the most pixels (the first of equals); null
  // without representations.
  std::shared_ptr<const Bitmap> bestRepresentation() const;

  // The Quartz image of the image (CGImageForProposedRect:context:hints: with
  // no rectangle, context or hints): its best representation, or null when the
  // image has none or its size is empty or not finite.
  std::shared_ptr<const Bitmap> cgImage() const;

  // Whether both refer to the same image object.
  bool isSameObject(const Image& other) const { return state_ == other.state_; }

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace img
