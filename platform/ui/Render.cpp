// Drawing of the placed tree with cairo.

#include "platform/ui/detail/Render.h"

#include <cairo.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <optional>
#include <cmath>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ui/Text.h"
#include "platform/ui/detail/Drawing.h"

namespace ui::detail {
namespace {

constexpr double kControlDisabledAlpha = 0.4;

void pathRoundedRect(cairo_t* cr, const Rect& r, double rw, double rh) {
  rw = std::max(0.0, std::min(rw, r.width / 2));
  rh = std::max(0.0, std::min(rh, r.height / 2));
  if (rw <= 0 || rh <= 0) {
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    return;
  }
  cairo_new_sub_path(cr);
  auto corner = [&](double cx, double cy, double a0) {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rw, rh);
    cairo_arc(cr, 0, 0, 1, a0, a0 + M_PI / 2);
    cairo_restore(cr);
  };
  corner(r.maxX() - rw, r.y + rh, -M_PI / 2);
  corner(r.maxX() - rw, r.maxY() - rh, 0);
  corner(r.x + rw, r.maxY() - rh, M_PI / 2);
  corner(r.x + rw, r.y + rh, M_PI);
  cairo_close_path(cr);
}

// Continuous corners are drawn as circular ones.
void pathShape(cairo_t* cr, const Shape& s, const Rect& r) {
  switch (s.kind) {
    case Shape::Kind::rectangle:
      cairo_rectangle(cr, r.x, r.y, r.width, r.height);
      return;
    case Shape::Kind::roundedRectangle:
      pathRoundedRect(cr, r, s.cornerWidth, s.cornerHeight);
      return;
    case Shape::Kind::capsule: {
      double radius = std::min(r.width, r.height) / 2;
      pathRoundedRect(cr, r, radius, radius);
      return;
    }
    case Shape::Kind::circle: {
      double radius = std::min(r.width, r.height) / 2;
      cairo_new_sub_path(cr);
      cairo_arc(cr, r.midX(), r.midY(), radius, 0, 2 * M_PI);
      cairo_close_path(cr);
      return;
    }
    case Shape::Kind::ellipse:
      if (r.isEmpty()) return;
      cairo_save(cr);
      cairo_translate(cr, r.midX(), r.midY());
      cairo_scale(cr, r.width / 2, r.height / 2);
      cairo_new_sub_path(cr);
      cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
      cairo_close_path(cr);
      cairo_restore(cr);
      return;
  }
}

Color materialColor(Material m, VisualEffectState state) {
  Color c;
  switch (m) {
    case Material::popover: c = {0.965, 0.965, 0.965, 0.92}; break;
    case Material::menu: c = {0.97, 0.97, 0.97, 0.9}; break;
    case Material::hudWindow: c = {0.16, 0.16, 0.16, 0.85}; break;
    case Material::sidebar: c = {0.9, 0.9, 0.9, 0.85}; break;
    case Material::titlebar:
    case Material::headerView: c = {0.93, 0.93, 0.93, 0.95}; break;
    case Material::selection: c = {0.0, 0.478, 1.0, 0.75}; break;
    case Material::underWindowBackground:
    case Material::underPageBackground: c = {0.85, 0.85, 0.85, 0.9}; break;
    case Material::toolTip: c = {0.98, 0.98, 0.98, 0.95}; break;
    case Material::fullScreenUI: c = {0.94, 0.94, 0.94, 0.85}; break;
    default: c = {0.925, 0.925, 0.925, 1}; break;
  }
  // An inactive material loses its translucency.
  if (state == VisualEffectState::inactive) c = {0.925, 0.925, 0.925, 1};
  return c;
}

// Straight RGBA bitmaps as cairo surfaces, kept for the images drawn lately.
class SurfaceCache {
 public:
  cairo_surface_t* get(const std::shared_ptr<const img::Bitmap>& bitmap) {
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->bitmap == bitmap) {
        entries_.splice(entries_.begin(), entries_, it);
        return it->surface;
      }
    }
    int w = bitmap->pixelsWide(), h = bitmap->pixelsHigh();
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < h; ++y) {
      auto row = bitmap->row(y);
      auto* out = reinterpret_cast<uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
      for (int x = 0; x < w; ++x) {
        uint32_t r = row[4 * x], g = row[4 * x + 1], b = row[4 * x + 2], a = row[4 * x + 3];
        r = (r * a + 127) / 255;
        g = (g * a + 127) / 255;
        b = (b * a + 127) / 255;
        out[x] = (a << 24) | (r << 16) | (g << 8) | b;
      }
    }
    cairo_surface_mark_dirty(s);
    entries_.push_front({bitmap, s});
    while (entries_.size() > 128) {
      cairo_surface_destroy(entries_.back().surface);
      entries_.pop_back();
    }
    return s;
  }

 private:
  struct Entry {
    std::shared_ptr<const img::Bitmap> bitmap;
    cairo_surface_t* surface;
  };
  std::mutex mutex_;
  std::list<Entry> entries_;
};

SurfaceCache& surfaces() {
  static SurfaceCache* cache = new SurfaceCache();
  return *cache;
}

// Images already resampled to the pixel size they are drawn at, kept for the
// images drawn lately (most of them are drawn at the same size frame after
// frame), within a budget of pixels.
class ScaledImages {
 public:
  // The bitmap at w x h device pixels; null when too large to keep.
  cairo_surface_t* get(const std::shared_ptr<const img::Bitmap>& bitmap, int w, int h) {
    if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > kBudgetPixels / 4) return nullptr;
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->bitmap == bitmap && it->w == w && it->h == h) {
        entries_.splice(entries_.begin(), entries_, it);
        return it->surface;
      }
    }
    cairo_surface_t* source = surfaces().get(bitmap);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, static_cast<double>(w) / bitmap->pixelsWide(), static_cast<double>(h) / bitmap->pixelsHigh());
    cairo_set_source_surface(cr, source, 0, 0);
    const double shrink = std::max(bitmap->pixelsWide() / static_cast<double>(w), bitmap->pixelsHigh() / static_cast<double>(h));
    cairo_pattern_set_filter(cairo_get_source(cr), shrink > 2 ? CAIRO_FILTER_GOOD : CAIRO_FILTER_BILINEAR);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
    cairo_destroy(cr);
    entries_.push_front({bitmap, w, h, s});
    pixels_ += static_cast<std::int64_t>(w) * h;
    while (pixels_ > kBudgetPixels && entries_.size() > 1) {
      pixels_ -= static_cast<std::int64_t>(entries_.back().w) * entries_.back().h;
      cairo_surface_destroy(entries_.back().surface);
      entries_.pop_back();
    }
    return s;
  }

 private:
  static constexpr std::int64_t kBudgetPixels = 16 << 20;  // 64 MiB
  struct Entry {
    std::shared_ptr<const img::Bitmap> bitmap;
    int w, h;
    cairo_surface_t* surface;
  };
  std::mutex mutex_;
  std::list<Entry> entries_;
  std::int64_t pixels_ = 0;
};

