#include "platform/ui/Symbols.h"

#include <cmath>
#include <functional>
#include <map>

#include "platform/ui/detail/Drawing.h"

namespace ui {
namespace {

// A glyph drawn in a box of width w and height h at (0, 0); `line` is the
// stroke width for the font's weight.
struct Glyph {
  double aspect;  // width / height
  std::function<void(cairo_t*, double w, double h, double line)> draw;
};

void roundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  r = std::max(0.0, std::min(r, std::min(w, h) / 2));
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

void strokeLines(cairo_t* cr, double line) {
  cairo_set_line_width(cr, line);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr);
}

// Outline of a window with an inset part filled: which = 0 left half, 1 all, 2 right half.
Glyph insetRectangle(int which) {
  return {1.3, [which](cairo_t* cr, double w, double h, double line) {
            double m = line / 2;
            roundedRect(cr, m, h * 0.1 + m, w - line, h * 0.8 - line, h * 0.15);
            cairo_set_line_width(cr, line);
            cairo_stroke(cr);
            double ix = line * 2, iy = h * 0.1 + line * 2;
            double iw = w - line * 4, ih = h * 0.8 - line * 4;
            if (which == 0) iw = iw / 2;
            if (which == 2) {
              ix += iw / 2;
              iw = iw / 2;
            }
            roundedRect(cr, ix, iy, iw, ih, h * 0.06);
            cairo_fill(cr);
          }};
}

void triangle(cairo_t* cr, double x0, double y0, double x1, double ym, double y1) {
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, ym);
  cairo_line_to(cr, x0, y1);
  cairo_close_path(cr);
}

