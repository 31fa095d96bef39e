#include "platform/desktop/DesktopSnapshot.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "platform/appkit/NSWindow.h"
#include "platform/image/PNG.h"
#include "platform/sim/World.h"
#include "platform/ui/Host.h"
#include "platform/ui/detail/Drawing.h"

namespace desktop {

namespace {

// Maps bottom-left global points to the picture's pixels (y down).
struct Canvas {
  double minX = 0;
  double maxY = 0;
  double scale = 1;

  ui::Rect rect(const CGRect& bottomLeft) const {
    return {(bottomLeft.minX() - minX), (maxY - bottomLeft.maxY()), bottomLeft.width(), bottomLeft.height()};
  }
  ui::Point point(CGPoint bottomLeft) const { return {bottomLeft.x - minX, maxY - bottomLeft.y}; }
};

void roundedRect(cairo_t* cr, const ui::Rect& r, double radius) {
  radius = std::min({radius, r.width / 2, r.height / 2});
  const double x0 = r.x, y0 = r.y, x1 = r.x + r.width, y1 = r.y + r.height;
  cairo_new_sub_path(cr);
  cairo_arc(cr, x1 - radius, y0 + radius, radius, -M_PI / 2, 0);
  cairo_arc(cr, x1 - radius, y1 - radius, radius, 0, M_PI / 2);
  cairo_arc(cr, x0 + radius, y1 - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cr, x0 + radius, y0 + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

void label(cairo_t* cr, const std::string& text, double size, const ui::Rect& frame, const ui::Color& color,
           bool bold = false) {
  ui::Font font = ui::Font::system(size, bold ? ui::FontWeight::semibold : ui::FontWeight::regular);
  ui::detail::drawText(cr, text, font, frame, color, 1, ui::TextAlignment::center);
}

void drawDisplay(cairo_t* cr, const Canvas& canvas, const sim::DisplayInfo& display) {
  const ui::Rect frame = canvas.rect(display.frame);
  cairo_pattern_t* wallpaper = cairo_pattern_create_linear(frame.x, frame.y, frame.x, frame.y + frame.height);
  cairo_pattern_add_color_stop_rgb(wallpaper, 0, 0.23, 0.36, 0.55);
  cairo_pattern_add_color_stop_rgb(wallpaper, 1, 0.55, 0.38, 0.52);
  cairo_rectangle(cr, frame.x, frame.y, frame.width, frame.height);
  cairo_set_source(cr, wallpaper);
  cairo_fill(cr);
  cairo_pattern_destroy(wallpaper);

  // The menu bar is what lies above the visible frame.
  const double menuBar = display.frame.maxY() - display.visibleFrame.maxY();
  if (menuBar > 0) {
    cairo_rectangle(cr, frame.x, frame.y, frame.width, menuBar);
    cairo_set_source_rgba(cr, 0.96, 0.96, 0.96, 0.85);
    cairo_fill(cr);
    label(cr, display.name, std::min(13.0, menuBar * 0.6), {frame.x, frame.y, frame.width, menuBar},
          ui::Color(0.1, 0.1, 0.1));
  }
}

void drawWindow(cairo_t* cr, const Canvas& canvas, const sim::WindowInfo& window, bool isFocused) {
  const ui::Rect frame = canvas.rect(window.frameBL);
  cairo_save(cr);
  roundedRect(cr, {frame.x + 2, frame.y + 4, frame.width, frame.height}, 8);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.25);
  cairo_fill(cr);
  roundedRect(cr, frame, 8);
  cairo_clip(cr);
  cairo_set_source_rgba(cr, window.color.r / 255.0, window.color.g / 255.0, window.color.b / 255.0, 1);
  cairo_paint(cr);
  // The desktop's own title bar: where a press grabs the window.
  const double bar = std::min(sim::kTitleBarHeight, frame.height);
  cairo_rectangle(cr, frame.x, frame.y, frame.width, bar);
  cairo_set_source_rgb(cr, isFocused ? 0.91 : 0.96, isFocused ? 0.91 : 0.96, isFocused ? 0.91 : 0.96);
  cairo_fill(cr);
  const double lights[3][3] = {{1.0, 0.37, 0.34}, {1.0, 0.74, 0.18}, {0.16, 0.79, 0.25}};
  for (int i = 0; i < 3; ++i) {
    if (i == 0 && !window.closeButton) continue;
    cairo_arc(cr, frame.x + 12 + 20 * i, frame.y + bar / 2, 6, 0, 2 * M_PI);
    if (isFocused) {
      cairo_set_source_rgb(cr, lights[i][0], lights[i][1], lights[i][2]);
    } else {
      cairo_set_source_rgb(cr, 0.8, 0.8, 0.8);
    }
    cairo_fill(cr);
  }
  if (window.title && !window.title->empty()) {
    label(cr, *window.title, 13, {frame.x + 70, frame.y, std::max(0.0, frame.width - 140), bar},
          ui::Color(0.2, 0.2, 0.2), isFocused);
  }
  cairo_restore(cr);
}

void drawDock(cairo_t* cr, const Canvas& canvas, const sim::World& world) {
  const auto items = world.dockItems();
  if (items.empty()) return;
  CGRect strip = CGRect::null();
  for (const auto& item : items) {
    const CGRect r = world.flippedRect(item.frame);
    strip = strip.isNull() ? r : CGRect(std::min(strip.minX(), r.minX()), std::min(strip.minY(), r.minY()),
                                        std::max(strip.maxX(), r.maxX()) - std::min(strip.minX(), r.minX()),
                                        std::max(strip.maxY(), r.maxY()) - std::min(strip.minY(), r.minY()));
  }
  const ui::Rect back = canvas.rect(strip.insetBy(-6, -4));
  roundedRect(cr, back, 14);
  cairo_set_source_rgba(cr, 0.95, 0.95, 0.97, 0.55);
  cairo_fill(cr);
  for (const auto& item : items) {
    const ui::Rect icon = canvas.rect(world.flippedRect(item.frame).insetBy(4, 4));
    const std::string title = item.title.value_or("?");
    const std::size_t hash = std::hash<std::string>()(title);
    roundedRect(cr, icon, icon.width * 0.22);
    cairo_set_source_rgb(cr, 0.25 + (hash % 7) / 12.0, 0.25 + (hash / 7 % 7) / 12.0, 0.25 + (hash / 49 % 7) / 12.0);
    cairo_fill(cr);
    label(cr, title.substr(0, 1), icon.height * 0.5, icon, ui::Color(1, 1, 1), true);
  }
}

// The host's picture, drawn with its top-left corner at `origin`.
void drawHost(cairo_t* cr, const Canvas& canvas, ui::Host& host, ui::Point origin, double alpha) {
  const img::Bitmap bitmap = host.render(canvas.scale);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bitmap.pixelsWide(), bitmap.pixelsHigh());
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < bitmap.pixelsHigh(); ++y) {
    auto* out = reinterpret_cast<std::uint32_t*>(data + y * stride);
    for (int x = 0; x < bitmap.pixelsWide(); ++x) {
      const img::Pixel p = bitmap.pixel(x, y);
      const auto pre = [&](std::uint8_t c) { return static_cast<std::uint32_t>((c * p.a + 127) / 255); };
      out[x] = (std::uint32_t{p.a} << 24) | (pre(p.r) << 16) | (pre(p.g) << 8) | pre(p.b);
    }
  }
  cairo_surface_mark_dirty(surface);
  cairo_save(cr);
  cairo_translate(cr, origin.x, origin.y);
  cairo_scale(cr, 1 / canvas.scale, 1 / canvas.scale);
  cairo_set_source_surface(cr, surface, 0, 0);
  cairo_paint_with_alpha(cr, alpha);
  cairo_restore(cr);
  cairo_surface_destroy(surface);
}

void drawOwnWindow(cairo_t* cr, const Canvas& canvas, const appkit::WindowInfo& info) {
  const ui::Rect frame = canvas.rect(info.frame);
  if (frame.width <= 0 || frame.height <= 0) return;
  const double alpha = std::clamp(info.alpha, 0.0, 1.0);
  const auto style = info.window ? info.window->styleMask() : 0;
  const bool titled = (style & appkit::NSWindowStyleMaskTitled) && !(style & appkit::NSWindowStyleMaskFullSizeContentView);
  cairo_save(cr);
  if (titled) {
    // A window with a frame: shadow, background, title bar with its
    // buttons and title, then the content below the title bar.
    const double bar = std::min(appkit::kTitleBarHeight, frame.height);
    roundedRect(cr, {frame.x + 2, frame.y + 4, frame.width, frame.height}, 10);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.3 * alpha);
    cairo_fill(cr);
    roundedRect(cr, frame, 10);
    cairo_clip(cr);
    const img::Color background = info.window->backgroundColor();
    cairo_set_source_rgba(cr, background.redComponent(), background.greenComponent(), background.blueComponent(),
                          background.alphaComponent() * alpha);
    cairo_paint(cr);
    cairo_rectangle(cr, frame.x, frame.y, frame.width, bar);
    cairo_set_source_rgba(cr, 0.91, 0.91, 0.91, alpha);
    cairo_fill(cr);
    const double lights[3][3] = {{1.0, 0.37, 0.34}, {1.0, 0.74, 0.18}, {0.16, 0.79, 0.25}};
    for (int i = 0; i < 3; ++i) {
      if (i == 0 && !(style & appkit::NSWindowStyleMaskClosable)) continue;
      cairo_arc(cr, frame.x + 14 + 20 * i, frame.y + 14, 6, 0, 2 * M_PI);
      cairo_set_source_rgba(cr, lights[i][0], lights[i][1], lights[i][2], alpha);
      cairo_fill(cr);
    }
    if (!info.title.empty()) {
      label(cr, info.title, 13, {frame.x + 70, frame.y, std::max(0.0, frame.width - 140), bar},
            ui::Color(0.2, 0.2, 0.2, alpha), true);
    }
    if (info.host) drawHost(cr, canvas, *info.host, {frame.x, frame.y + bar}, alpha);
  } else if (info.host) {
    drawHost(cr, canvas, *info.host, {frame.x, frame.y}, alpha);
  } else if (info.opaque) {
    cairo_rectangle(cr, frame.x, frame.y, frame.width, frame.height);
    cairo_set_source_rgba(cr, 0.93, 0.93, 0.93, alpha);
    cairo_fill(cr);
  }
  cairo_restore(cr);
}