ScaledImages& scaledImages() {
  static ScaledImages* cache = new ScaledImages();
  return *cache;
}

// Box blurs, three each way, approximate a gaussian of the shadow's radius.
// Outside the buffer is transparent.
void boxPass(const uint8_t* src, uint8_t* dst, int len, int lines, std::ptrdiff_t step, std::ptrdiff_t lineStep,
             int radius) {
  const int window = 2 * radius + 1;
  for (int l = 0; l < lines; ++l) {
    const uint8_t* in = src + l * lineStep;
    uint8_t* out = dst + l * lineStep;
    int sum = 0;
    for (int i = 0; i <= radius && i < len; ++i) sum += in[i * step];
    for (int i = 0; i < len; ++i) {
      out[i * step] = static_cast<uint8_t>(sum / window);
      int leaving = i - radius, entering = i + radius + 1;
      if (leaving >= 0) sum -= in[leaving * step];
      if (entering < len) sum += in[entering * step];
    }
  }
}

void blurAlpha(std::vector<uint8_t>& a, int w, int h, int radius) {
  if (radius <= 0) return;
  radius = std::max(1, radius / 2);
  std::vector<uint8_t> tmp(a.size());
  for (int i = 0; i < 3; ++i) {
    boxPass(a.data(), tmp.data(), w, h, 1, w, radius);
    boxPass(tmp.data(), a.data(), h, w, w, 1, radius);
  }
}

void pathShape(cairo_t* cr, const Shape& s, const Rect& r);

// Blurred masks of shapes, kept for the sizes drawn lately.
class ShadowMasks {
 public:
  cairo_surface_t* get(const Shape& shape, double w, double h, double radius, double margin, double scale) {
    std::lock_guard lock(mutex_);
    Key key{shape, w, h, radius, scale};
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->key == key) {
        entries_.splice(entries_.begin(), entries_, it);
        return it->surface;
      }
    }
    int pw = static_cast<int>(std::ceil((w + 2 * margin) * scale));
    int ph = static_cast<int>(std::ceil((h + 2 * margin) * scale));
    if (pw <= 0 || ph <= 0 || pw > 8192 || ph > 8192) return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A8, pw, ph);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, scale, scale);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    pathShape(cr, shape, {margin, margin, w, h});
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    std::vector<uint8_t> alpha(static_cast<std::size_t>(pw) * ph);
    for (int y = 0; y < ph; ++y) std::copy_n(data + static_cast<std::ptrdiff_t>(y) * stride, pw, alpha.data() + static_cast<std::size_t>(y) * pw);
    blurAlpha(alpha, pw, ph, static_cast<int>(std::lround(radius * scale)));
    for (int y = 0; y < ph; ++y) std::copy_n(alpha.data() + static_cast<std::size_t>(y) * pw, pw, data + static_cast<std::ptrdiff_t>(y) * stride);
    cairo_surface_mark_dirty(s);
    entries_.push_front({key, s});
    while (entries_.size() > 64) {
      cairo_surface_destroy(entries_.back().surface);
      entries_.pop_back();
    }
    return s;
  }

 private:
  struct Key {
    Shape shape;
    double w, h, radius, scale;
    bool operator==(const Key&) const = default;
  };
  struct Entry {
    Key key;
    cairo_surface_t* surface;
  };
  std::mutex mutex_;
  std::list<Entry> entries_;
};

ShadowMasks& shadowMasks() {
  static ShadowMasks* masks = new ShadowMasks();
  return *masks;
}

class Renderer {
 public:
  // `visible`, when given, tells whether a node can draw inside the region
  // being redrawn; nodes that cannot are skipped with their subtrees.
  Renderer(cairo_t* cr, double scale, std::function<bool(const Node&)> visible = {})
      : cr_(cr), scale_(scale), visible_(std::move(visible)) {}

  void draw(const Node& n) {
    if (n.collapsed || n.kind == NodeKind::hidden) return;
    if (visible_ && !visible_(n)) return;
    const Element& e = n.el();
    switch (n.kind) {
      case NodeKind::color:
        setColor(cr_, e.color);
        cairo_rectangle(cr_, n.frame.x, n.frame.y, n.frame.width, n.frame.height);
        cairo_fill(cr_);
        return;
      case NodeKind::gradient:
        drawGradient(n);
        return;
      case NodeKind::shape:
        drawShape(n);
        return;
      case NodeKind::text:
        drawText(cr_, e.drawing->text, n.env->font, n.frame, n.foreground(), n.env->lineLimit,
                 n.env->multilineTextAlignment);
        return;
      case NodeKind::symbol:
        drawSymbol(cr_, e.drawing->text, n.env->font, n.frame, n.foreground());
        return;
      case NodeKind::image:
        drawImage(n);
        return;
      case NodeKind::divider:
        setColor(cr_, Color::separatorColor());
        cairo_rectangle(cr_, n.frame.x, n.frame.y, n.frame.width, n.frame.height);
        cairo_fill(cr_);
        return;
      case NodeKind::visualEffect:
        setColor(cr_, materialColor(e.material, e.effectState));
        cairo_rectangle(cr_, n.frame.x, n.frame.y, n.frame.width, n.frame.height);
        cairo_fill(cr_);
        return;
      case NodeKind::clip:
        drawClipped(n);
        return;
      case NodeKind::opacity:
        if (e.opacity <= 0) return;
        inGroup(n, [&] { children(n); }, [&] { cairo_paint_with_alpha(cr_, std::min(1.0, e.opacity)); });
        return;
      case NodeKind::scale: {
        double ax = n.frame.x + e.drawing->anchor.x * n.frame.width,
               ay = n.frame.y + e.drawing->anchor.y * n.frame.height;
        cairo_save(cr_);
        cairo_translate(cr_, ax, ay);
        cairo_scale(cr_, e.scaleX == 0 ? 1e-6 : e.scaleX, e.scaleY == 0 ? 1e-6 : e.scaleY);
        cairo_translate(cr_, -ax, -ay);
        children(n);
        cairo_restore(cr_);
        return;
      }
      case NodeKind::shadow:
        drawShadow(n);
        return;
      case NodeKind::button:
        drawButton(n);
        return;
      case NodeKind::toggle:
        drawToggle(n);
        return;
      case NodeKind::picker:
        drawPicker(n);
        return;
      default:
        children(n);
        return;
    }
  }

