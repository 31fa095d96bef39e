#pragma once
// Drawing of the placed tree with cairo. Internal to the toolkit.

#include <memory>
#include <optional>

#include "platform/image/Bitmap.h"
#include "platform/ui/Node.h"

typedef struct _cairo_surface cairo_surface_t;

namespace ui::detail {

// A bitmap of `size` points at `scale` pixels per point (at least one pixel).
img::Bitmap renderTree(const Node* root, Size size, double scale);

// A bitmap kept from frame to frame, as a window's backing store is: each
// draw redraws only where the placed tree's drawing changed since the last
// one (everything after a change of size or scale).
class BackingStore {
 public:
  BackingStore();
  ~BackingStore();
  BackingStore(const BackingStore&) = delete;
  BackingStore& operator=(const BackingStore&) = delete;

  const img::Bitmap& draw(const Node* root, Size size, double scale);

  struct Record;

 private:
  cairo_surface_t* surface_ = nullptr;
  std::optional<img::Bitmap> bitmap_;
  double scale_ = 0;
  std::unique_ptr<Record> last_;
};

}  // namespace ui::detail