const std::map<std::string, Glyph>& registry() {
  static const std::map<std::string, Glyph> glyphs = {
      {"xmark",
       {1.0,
        [](cairo_t* cr, double w, double h, double line) {
          double p = h * 0.15;
          cairo_move_to(cr, p, p);
          cairo_line_to(cr, w - p, h - p);
          cairo_move_to(cr, w - p, p);
          cairo_line_to(cr, p, h - p);
          strokeLines(cr, line);
        }}},
      {"checkmark",
       {1.1,
        [](cairo_t* cr, double w, double h, double line) {
          cairo_move_to(cr, w * 0.1, h * 0.55);
          cairo_line_to(cr, w * 0.4, h * 0.85);
          cairo_line_to(cr, w * 0.9, h * 0.15);
          strokeLines(cr, line);
        }}},
      {"ellipsis",
       {1.2,
        [](cairo_t* cr, double w, double h, double line) {
          double r = std::max(line * 0.8, h * 0.09);
          for (int i = 0; i < 3; ++i) {
            cairo_new_sub_path(cr);
            cairo_arc(cr, w * (0.17 + 0.33 * i), h / 2, r, 0, 2 * M_PI);
          }
          cairo_fill(cr);
        }}},
      {"chevron.left",
       {0.6,
        [](cairo_t* cr, double w, double h, double line) {
          cairo_move_to(cr, w * 0.8, h * 0.1);
          cairo_line_to(cr, w * 0.2, h * 0.5);
          cairo_line_to(cr, w * 0.8, h * 0.9);
          strokeLines(cr, line);
        }}},
      {"chevron.right",
       {0.6,
        [](cairo_t* cr, double w, double h, double line) {
          cairo_move_to(cr, w * 0.2, h * 0.1);
          cairo_line_to(cr, w * 0.8, h * 0.5);
          cairo_line_to(cr, w * 0.2, h * 0.9);
          strokeLines(cr, line);
        }}},
      {"display",
       {1.25,
        [](cairo_t* cr, double w, double h, double line) {
          double m = line / 2;
          roundedRect(cr, m, m, w - line, h * 0.72, h * 0.1);
          cairo_set_line_width(cr, line);
          cairo_stroke(cr);
          cairo_move_to(cr, w * 0.5, h * 0.72 + m);
          cairo_line_to(cr, w * 0.5, h * 0.92);
          cairo_move_to(cr, w * 0.3, h * 0.95);
          cairo_line_to(cr, w * 0.7, h * 0.95);
          strokeLines(cr, line);
        }}},
      {"rectangle.lefthalf.inset.filled", insetRectangle(0)},
      {"rectangle.inset.filled", insetRectangle(1)},
      {"rectangle.righthalf.inset.filled", insetRectangle(2)},
      {"arrow.left.arrow.right.square.fill",
       {1.0,
        [](cairo_t* cr, double w, double h, double line) {
          cairo_push_group(cr);
          roundedRect(cr, 0, 0, w, h, h * 0.2);
          cairo_fill(cr);
          cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
          cairo_move_to(cr, w * 0.25, h * 0.35);
          cairo_line_to(cr, w * 0.75, h * 0.35);
          cairo_move_to(cr, w * 0.75, h * 0.65);
          cairo_line_to(cr, w * 0.25, h * 0.65);
          strokeLines(cr, line);
          triangle(cr, w * 0.3, h * 0.22, w * 0.15, h * 0.35, h * 0.48);
          triangle(cr, w * 0.7, h * 0.52, w * 0.85, h * 0.65, h * 0.78);
          cairo_fill(cr);
          cairo_pop_group_to_source(cr);
          cairo_paint(cr);
        }}},
      {"checkmark.seal.fill",
       {1.0,
        [](cairo_t* cr, double w, double h, double line) {
          cairo_push_group(cr);
          const int points = 24;
          for (int i = 0; i <= points; ++i) {
            double a = 2 * M_PI * i / points;
            double r = (i % 2 ? 0.44 : 0.5) * std::min(w, h);
            double x = w / 2 + r * std::cos(a), y = h / 2 + r * std::sin(a);
            if (i == 0)
              cairo_move_to(cr, x, y);
            else
              cairo_line_to(cr, x, y);
          }
          cairo_close_path(cr);
          cairo_fill(cr);
          cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
          cairo_move_to(cr, w * 0.3, h * 0.52);
          cairo_line_to(cr, w * 0.45, h * 0.67);
          cairo_line_to(cr, w * 0.72, h * 0.35);
          strokeLines(cr, line);
          cairo_pop_group_to_source(cr);
          cairo_paint(cr);
        }}},
      {"play.fill",
       {0.85,
        [](cairo_t* cr, double w, double h, double) {
          triangle(cr, w * 0.1, h * 0.08, w * 0.95, h * 0.5, h * 0.92);
          cairo_fill(cr);
        }}},
      {"pause.fill",
       {0.75,
        [](cairo_t* cr, double w, double h, double) {
          roundedRect(cr, w * 0.1, h * 0.08, w * 0.28, h * 0.84, w * 0.05);
          roundedRect(cr, w * 0.62, h * 0.08, w * 0.28, h * 0.84, w * 0.05);
          cairo_fill(cr);
        }}},
      {"backward.fill",
       {1.5,
        [](cairo_t* cr, double w, double h, double) {
          triangle(cr, w * 0.5, h * 0.15, w * 0.02, h * 0.5, h * 0.85);
          triangle(cr, w * 0.98, h * 0.15, w * 0.5, h * 0.5, h * 0.85);
          cairo_fill(cr);
        }}},
      {"forward.fill",
       {1.5,
        [](cairo_t* cr, double w, double h, double) {
          triangle(cr, w * 0.02, h * 0.15, w * 0.5, h * 0.5, h * 0.85);
          triangle(cr, w * 0.5, h * 0.15, w * 0.98, h * 0.5, h * 0.85);
          cairo_fill(cr);
        }}},
      {"gearshape",
       {1.0,
        [](cairo_t* cr, double w, double h, double line) {
          double r = std::min(w, h) / 2;
          cairo_new_sub_path(cr);
          cairo_arc(cr, w / 2, h / 2, r * 0.6, 0, 2 * M_PI);
          cairo_set_line_width(cr, line);
          cairo_stroke(cr);
          for (int i = 0; i < 8; ++i) {
            double a = M_PI * i / 4;
            cairo_move_to(cr, w / 2 + r * 0.6 * std::cos(a), h / 2 + r * 0.6 * std::sin(a));
            cairo_line_to(cr, w / 2 + r * 0.95 * std::cos(a), h / 2 + r * 0.95 * std::sin(a));
          }
          strokeLines(cr, line * 1.4);
        }}},
      {"dock.rectangle",
       {1.3,
        [](cairo_t* cr, double w, double h, double line) {
          double m = line / 2;
          roundedRect(cr, m, h * 0.1 + m, w - line, h * 0.8 - line, h * 0.15);
          cairo_set_line_width(cr, line);
          cairo_stroke(cr);
          roundedRect(cr, w * 0.2, h * 0.62, w * 0.6, h * 0.12, h * 0.04);
          cairo_fill(cr);
        }}},
  };
  return glyphs;
}

}  // namespace

bool isKnownSymbol(const std::string& name) { return registry().count(name) > 0; }

std::vector<std::string> knownSymbols() {
  std::vector<std::string> names;
  for (const auto& [name, glyph] : registry()) names.push_back(name);
  return names;
}

Size symbolSize(const std::string& name, const Font& font) {
  double h = font.size;
  auto it = registry().find(name);
  double aspect = it == registry().end() ? 1.0 : it->second.aspect;
  return {std::round(h * aspect * 100) / 100, h};
}

namespace detail {

void drawSymbol(cairo_t* cr, const std::string& name, const Font& font, const Rect& frame, const Color& color) {
  if (frame.isEmpty()) return;
  double line = frame.height * (font.isBold() ? 0.13 : 0.09);
  cairo_save(cr);
  cairo_translate(cr, frame.x, frame.y);
  setColor(cr, color);
  auto it = registry().find(name);
  if (it == registry().end()) {
    cairo_rectangle(cr, line / 2, line / 2, frame.width - line, frame.height - line);
    cairo_set_line_width(cr, line);
    cairo_stroke(cr);
  } else {
    it->second.draw(cr, frame.width, frame.height, line);
  }
  cairo_restore(cr);
}

}  // namespace detail
}  // namespace ui