 private:
  void children(const Node& n) {
    if (n.kind == NodeKind::background && n.children.size() > 1) {
      for (std::size_t i = 1; i < n.children.size(); ++i) draw(*n.children[i]);
      draw(*n.children[0]);
      return;
    }
    for (const auto& c : n.children) draw(*c);
  }

  // Controls greyed out while disabled.
  template <class F>
  void withEnabledLook(const Node& n, F&& body) {
    if (n.isEnabled()) {
      body();
      return;
    }
    inGroup(n, body, [&] { cairo_paint_with_alpha(cr_, kControlDisabledAlpha); });
  }

  // Draws `body` into a group no larger than what the node can ink, then
  // composites it with `finish` (the group is the source).
  template <class Body, class Finish>
  void inGroup(const Node& n, Body&& body, Finish&& finish) {
    Rect bounds = ink(n);
    if (bounds.isEmpty()) return;
    cairo_save(cr_);
    cairo_rectangle(cr_, std::floor(bounds.x), std::floor(bounds.y), std::ceil(bounds.width) + 1,
                    std::ceil(bounds.height) + 1);
    cairo_clip(cr_);
    cairo_push_group(cr_);
    body();
    cairo_pop_group_to_source(cr_);
    finish();
    cairo_restore(cr_);
  }

  // A rectangle clips directly. A small shape draws the content into a group
  // the size of the clip and fills the shape with it, which is cheaper than
  // masking every drawing inside; a large one masks (a group that big costs more).
  void drawClipped(const Node& n) {
    const Element& e = n.el();
    cairo_save(cr_);
    double pixels = n.frame.width * n.frame.height * scale_ * scale_;
    if (e.drawing->shape.kind == Shape::Kind::rectangle) {
      cairo_rectangle(cr_, n.frame.x, n.frame.y, n.frame.width, n.frame.height);
      cairo_clip(cr_);
      children(n);
    } else if (pixels > 256 * 256) {
      cairo_rectangle(cr_, n.frame.x, n.frame.y, n.frame.width, n.frame.height);
      cairo_clip(cr_);
      drawInsideShape(n, e.drawing->shape, n.frame);
    } else {
      cairo_rectangle(cr_, n.frame.x, n.frame.y, n.frame.width, n.frame.height);
      cairo_clip(cr_);
      cairo_push_group(cr_);
      children(n);
      cairo_pop_group_to_source(cr_);
      pathShape(cr_, e.drawing->shape, n.frame);
      cairo_fill(cr_);
    }
    cairo_restore(cr_);
  }

  // Inside a large rounded clip most drawings stay clear of the corners and
  // need only the rectangular clip; the shape's mask is paid only by the
  // drawings that reach into a corner (descending through nodes that draw
  // nothing of their own).
  void drawInsideShape(const Node& parent, const Shape& shape, const Rect& f) {
    auto one = [&](const Node& c) {
      if (c.collapsed || c.kind == NodeKind::hidden) return;
      Rect r = ink(c);
      if (r.isEmpty()) return;
      if (clearOfCorners(shape, f, r)) {
        draw(c);
      } else if (fillsAll(c, f)) {
        // A fill of the whole shape (a panel's material) is the shape filled.
        setColor(cr_, c.kind == NodeKind::color ? c.el().color : materialColor(c.el().material, c.el().effectState));
        pathShape(cr_, shape, f);
        cairo_fill(cr_);
      } else if (drawsNothingItself(c) && !c.children.empty()) {
        drawInsideShape(c, shape, f);
      } else {
        cairo_save(cr_);
        pathShape(cr_, shape, f);
        cairo_clip(cr_);
        draw(c);
        cairo_restore(cr_);
      }
    };
    if (parent.kind == NodeKind::background && parent.children.size() > 1) {
      for (std::size_t i = 1; i < parent.children.size(); ++i) one(*parent.children[i]);
      one(*parent.children[0]);
      return;
    }
    for (const auto& c : parent.children) one(*c);
  }

  static bool fillsAll(const Node& c, const Rect& f) {
    if (c.kind != NodeKind::color && c.kind != NodeKind::visualEffect) return false;
    if (c.collapsed) return false;
    const Rect& r = c.frame;
    return r.x <= f.x && r.y <= f.y && r.maxX() >= f.maxX() && r.maxY() >= f.maxY();
  }

  static bool clearOfCorners(const Shape& s, const Rect& f, const Rect& r) {
    double rw = 0, rh = 0;
    switch (s.kind) {
      case Shape::Kind::rectangle: return true;
      case Shape::Kind::roundedRectangle:
        rw = std::min(s.cornerWidth, f.width / 2);
        rh = std::min(s.cornerHeight, f.height / 2);
        break;
      case Shape::Kind::capsule:
        rw = rh = std::min(f.width, f.height) / 2;
        break;
      default:
        return false;
    }
    const Rect corners[] = {{f.x, f.y, rw, rh}, {f.maxX() - rw, f.y, rw, rh},
                            {f.x, f.maxY() - rh, rw, rh}, {f.maxX() - rw, f.maxY() - rh, rw, rh}};
    for (const Rect& c : corners) {
      if (!r.intersection(c).isEmpty()) return false;
    }
    return true;
  }

  static bool drawsNothingItself(const Node& n) {
    switch (n.kind) {
      case NodeKind::color:
      case NodeKind::gradient:
      case NodeKind::shape:
      case NodeKind::text:
      case NodeKind::symbol:
      case NodeKind::image:
      case NodeKind::divider:
      case NodeKind::visualEffect:
      case NodeKind::clip:
      case NodeKind::opacity:
      case NodeKind::scale:
      case NodeKind::shadow:
      case NodeKind::button:
      case NodeKind::toggle:
      case NodeKind::picker:
      case NodeKind::hidden:
        return false;
      default:
        return !n.collapsed;
    }
  }

