#pragma once
// Drawing helpers shared by the renderer. Internal; includes cairo.

#include <cairo.h>

#include <optional>
#include <string>

#include "platform/ui/Color.h"
#include "platform/ui/Environment.h"
#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"

namespace ui::detail {

void drawText(cairo_t* cr, const std::string& text, const Font& font, const Rect& frame, const Color& color,
              std::optional<int> lineLimit, TextAlignment alignment);

void drawSymbol(cairo_t* cr, const std::string& name, const Font& font, const Rect& frame, const Color& color);

inline void setColor(cairo_t* cr, const Color& c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

}  // namespace ui::detail
