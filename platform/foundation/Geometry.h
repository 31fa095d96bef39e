#pragma once
// Core Graphics geometry: points, sizes and rectangles in points.
//
// Two coordinate spaces meet in this system: top-left (Accessibility
// positions, event locations, snap frames) and bottom-left (screens, windows,
// the mouse location). These types don't know which one they are in; the one
// conversion lives with the screens.

#include <algorithm>
#include <cmath>
#include <functional>

struct CGPoint {
  double x = 0;
  double y = 0;
  bool operator==(const CGPoint&) const = default;
};

struct CGSize {
  double width = 0;
  double height = 0;
  bool operator==(const CGSize&) const = default;
};

struct CGRect {
  CGPoint origin;
  CGSize size;

  CGRect() = default;
  CGRect(CGPoint o, CGSize s) : origin(o), size(s) {}
  CGRect(double x, double y, double width, double height) : origin{x, y}, size{width, height} {}

  bool operator==(const CGRect&) const = default;

  double minX() const { return std::min(origin.x, origin.x + size.width); }
  double minY() const { return std::min(origin.y, origin.y + size.height); }
  double maxX() const { return std::max(origin.x, origin.x + size.width); }
  double maxY() const { return std::max(origin.y, origin.y + size.height); }
  double midX() const { return origin.x + size.width / 2; }
  double midY() const { return origin.y + size.height / 2; }
  double width() const { return std::abs(size.width); }
  double height() const { return std::abs(size.height); }
  bool isEmpty() const { return size.width == 0 || size.height == 0 || isNull(); }
  bool isNull() const { return std::isinf(origin.x) || std::isinf(origin.y); }

  static CGRect null() { return CGRect(INFINITY, INFINITY, 0, 0); }

  // Half-open on the max edges, as CGRectContainsPoint.
  bool contains(CGPoint p) const {
    return !isNull() && p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
  }
  bool contains(const CGRect& r) const {
    return !isNull() && !r.isNull() && r.minX() >= minX() && r.maxX() <= maxX() && r.minY() >= minY() &&
           r.maxY() <= maxY();
  }
  bool intersects(const CGRect& r) const { return !intersection(r).isNull(); }
  // CGRectIntersection: the null rectangle when the two don't overlap.
  CGRect intersection(const CGRect& r) const {
    if (isNull() || r.isNull()) return null();
    const double x0 = std::max(minX(), r.minX());
    const double y0 = std::max(minY(), r.minY());
    const double x1 = std::min(maxX(), r.maxX());
    const double y1 = std::min(maxY(), r.maxY());
    if (x1 < x0 || y1 < y0 || (x1 == x0 && y1 == y0 && (width() > 0 || r.width() > 0))) return null();
    return CGRect(x0, y0, x1 - x0, y1 - y0);
  }
  CGRect insetBy(double dx, double dy) const {
    return CGRect(minX() + dx, minY() + dy, width() - 2 * dx, height() - 2 * dy);
  }
  CGRect offsetBy(double dx, double dy) const { return CGRect(origin.x + dx, origin.y + dy, size.width, size.height); }

  // Whether origin and size each differ from the other's by less than `tolerance`.
  bool isApproximatelyEqual(const CGRect& other, double tolerance) const {
    return std::abs(origin.x - other.origin.x) < tolerance && std::abs(origin.y - other.origin.y) < tolerance &&
           std::abs(size.width - other.size.width) < tolerance && std::abs(size.height - other.size.height) < tolerance;
  }
};

// NSMouseInRect: the pointer's hot spot sits at the top of its pixel, so in
// unflipped coordinates the top edge belongs to the rectangle and the bottom
// edge does not (the pointer on a screen's top row reads y == maxY). Flipped
// coordinates take the min edges, as contains() does.
inline bool NSMouseInRect(CGPoint p, const CGRect& r, bool flipped = false) {
  if (flipped) return r.contains(p);
  return !r.isNull() && p.x >= r.minX() && p.x < r.maxX() && p.y > r.minY() && p.y <= r.maxY();
}