  // The shape a shadow's content fills exactly, when it is one: a clip (or a
  // plain enabled button around one) whose content covers the clip's frame
  // with something opaque. Its shadow is then a blurred copy of the shape.
  static std::optional<std::pair<Shape, Rect>> silhouette(const Node& shadow) {
    const Node* n = shadow.children.size() == 1 ? shadow.children[0].get() : nullptr;
    while (n && n->kind != NodeKind::clip) {
      bool plainButton = n->kind == NodeKind::button && n->isEnabled() && n->env &&
                         (n->env->buttonStyle == ButtonStyle::plain || n->env->buttonStyle == ButtonStyle::borderless);
      if ((!drawsNothingItself(*n) && !plainButton) || n->children.size() != 1) return std::nullopt;
      n = n->children[0].get();
    }
    if (!n || n->frame.isEmpty()) return std::nullopt;
    const Rect& f = n->frame;
    auto covers = [&](const Rect& r) {
      return r.x <= f.x + 0.5 && r.y <= f.y + 0.5 && r.maxX() >= f.maxX() - 0.5 && r.maxY() >= f.maxY() - 0.5;
    };
    bool covered = false;
    std::function<void(const Node&)> walk = [&](const Node& c) {
      if (covered || c.collapsed || c.kind == NodeKind::hidden || c.kind == NodeKind::opacity) return;
      const Element& e = c.el();
      bool opaqueFill = (c.kind == NodeKind::color && e.color.a >= 0.999) || c.kind == NodeKind::image ||
                        (c.kind == NodeKind::shape && !e.stroke && e.drawing->shape.kind == Shape::Kind::rectangle &&
                         (e.drawing->hasFill ? e.color : c.foreground()).a >= 0.999);
      if (opaqueFill && covers(c.frame)) {
        covered = true;
        return;
      }
      for (const auto& child : c.children) walk(*child);
    };
    walk(*n);
    if (!covered) return std::nullopt;
    return std::make_pair(n->el().drawing->shape, f);
  }

  // What a node can draw on: its frame and its children's, widened by shadows
  // and scale effects.
  static Rect ink(const Node& n) {
    if (n.collapsed || n.kind == NodeKind::hidden) return {};
    Rect r = n.frame;
    for (const auto& c : n.children) {
      Rect cr = ink(*c);
      if (!cr.isEmpty()) r = r.isEmpty() ? cr : r.unionWith(cr);
    }
    const Element& e = n.el();
    if (n.kind == NodeKind::shadow) {
      double m = e.drawing->radius * 2 + 1;
      Rect moved = r.offsetBy(e.geometry->offsetX, e.geometry->offsetY).insetBy(-m, -m);
      r = r.unionWith(moved);
    } else if (n.kind == NodeKind::scale) {
      double sx = std::max(1.0, std::abs(e.scaleX)), sy = std::max(1.0, std::abs(e.scaleY));
      r = r.insetBy(-r.width * (sx - 1), -r.height * (sy - 1));
    } else if (n.kind == NodeKind::shape && e.stroke) {
      r = r.insetBy(-e.stroke->lineWidth, -e.stroke->lineWidth);
    } else if (n.kind == NodeKind::clip) {
      r = r.intersection(n.frame);
    }
    return r;
  }

  void drawGradient(const Node& n) {
    const Element& e = n.el();
    if (e.gradientColors.empty() || n.frame.isEmpty()) return;
    const Rect& f = n.frame;
    cairo_pattern_t* p =
        cairo_pattern_create_linear(f.x + e.drawing->startPoint.x * f.width, f.y + e.drawing->startPoint.y * f.height,
                                    f.x + e.drawing->endPoint.x * f.width, f.y + e.drawing->endPoint.y * f.height);
    std::size_t count = e.gradientColors.size();
    for (std::size_t i = 0; i < count; ++i) {
      const Color& c = e.gradientColors[i];
      double offset = count == 1 ? 0 : static_cast<double>(i) / static_cast<double>(count - 1);
      cairo_pattern_add_color_stop_rgba(p, offset, c.r, c.g, c.b, c.a);
    }
    cairo_set_source(cr_, p);
    cairo_rectangle(cr_, f.x, f.y, f.width, f.height);
    cairo_fill(cr_);
    cairo_pattern_destroy(p);
  }

  void drawShape(const Node& n) {
    const Element& e = n.el();
    // A clear ring (an unhighlighted thumbnail's) costs nothing.
    if ((e.stroke ? e.strokeColor : e.drawing->hasFill ? e.color : n.foreground()).a <= 0) return;
    if (e.stroke) {
      const StrokeStyle& s = *e.stroke;
      pathShape(cr_, e.drawing->shape, n.frame);
      setColor(cr_, e.strokeColor);
      cairo_set_line_width(cr_, s.lineWidth);
      cairo_set_line_cap(cr_, s.lineCap == LineCap::butt    ? CAIRO_LINE_CAP_BUTT
                              : s.lineCap == LineCap::round ? CAIRO_LINE_CAP_ROUND
                                                            : CAIRO_LINE_CAP_SQUARE);
      cairo_set_line_join(cr_, s.lineJoin == LineJoin::miter   ? CAIRO_LINE_JOIN_MITER
                               : s.lineJoin == LineJoin::round ? CAIRO_LINE_JOIN_ROUND
                                                               : CAIRO_LINE_JOIN_BEVEL);
      cairo_set_miter_limit(cr_, s.miterLimit);
      cairo_set_dash(cr_, s.dash.empty() ? nullptr : s.dash.data(), static_cast<int>(s.dash.size()), 0);
      cairo_stroke(cr_);
      cairo_set_dash(cr_, nullptr, 0, 0);
      return;
    }
    pathShape(cr_, e.drawing->shape, n.frame);
    setColor(cr_, e.drawing->hasFill ? e.color : n.foreground());
    cairo_fill(cr_);
  }

  void drawImage(const Node& n) {
    const Element& e = n.el();
    if (!e.image || n.frame.isEmpty()) return;
    auto bitmap = e.image->bestRepresentation();
    if (!bitmap) return;
    if (drawPrescaled(n.frame, bitmap)) return;
    cairo_surface_t* s = surfaces().get(bitmap);
    cairo_save(cr_);
    cairo_rectangle(cr_, n.frame.x, n.frame.y, n.frame.width, n.frame.height);
    cairo_clip(cr_);
    cairo_translate(cr_, n.frame.x, n.frame.y);
    cairo_scale(cr_, n.frame.width / bitmap->pixelsWide(), n.frame.height / bitmap->pixelsHigh());
    cairo_set_source_surface(cr_, s, 0, 0);
    // Bilinear is enough down to half size; below that the costlier filter
    // keeps thumbnails of big captures from aliasing.
    double shrink = std::max(bitmap->pixelsWide() / (n.frame.width * scale_), bitmap->pixelsHigh() / (n.frame.height * scale_));
    cairo_pattern_set_filter(cairo_get_source(cr_), shrink > 2 ? CAIRO_FILTER_GOOD : CAIRO_FILTER_BILINEAR);
    cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
    cairo_paint(cr_);
    cairo_restore(cr_);
  }

