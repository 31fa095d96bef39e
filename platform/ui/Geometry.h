#pragma once
// Points, sizes, rectangles, insets and alignments of the view toolkit. All
// lengths are points; view coordinates have their origin at the top left of
// the hosting view with y growing downwards.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace ui {

inline constexpr double infinity = std::numeric_limits<double>::infinity();

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  bool operator==(const Rect&) const = default;
  double minX() const { return x; }
  double minY() const { return y; }
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  double midX() const { return x + width / 2; }
  double midY() const { return y + height / 2; }
  Point origin() const { return {x, y}; }
  Size size() const { return {width, height}; }
  bool isEmpty() const { return !(width > 0) || !(height > 0); }
  // Half-open on the far edges, like NSPointInRect for flipped views.
  bool contains(Point p) const { return p.x >= x && p.x < maxX() && p.y >= y && p.y < maxY(); }
  Rect intersection(const Rect& o) const {
    double x0 = std::max(x, o.x), y0 = std::max(y, o.y);
    double x1 = std::min(maxX(), o.maxX()), y1 = std::min(maxY(), o.maxY());
    if (x1 <= x0 || y1 <= y0) return {x0, y0, 0, 0};
    return {x0, y0, x1 - x0, y1 - y0};
  }
  Rect unionWith(const Rect& o) const {
    double x0 = std::min(x, o.x), y0 = std::min(y, o.y);
    double x1 = std::max(maxX(), o.maxX()), y1 = std::max(maxY(), o.maxY());
    return {x0, y0, x1 - x0, y1 - y0};
  }
  Rect insetBy(double dx, double dy) const { return {x + dx, y + dy, width - 2 * dx, height - 2 * dy}; }
  Rect offsetBy(double dx, double dy) const { return {x + dx, y + dy, width, height}; }
};

std::string describe(const Rect& r);

// A proposed size: a missing dimension asks for the view's ideal size in
// that direction (SwiftUI's nil proposal).
struct ProposedSize {
  std::optional<double> width;
  std::optional<double> height;
  bool operator==(const ProposedSize&) const = default;
  static ProposedSize unspecified() { return {}; }
  static ProposedSize zero() { return {0.0, 0.0}; }
  static ProposedSize infinite() { return {infinity, infinity}; }
  static ProposedSize of(Size s) { return {s.width, s.height}; }
};

struct EdgeInsets {
  double top = 0;
  double leading = 0;
  double bottom = 0;
  double trailing = 0;
  bool operator==(const EdgeInsets&) const = default;
};

// Edge sets for padding: combine with |.
enum class Edge : std::uint8_t {
  top = 1,
  leading = 2,
  bottom = 4,
  trailing = 8,
  horizontal = 2 | 8,
  vertical = 1 | 4,
  all = 15,
};
constexpr Edge operator|(Edge a, Edge b) {
  return static_cast<Edge>(static_cast<std::uint8_t>(a) | static_cast<std::uint8_t>(b));
}
constexpr bool contains(Edge set, Edge e) {
  return (static_cast<std::uint8_t>(set) & static_cast<std::uint8_t>(e)) == static_cast<std::uint8_t>(e);
}

enum class Axis { horizontal, vertical };

enum class HorizontalAlignment { leading, center, trailing };
enum class VerticalAlignment { top, center, bottom };

struct Alignment {
  HorizontalAlignment horizontal = HorizontalAlignment::center;
  VerticalAlignment vertical = VerticalAlignment::center;
  bool operator==(const Alignment&) const = default;

  static const Alignment center;
  static const Alignment leading;
  static const Alignment trailing;
  static const Alignment top;
  static const Alignment bottom;
  static const Alignment topLeading;
  static const Alignment topTrailing;
  static const Alignment bottomLeading;
  static const Alignment bottomTrailing;
};
inline constexpr Alignment Alignment::center{HorizontalAlignment::center, VerticalAlignment::center};
inline constexpr Alignment Alignment::leading{HorizontalAlignment::leading, VerticalAlignment::center};
inline constexpr Alignment Alignment::trailing{HorizontalAlignment::trailing, VerticalAlignment::center};
inline constexpr Alignment Alignment::top{HorizontalAlignment::center, VerticalAlignment::top};
inline constexpr Alignment Alignment::bottom{HorizontalAlignment::center, VerticalAlignment::bottom};
inline constexpr Alignment Alignment::topLeading{HorizontalAlignment::leading, VerticalAlignment::top};
inline constexpr Alignment Alignment::topTrailing{HorizontalAlignment::trailing, VerticalAlignment::top};
inline constexpr Alignment Alignment::bottomLeading{HorizontalAlignment::leading, VerticalAlignment::bottom};
inline constexpr Alignment Alignment::bottomTrailing{HorizontalAlignment::trailing, VerticalAlignment::bottom};

// A point in a view's unit square: (0, 0) top leading, (1, 1) bottom trailing.
struct UnitPoint {
  double x = 0.5;
  double y = 0.5;
  bool operator==(const UnitPoint&) const = default;

  static constexpr UnitPoint center() { return {0.5, 0.5}; }
  static constexpr UnitPoint top() { return {0.5, 0}; }
  static constexpr UnitPoint bottom() { return {0.5, 1}; }
  static constexpr UnitPoint leading() { return {0, 0.5}; }
  static constexpr UnitPoint trailing() { return {1, 0.5}; }
  static constexpr UnitPoint topLeading() { return {0, 0}; }
  static constexpr UnitPoint bottomTrailing() { return {1, 1}; }
};

// Offset of a child of size `inner` inside `outer` for an alignment.
inline double alignOffset(HorizontalAlignment a, double outer, double inner) {
  switch (a) {
    case HorizontalAlignment::leading: return 0;
    case HorizontalAlignment::center: return (outer - inner) / 2;
    case HorizontalAlignment::trailing: return outer - inner;
  }
  return 0;
}
inline double alignOffset(VerticalAlignment a, double outer, double inner) {
  switch (a) {
    case VerticalAlignment::top: return 0;
    case VerticalAlignment::center: return (outer - inner) / 2;
    case VerticalAlignment::bottom: return outer - inner;
  }
  return 0;
}

}  // namespace ui
