#pragma once
// The symbol images the views name, drawn as simple vector glyphs. A symbol
// is as high as its font's size and as wide as its shape needs; an unknown
// name draws a hollow square of the same height.

#include <string>
#include <vector>

#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"

namespace ui {

bool isKnownSymbol(const std::string& name);
std::vector<std::string> knownSymbols();
Size symbolSize(const std::string& name, const Font& font);

}  // namespace ui