  // An image whose frame lies on whole device pixels (with only a scale and
  // a translation in the way) is drawn 1:1 from a copy resampled once to
  // that size.
  bool drawPrescaled(const Rect& frame, const std::shared_ptr<const img::Bitmap>& bitmap) {
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    if (m.xy != 0 || m.yx != 0 || m.xx <= 0 || m.yy <= 0) return false;
    const double x0 = m.xx * frame.x + m.x0, y0 = m.yy * frame.y + m.y0;
    const double x1 = m.xx * frame.maxX() + m.x0, y1 = m.yy * frame.maxY() + m.y0;
    auto whole = [](double v) { return std::abs(v - std::round(v)) < 1e-3; };
    // Off the pixel grid the resampled copy would be shifted; the direct path
    // filters it as it lies.
    const bool aligned = whole(x0) && whole(y0) && whole(x1) && whole(y1);
    const int w = static_cast<int>(std::lround(x1 - x0)), h = static_cast<int>(std::lround(y1 - y0));
    if (!aligned && (w < 8 || h < 8)) return false;
    cairo_surface_t* scaled = scaledImages().get(bitmap, w, h);
    if (!scaled) return false;
    cairo_save(cr_);
    cairo_identity_matrix(cr_);
    cairo_rectangle(cr_, x0, y0, x1 - x0, y1 - y0);
    cairo_clip(cr_);
    cairo_set_source_surface(cr_, scaled, aligned ? std::round(x0) : x0, aligned ? std::round(y0) : y0);
    cairo_pattern_set_filter(cairo_get_source(cr_), aligned ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_BILINEAR);
    cairo_paint(cr_);
    cairo_restore(cr_);
    return true;
  }

  void drawShapeShadow(const Shape& shape, const Rect& f, const Element& e) {
    double margin = e.drawing->radius * 2 + 1;
    cairo_surface_t* mask = shadowMasks().get(shape, f.width, f.height, e.drawing->radius, margin, scale_);
    if (!mask) return;
    cairo_save(cr_);
    cairo_translate(cr_, f.x - margin + e.geometry->offsetX, f.y - margin + e.geometry->offsetY);
    cairo_scale(cr_, 1 / scale_, 1 / scale_);
    setColor(cr_, e.color);
    cairo_mask_surface(cr_, mask, 0, 0);
    cairo_restore(cr_);
  }

  void drawShadow(const Node& n) {
    const Element& e = n.el();
    if (auto shape = silhouette(n)) {
      drawShapeShadow(shape->first, shape->second, e);
      children(n);
      return;
    }
    Rect content = n.frame;
    for (const auto& c : n.children) content = content.unionWith(c->frame);
    double margin = e.drawing->radius * 2 + 1;
    Rect bounds = content.insetBy(-margin, -margin);
    int pw = static_cast<int>(std::ceil(bounds.width * scale_));
    int ph = static_cast<int>(std::ceil(bounds.height * scale_));
    if (pw <= 0 || ph <= 0 || pw > 8192 || ph > 8192) {
      children(n);
      return;
    }
    cairo_surface_t* layer = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph);
    cairo_t* lc = cairo_create(layer);
    cairo_scale(lc, scale_, scale_);
    cairo_translate(lc, -bounds.x, -bounds.y);
    {
      Renderer inner(lc, scale_);
      for (const auto& c : n.children) inner.draw(*c);
    }
    cairo_destroy(lc);
    cairo_surface_flush(layer);