void drawPointer(cairo_t* cr, const Canvas& canvas, CGPoint bottomLeft) {
  const ui::Point p = canvas.point(bottomLeft);
  cairo_move_to(cr, p.x, p.y);
  cairo_line_to(cr, p.x, p.y + 17);
  cairo_line_to(cr, p.x + 4.5, p.y + 13);
  cairo_line_to(cr, p.x + 8, p.y + 20);
  cairo_line_to(cr, p.x + 10.5, p.y + 19);
  cairo_line_to(cr, p.x + 7, p.y + 12);
  cairo_line_to(cr, p.x + 12.5, p.y + 12);
  cairo_close_path(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
}

}  // namespace

std::optional<img::Bitmap> snapshot(double scale) {
  if (!(scale > 0) || !std::isfinite(scale)) return std::nullopt;
  auto& world = sim::World::shared();
  const auto displays = world.displays();
  if (displays.empty()) return std::nullopt;

  CGRect bounds = displays.front().frame;
  for (const auto& d : displays) {
    const double x0 = std::min(bounds.minX(), d.frame.minX()), y0 = std::min(bounds.minY(), d.frame.minY());
    const double x1 = std::max(bounds.maxX(), d.frame.maxX()), y1 = std::max(bounds.maxY(), d.frame.maxY());
    bounds = CGRect(x0, y0, x1 - x0, y1 - y0);
  }
  const int width = static_cast<int>(std::ceil(bounds.width() * scale));
  const int height = static_cast<int>(std::ceil(bounds.height() * scale));
  if (width <= 0 || height <= 0 || width > img::Bitmap::kMaxDimension || height > img::Bitmap::kMaxDimension) {
    return std::nullopt;
  }

  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return std::nullopt;
  }
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  cairo_set_source_rgb(cr, 0.12, 0.12, 0.12);
  cairo_paint(cr);

  const Canvas canvas{bounds.minX(), bounds.maxY(), scale};
  for (const auto& d : displays) drawDisplay(cr, canvas, d);

  const auto frontmost = world.frontmostApplication();
  auto order = world.zOrder();
  std::reverse(order.begin(), order.end());  // back to front
  for (sim::WindowID id : order) {
    const auto window = world.window(id);
    if (!window || !window->onScreen) continue;
    const auto app = world.application(window->pid);
    const bool focused = app && frontmost == app->pid && app->focusedWindow == id;
    drawWindow(cr, canvas, *window, focused);
  }
  drawDock(cr, canvas, world);

  auto own = appkit::WindowList::visibleWindows();
  std::reverse(own.begin(), own.end());
  for (const auto& info : own) drawOwnWindow(cr, canvas, info);

  drawPointer(cr, canvas, world.mouseLocation());
  cairo_destroy(cr);
  cairo_surface_flush(surface);

  auto bitmap = img::Bitmap::create(width, height);
  if (bitmap) {
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
      const auto* in = reinterpret_cast<const std::uint32_t*>(data + y * stride);
      for (int x = 0; x < width; ++x) {
        const std::uint32_t v = in[x];
        const std::uint8_t a = v >> 24;
        const auto un = [&](std::uint32_t c) {
          return static_cast<std::uint8_t>(a ? std::min<std::uint32_t>(255, (c * 255 + a / 2) / a) : 0);
        };
        bitmap->setPixel(x, y, {un((v >> 16) & 0xff), un((v >> 8) & 0xff), un(v & 0xff), a});
      }
    }
  }
  cairo_surface_destroy(surface);
  return bitmap;
}

bool writeSnapshotPNG(const std::string& path, double scale) {
  const auto bitmap = snapshot(scale);
  return bitmap && img::savePNG(*bitmap, path);
}

}  // namespace desktop
