#pragma once
// AppKit's names for the geometry types. Window and screen frames are in
// bottom-left screen coordinates.

#include "platform/foundation/Geometry.h"

namespace appkit {

using NSPoint = CGPoint;
using NSSize = CGSize;
using NSRect = CGRect;

inline NSRect NSMakeRect(double x, double y, double width, double height) { return NSRect(x, y, width, height); }
inline NSPoint NSMakePoint(double x, double y) { return NSPoint{x, y}; }
inline NSSize NSMakeSize(double width, double height) { return NSSize{width, height}; }

}  // namespace appkit