    // The layer's coverage, blurred, becomes the shadow's mask.
    cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, pw, ph);
    cairo_surface_flush(mask);
    {
      const unsigned char* src = cairo_image_surface_get_data(layer);
      int srcStride = cairo_image_surface_get_stride(layer);
      unsigned char* dst = cairo_image_surface_get_data(mask);
      int dstStride = cairo_image_surface_get_stride(mask);
      std::vector<uint8_t> alpha(static_cast<std::size_t>(pw) * ph);
      for (int y = 0; y < ph; ++y) {
        auto* row = reinterpret_cast<const uint32_t*>(src + static_cast<std::ptrdiff_t>(y) * srcStride);
        for (int x = 0; x < pw; ++x) alpha[static_cast<std::size_t>(y) * pw + x] = static_cast<uint8_t>(row[x] >> 24);
      }
      blurAlpha(alpha, pw, ph, static_cast<int>(std::lround(e.drawing->radius * scale_)));
      for (int y = 0; y < ph; ++y) {
        std::copy_n(alpha.data() + static_cast<std::size_t>(y) * pw, pw, dst + static_cast<std::ptrdiff_t>(y) * dstStride);
      }
    }
    cairo_surface_mark_dirty(mask);

    cairo_save(cr_);
    cairo_translate(cr_, bounds.x + e.geometry->offsetX, bounds.y + e.geometry->offsetY);
    cairo_scale(cr_, 1 / scale_, 1 / scale_);
    setColor(cr_, e.color);
    cairo_mask_surface(cr_, mask, 0, 0);
    cairo_restore(cr_);

    cairo_save(cr_);
    cairo_translate(cr_, bounds.x, bounds.y);
    cairo_scale(cr_, 1 / scale_, 1 / scale_);
    cairo_set_source_surface(cr_, layer, 0, 0);
    cairo_paint(cr_);
    cairo_restore(cr_);
    cairo_surface_destroy(mask);
    cairo_surface_destroy(layer);
  }

  void bezel(const Rect& r) {
    pathRoundedRect(cr_, r.insetBy(0.5, 0.5), 5, 5);
    setColor(cr_, Color::controlColor());
    cairo_fill_preserve(cr_);
    setColor(cr_, {0, 0, 0, 0.2});
    cairo_set_line_width(cr_, 1);
    cairo_stroke(cr_);
  }

  void drawButton(const Node& n) {
    auto style = n.env ? n.env->buttonStyle : ButtonStyle::automatic;
    bool bordered = style == ButtonStyle::automatic || style == ButtonStyle::bordered;
    withEnabledLook(n, [&] {
      if (bordered) {
        if (n.el().attributes->shortcut == KeyboardShortcut::defaultAction && n.isEnabled()) {
          pathRoundedRect(cr_, n.frame, 5, 5);
          setColor(cr_, Color::controlAccentColor());
          cairo_fill(cr_);
        } else {
          bezel(n.frame);
        }
      }
      children(n);
    });
  }

  void drawToggle(const Node& n) {
    const Element& e = n.el();
    bool on = e.boolBinding && e.boolBinding->get();
    bool isSwitch = n.env && n.env->toggleStyle == ToggleStyle::switchStyle;
    withEnabledLook(n, [&] {
      if (isSwitch) {
        Rect r{n.frame.x, n.frame.y + (n.frame.height - 18) / 2, 32, 18};
        pathRoundedRect(cr_, r, 9, 9);
        setColor(cr_, on ? Color::controlAccentColor() : Color{0, 0, 0, 0.1});
        cairo_fill(cr_);
        cairo_arc(cr_, on ? r.maxX() - 9 : r.x + 9, r.midY(), 8, 0, 2 * M_PI);
        setColor(cr_, Color::white());
        cairo_fill(cr_);
      } else {
        Rect box{n.frame.x, n.frame.y + (n.frame.height - 14) / 2, 14, 14};
        if (on) {
          pathRoundedRect(cr_, box, 3, 3);
          setColor(cr_, Color::controlAccentColor());
          cairo_fill(cr_);
          drawSymbol(cr_, "checkmark", Font::system(10, FontWeight::bold), box.insetBy(2, 2), Color::white());
        } else {
          bezel(box);
        }
      }
      children(n);
    });
  }

  void drawPicker(const Node& n) {
    const Element& e = n.el();
    auto style = n.env ? n.env->pickerStyle : PickerStyle::automatic;
    withEnabledLook(n, [&] {
      double x = n.frame.x;
      if (!e.drawing->text.empty()) {
        Size l = measureText(e.drawing->text, n.env->font);
        drawText(cr_, e.drawing->text, n.env->font, {x, n.frame.y, l.width, l.height}, n.foreground(), 1,
                 TextAlignment::leading);
        x += l.width + 8;
      }
      if (style == PickerStyle::radioGroup) {
        std::optional<int> selected = e.intBinding ? std::optional<int>(e.intBinding->get()) : std::nullopt;
        for (std::size_t i = 0; i < n.children.size(); ++i) {
          const Node& c = *n.children[i];
          double cy = c.frame.midY();
          cairo_new_sub_path(cr_);
          cairo_arc(cr_, x + 8, cy, 7, 0, 2 * M_PI);
          bool on = selected && i < e.behaviour->optionTags.size() && e.behaviour->optionTags[i] == *selected;
          setColor(cr_, on ? Color::controlAccentColor() : Color::controlColor());
          cairo_fill_preserve(cr_);
          setColor(cr_, {0, 0, 0, 0.25});
          cairo_set_line_width(cr_, 1);
          cairo_stroke(cr_);
          if (on) {
            cairo_arc(cr_, x + 8, cy, 3, 0, 2 * M_PI);
            setColor(cr_, Color::white());
            cairo_fill(cr_);
          }
        }
      } else {
        Rect r{x, n.frame.y, n.frame.maxX() - x, n.frame.height};
        bezel(r);
        // Up and down arrows at the trailing end.
        double ax = r.maxX() - 12, ay = r.midY();
        setColor(cr_, n.foreground());
        cairo_move_to(cr_, ax - 3, ay - 2);
        cairo_line_to(cr_, ax, ay - 5);
        cairo_line_to(cr_, ax + 3, ay - 2);
        cairo_move_to(cr_, ax - 3, ay + 2);
        cairo_line_to(cr_, ax, ay + 5);
        cairo_line_to(cr_, ax + 3, ay + 2);
        cairo_set_line_width(cr_, 1.2);
        cairo_stroke(cr_);
      }
      children(n);
    });
  }

  cairo_t* cr_;
  double scale_;
  std::function<bool(const Node&)> visible_;
};

// Straight RGBA from cairo's premultiplied pixels (in the machine's byte
// order), for the device rectangle [x0, x1) x [y0, y1). Runs of one colour
// (most of a panel's background) are converted once.
void unpremultiply(const unsigned char* src, int srcStride, unsigned char* dst, std::ptrdiff_t dstStride, int x0,
                   int y0, int x1, int y1) {
  static const auto reciprocal = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t a = 1; a < 256; ++a) t[a] = (255u * 65536u + a / 2) / a;
    return t;
  }();
  uint32_t lastIn = 0, lastOut = 0;  // transparent stays all zero
  for (int y = y0; y < y1; ++y) {
    auto* row = reinterpret_cast<const uint32_t*>(src + static_cast<std::ptrdiff_t>(y) * srcStride);
    unsigned char* out = dst + static_cast<std::ptrdiff_t>(y) * dstStride;
    for (int x = x0; x < x1; ++x) {
      const uint32_t p = row[x];
      if (p != lastIn) {
        uint32_t a = p >> 24;
        uint32_t r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255;
        if (a != 255 && a != 0) {
          uint32_t k = reciprocal[a];
          r = std::min<uint32_t>(255, (r * k + 32768) >> 16);
          g = std::min<uint32_t>(255, (g * k + 32768) >> 16);
          b = std::min<uint32_t>(255, (b * k + 32768) >> 16);
        }
        const uint8_t px[4] = {static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b),
                               static_cast<uint8_t>(a)};
        std::memcpy(&lastOut, px, 4);
        lastIn = p;
      }
      std::memcpy(out + 4 * x, &lastOut, 4);
    }
  }
}

int pixelDimension(double points, double scale) {
  double px = std::isfinite(points) ? std::ceil(points * scale) : 1;
  return static_cast<int>(std::clamp(px, 1.0, 16384.0));
}

double sanitizedScale(double scale) { return scale > 0 && std::isfinite(scale) ? scale : 1.0; }

// ---- what changed between two frames ----

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
  h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
  return h;
}
std::uint64_t mix(std::uint64_t h, double v) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  return mix(h, bits);
}
std::uint64_t mix(std::uint64_t h, const Color& c) { return mix(mix(mix(mix(h, c.r), c.g), c.b), c.a); }
std::uint64_t mix(std::uint64_t h, const Rect& r) { return mix(mix(mix(mix(h, r.x), r.y), r.width), r.height); }
std::uint64_t mix(std::uint64_t h, const std::string& t) { return mix(h, static_cast<std::uint64_t>(std::hash<std::string>{}(t))); }
std::uint64_t mix(std::uint64_t h, const Font& f) {
  return mix(mix(h, f.size), static_cast<std::uint64_t>(f.weight) * 7 + static_cast<std::uint64_t>(f.design));
}
std::uint64_t mix(std::uint64_t h, const Shape& s) {
  return mix(mix(mix(h, static_cast<std::uint64_t>(s.kind) * 3 + static_cast<std::uint64_t>(s.style)), s.cornerWidth),
             s.cornerHeight);
}

