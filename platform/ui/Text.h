#pragma once
// Text measurement. Text is laid out by pango in DejaVu Sans at 72 dpi with
// hinting off and no system font configuration, so a string has the same size
// on every machine.

#include <optional>
#include <string>

#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"

namespace ui {

// The size of `text` wrapped to `width` (none: one line per paragraph),
// with at most `lineLimit` lines (the last one truncated with an ellipsis).
// Empty text has size zero.
Size measureText(const std::string& text, const Font& font, std::optional<double> width = std::nullopt,
                 std::optional<int> lineLimit = std::nullopt);

// The height of one line of the font.
double lineHeight(const Font& font);

// Whether the fixed font files were found (false: the machine's fonts are
// used and metrics may differ).
bool usingBundledFonts();

}  // namespace ui
