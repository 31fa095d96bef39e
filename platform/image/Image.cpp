#include "platform/image/Image.h"

#include <mutex>

#include "platform/image/Decode.h"
#include "platform/image/PNG.h"

namespace img {

struct Image::State {
  mutable std::mutex mutex;
  Size size;
  std::vector<std::shared_ptr<const Bitmap>> representations;
};

Image::Image() : state_(std::make_shared<State>()) {}

Image::Image(Size size) : Image() { state_->size = size; }

Image Image::withBitmap(Bitmap bitmap) {
  Image image(Size{static_cast<double>(bitmap.pixelsWide()), static_cast<double>(bitmap.pixelsHigh())});
  image.addRepresentation(std::move(bitmap));
  return image;
}

std::optional<Image> Image::withData(std::span<const uint8_t> data) {
  auto bitmap = isJPEG(data) ? decodeJPEG(data) : decodePNG(data);
  if (!bitmap) return std::nullopt;
  return withBitmap(std::move(*bitmap));
}

std::optional<Image> Image::withContentsOfFile(const std::string& path) {
  auto bitmap = loadPNG(path);
  if (!bitmap) return std::nullopt;
  return withBitmap(std::move(*bitmap));
}

Size Image::size() const {
  std::lock_guard lock(state_->mutex);
  return state_->size;
}

void Image::setSize(Size size) {
  std::lock_guard lock(state_->mutex);
  state_->size = size;
}

void Image::addRepresentation(std::shared_ptr<const Bitmap> bitmap) {
  if (!bitmap) return;
  std::lock_guard lock(state_->mutex);
  state_->representations.push_back(std::move(bitmap));
}

void Image::addRepresentation(Bitmap bitmap) { addRepresentation(std::make_shared<const Bitmap>(std::move(bitmap))); }

std::vector<std::shared_ptr<const Bitmap>> Image::representations() const {
  std::lock_guard lock(state_->mutex);
  return state_->representations;
}

std::shared_ptr<const Bitmap> Image::bestRepresentation() const {
  std::lock_guard lock(state_->mutex);
  std::shared_ptr<const Bitmap> best;
  long long bestPixels = -1;
  for (const auto& rep : state_->representations) {
    const long long pixels = static_cast<long long>(rep->pixelsWide()) * rep->pixelsHigh();
    if (pixels > bestPixels) {
      best = rep;
      bestPixels = pixels;
    }
  }
  return best;
}

std::shared_ptr<const Bitmap> Image::cgImage() const {
  const Size s = size();
  if (!s.isFinite() || !(s.width > 0) || !(s.height > 0)) return nullptr;
  return bestRepresentation();
}

}  // namespace img