// Everything the renderer reads of a node itself (not of its children).
std::uint64_t paintHash(const Node& n) {
  const Element& e = n.el();
  std::uint64_t h = mix(mix(std::uint64_t{static_cast<std::uint64_t>(n.kind)}, n.frame),
                        static_cast<std::uint64_t>(n.collapsed) * 2 + static_cast<std::uint64_t>(n.isEnabled()));
  auto env = [&](std::uint64_t v) {
    if (!n.env) return v;
    const EnvironmentValues& x = *n.env;
    v = mix(mix(v, x.font), x.resolvedForeground());
    v = mix(v, static_cast<std::uint64_t>(x.lineLimit.value_or(-1) + 2));
    return mix(v, static_cast<std::uint64_t>(x.multilineTextAlignment) * 64 + static_cast<std::uint64_t>(x.buttonStyle) * 16 +
                      static_cast<std::uint64_t>(x.toggleStyle) * 4 + static_cast<std::uint64_t>(x.pickerStyle));
  };
  switch (n.kind) {
    case NodeKind::color: return mix(h, e.color);
    case NodeKind::gradient: {
      for (const auto& c : e.gradientColors) h = mix(h, c);
      return mix(mix(mix(mix(h, e.drawing->startPoint.x), e.drawing->startPoint.y), e.drawing->endPoint.x),
                 e.drawing->endPoint.y);
    }
    case NodeKind::shape: {
      h = mix(mix(mix(mix(h, e.drawing->shape), e.color), e.strokeColor),
              static_cast<std::uint64_t>(e.drawing->hasFill));
      if (e.stroke) {
        h = mix(mix(mix(h, e.stroke->lineWidth), e.stroke->miterLimit),
                static_cast<std::uint64_t>(e.stroke->lineCap) * 4 + static_cast<std::uint64_t>(e.stroke->lineJoin) + 16);
        for (double d : e.stroke->dash) h = mix(h, d);
      }
      return env(h);
    }
    case NodeKind::text:
    case NodeKind::symbol: return env(mix(h, e.drawing->text));
    case NodeKind::image: {
      auto bitmap = e.image ? e.image->bestRepresentation() : nullptr;
      return mix(h, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(bitmap.get())));
    }
    case NodeKind::visualEffect:
      return mix(h, static_cast<std::uint64_t>(e.material) * 8 + static_cast<std::uint64_t>(e.effectState));
    case NodeKind::clip: return mix(h, e.drawing->shape);
    case NodeKind::opacity: return mix(h, e.opacity);
    case NodeKind::scale:
      return mix(mix(mix(mix(mix(h, e.scaleX), e.scaleY), e.drawing->anchor.x), e.drawing->anchor.y),
                 static_cast<std::uint64_t>(e.drawing->scalesLayout));
    case NodeKind::shadow:
      return mix(mix(mix(mix(h, e.color), e.drawing->radius), e.geometry->offsetX), e.geometry->offsetY);
    case NodeKind::button: return env(mix(h, static_cast<std::uint64_t>(e.attributes->shortcut)));
    case NodeKind::toggle: return env(mix(h, static_cast<std::uint64_t>(e.boolBinding && e.boolBinding->get())));
    case NodeKind::picker: {
      h = mix(env(mix(h, e.drawing->text)), static_cast<std::uint64_t>(e.intBinding ? e.intBinding->get() + 1 : 0));
      for (int t : e.behaviour->optionTags) h = mix(h, static_cast<std::uint64_t>(t));
      return h;
    }
    default: return h;
  }
}

}  // namespace

// What one node drew in the last frame: the hash of its own drawing and of
// its whole subtree, and where it could draw, in host coordinates.
struct BackingStore::Record {
  std::string identity;
  std::uint64_t own = 0;
  std::uint64_t whole = 0;
  Rect ink;
  std::vector<Record> children;
};

namespace {

// Local to outer coordinates, composed down the tree.
struct Transform {
  double sx = 1, sy = 1, tx = 0, ty = 0;
  Rect apply(const Rect& r) const {
    Rect out{sx * r.x + tx, sy * r.y + ty, sx * r.width, sy * r.height};
    if (out.width < 0) out = {out.x + out.width, out.y, -out.width, out.height};
    if (out.height < 0) out = {out.x, out.y + out.height, out.width, -out.height};
    return out;
  }
  // This transform after the scale node's own (its content's space to its own).
  Transform inside(const Node& scale) const {
    const Element& e = scale.el();
    const double ax = scale.frame.x + e.drawing->anchor.x * scale.frame.width;
    const double ay = scale.frame.y + e.drawing->anchor.y * scale.frame.height;
    // p_outer = a + k (p - a)
    return {sx * e.scaleX, sy * e.scaleY, sx * ax * (1 - e.scaleX) + tx, sy * ay * (1 - e.scaleY) + ty};
  }
};

// Builds the record of a node; `inks` receives every node's host-space ink.
// Returns the ink in the node's own space.
Rect record(const Node& n, const Transform& t, BackingStore::Record& rec,
            std::unordered_map<const Node*, Rect>& inks) {
  rec.identity = n.idPart;
  rec.own = paintHash(n);
  rec.whole = rec.own;
  if (n.collapsed || n.kind == NodeKind::hidden) {
    rec.ink = {};
    inks[&n] = {};
    return {};
  }
  const Element& e = n.el();
  const Transform inner = n.kind == NodeKind::scale ? t.inside(n) : t;
  Rect r = n.frame;
  rec.children.resize(n.children.size());
  for (std::size_t i = 0; i < n.children.size(); ++i) {
    Rect c = record(*n.children[i], inner, rec.children[i], inks);
    rec.whole = mix(rec.whole, rec.children[i].whole);
    if (c.isEmpty()) continue;
    if (n.kind == NodeKind::scale) c = Transform{}.inside(n).apply(c);
    r = r.isEmpty() ? c : r.unionWith(c);
  }
  if (n.kind == NodeKind::shadow) {
    double m = e.drawing->radius * 2 + 1;
    r = r.unionWith(r.offsetBy(e.geometry->offsetX, e.geometry->offsetY).insetBy(-m, -m));
  } else if (n.kind == NodeKind::shape && e.stroke) {
    r = r.insetBy(-e.stroke->lineWidth, -e.stroke->lineWidth);
  } else if (n.kind == NodeKind::clip) {
    r = r.intersection(n.frame);
  }
  rec.ink = t.apply(r);
  inks[&n] = rec.ink;
  return r;
}

void addDamage(std::vector<Rect>& out, const Rect& r) {
  if (!r.isEmpty()) out.push_back(r);
}

// Where two frames may differ.
void diff(const BackingStore::Record& before, const BackingStore::Record& after, std::vector<Rect>& out) {
  if (before.whole == after.whole && before.ink == after.ink) return;
  if (before.own != after.own || before.ink != after.ink) {
    // A shadow or a scale depends on everything inside; any other node
    // whose own drawing changed is redrawn where it was and where it is.
    addDamage(out, before.ink);
    addDamage(out, after.ink);
    return;
  }
  std::vector<bool> matched(before.children.size(), false);
  std::size_t next = 0;
  for (const auto& child : after.children) {
    // Children mostly keep their order: look from the last match on first.
    std::optional<std::size_t> found;
    for (std::size_t k = 0; k < before.children.size() && !found; ++k) {
      std::size_t i = (next + k) % before.children.size();
      if (!matched[i] && before.children[i].identity == child.identity) found = i;
    }
    if (!found) {
      addDamage(out, child.ink);
      continue;
    }
    matched[*found] = true;
    next = *found + 1;
    diff(before.children[*found], child, out);
  }
  for (std::size_t i = 0; i < before.children.size(); ++i) {
    if (!matched[i]) addDamage(out, before.children[i].ink);
  }
}

}  // namespace

