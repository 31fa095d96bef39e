#pragma once
// NSColor: the application's colour objects are img::Color; the system
// colours are those of the view toolkit (light appearance).

#include "platform/image/Color.h"
#include "platform/ui/Color.h"

namespace appkit {

using NSColor = img::Color;

inline NSColor controlAccentColor() { return ui::Color::controlAccentColor().toNS(); }
inline NSColor labelColor() { return ui::Color::labelColor().toNS(); }
inline NSColor controlTextColor() { return ui::Color::controlTextColor().toNS(); }
inline NSColor controlBackgroundColor() { return ui::Color::controlBackgroundColor().toNS(); }
inline NSColor windowBackgroundColor() { return ui::Color::windowBackgroundColor().toNS(); }

}  // namespace appkit