BackingStore::BackingStore() = default;

BackingStore::~BackingStore() {
  if (surface_) cairo_surface_destroy(surface_);
}

const img::Bitmap& BackingStore::draw(const Node* root, Size size, double scale) {
  scale = sanitizedScale(scale);
  const int w = pixelDimension(size.width, scale), h = pixelDimension(size.height, scale);
  const bool fresh = !surface_ || !bitmap_ || w != bitmap_->pixelsWide() || h != bitmap_->pixelsHigh() ||
                     scale != scale_;
  if (fresh) {
    if (surface_) cairo_surface_destroy(surface_);
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    bitmap_ = img::Bitmap::create(w, h);
    if (!bitmap_) bitmap_ = img::Bitmap::create(1, 1);
    scale_ = scale;
  }

  auto next = std::make_unique<Record>();
  std::unordered_map<const Node*, Rect> inks;
  if (root) record(*root, Transform{}, *next, inks);
  std::vector<Rect> damage;
  if (fresh || !last_) {
    damage.push_back({0, 0, w / scale, h / scale});
  } else {
    diff(*last_, *next, damage);
  }
  last_ = std::move(next);
  if (damage.empty()) return *bitmap_;

  // Whole device pixels around each change, a little wider for antialiasing.
  const int bw = bitmap_->pixelsWide(), bh = bitmap_->pixelsHigh();
  struct Box {
    int x0, y0, x1, y1;
  };
  std::vector<Box> boxes;
  for (const Rect& r : damage) {
    Box b{std::max(0, static_cast<int>(std::floor(r.x * scale)) - 2),
          std::max(0, static_cast<int>(std::floor(r.y * scale)) - 2),
          std::min(bw, static_cast<int>(std::ceil(r.maxX() * scale)) + 2),
          std::min(bh, static_cast<int>(std::ceil(r.maxY() * scale)) + 2)};
    if (b.x1 > b.x0 && b.y1 > b.y0) boxes.push_back(b);
  }
  // Boxes that touch, or whose union is hardly larger than the two (the
  // titles along one row of a grid), become one.
  auto area = [](const Box& b) { return static_cast<double>(b.x1 - b.x0) * (b.y1 - b.y0); };
  auto unite = [](const Box& a, const Box& b) {
    return Box{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
  };
  for (bool merged = true; merged;) {
    merged = false;
    for (std::size_t i = 0; i < boxes.size() && !merged; ++i) {
      for (std::size_t j = i + 1; j < boxes.size() && !merged; ++j) {
        const Box& a = boxes[i];
        const Box& b = boxes[j];
        const bool touch = a.x0 <= b.x1 && b.x0 <= a.x1 && a.y0 <= b.y1 && b.y0 <= a.y1;
        const Box u = unite(a, b);
        if (touch || area(u) <= 1.25 * (area(a) + area(b))) {
          boxes[i] = u;
          boxes.erase(boxes.begin() + static_cast<std::ptrdiff_t>(j));
          merged = true;
        }
      }
    }
  }
  std::vector<Rect> regions;
  for (const Box& b : boxes) regions.push_back({b.x0 / scale, b.y0 / scale, (b.x1 - b.x0) / scale, (b.y1 - b.y0) / scale});

  cairo_t* cr = cairo_create(surface_);
  for (const Box& b : boxes) cairo_rectangle(cr, b.x0, b.y0, b.x1 - b.x0, b.y1 - b.y0);
  cairo_clip(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_scale(cr, scale, scale);
  if (root) {
    Renderer r(cr, scale, [&](const Node& n) {
      auto it = inks.find(&n);
      if (it == inks.end()) return true;
      for (const Rect& region : regions) {
        if (!it->second.intersection(region).isEmpty()) return true;
      }
      return false;
    });
    r.draw(*root);
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface_);
  const unsigned char* src = cairo_image_surface_get_data(surface_);
  const int srcStride = cairo_image_surface_get_stride(surface_);
  unsigned char* dst = bitmap_->row(0).data();
  for (const Box& b : boxes) {
    unpremultiply(src, srcStride, dst, static_cast<std::ptrdiff_t>(bitmap_->bytesPerRow()), b.x0, b.y0, b.x1, b.y1);
  }
  return *bitmap_;
}

img::Bitmap renderTree(const Node* root, Size size, double scale) {
  scale = sanitizedScale(scale);
  int w = pixelDimension(size.width, scale), h = pixelDimension(size.height, scale);
  // Cairo draws straight into the bitmap's storage (premultiplied, in the
  // machine's byte order); the pixels are then converted in place.
  auto bitmap = img::Bitmap::create(w, h);
  if (!bitmap) bitmap = img::Bitmap::create(1, 1);
  w = bitmap->pixelsWide();
  h = bitmap->pixelsHigh();
  unsigned char* data = bitmap->row(0).data();
  int stride = static_cast<int>(bitmap->bytesPerRow());
  cairo_surface_t* surface = nullptr;
  if (stride == cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w)) {
    surface = cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, w, h, stride);
  }
  bool direct = surface && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
  if (!direct) {
    if (surface) cairo_surface_destroy(surface);
    surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  }
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  if (root) {
    Renderer r(cr, scale);
    r.draw(*root);
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  unpremultiply(cairo_image_surface_get_data(surface), cairo_image_surface_get_stride(surface), data, stride, 0, 0, w,
                h);
  cairo_surface_destroy(surface);
  return std::move(*bitmap);
}

}  // namespace ui::detail
