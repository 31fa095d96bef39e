#pragma once
// Views as values.
//
// A `View` is an immutable description of a piece of interface (an element
// tree). Built-in views are made by the functions below (Text, VStack,
// Button...), modifiers are member functions that wrap a view in a new
// element. Any struct with a `View body() const` member converts to a View:
// its body is evaluated by the host under the view's identity, so its State
// members keep their values from one render to the next. A struct with
// `makeNSView()` and `updateNSView(T&)` members converts to a View too: it
// bridges a PlatformView of the windowing layer into the tree. A view
// modifier is a struct with `View body(View content) const`, applied with
// `view.modifier(m)`.
//
// Identity: a child's identity is its parent's identity plus its index among
// the parent's children, or its explicit id (`.id()`, ForEach). A component's
// identity also includes its type, so a different view type at the same
// place starts with fresh state. Use `If` (not a varying number of children)
// for optional content so that the siblings after it keep their identity.
//
// Updates: a render evaluates again only the bodies whose inputs changed: a
// view whose state or observed objects changed, and views that their parent
// re-created with a different value (any value, unless the view type has an
// operator==, which then decides) or in a different environment. Everything
// else keeps its placed subtree from the last render.
//
// Layout follows SwiftUI's two passes (propose a size, then place) with these
// simplifications: grids take fixed columns only and are exactly as wide as
// their columns; text never shrinks to a proposed height; frames are not
// rounded to pixels; hit testing ignores clip shapes other than their
// frames; animations are recorded and applied at once; matched
// geometry is recorded only; layout is always left to right. docs/toolkit.md
// has the full list.

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/image/Image.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Color.h"
#include "platform/ui/Environment.h"
#include "platform/ui/Events.h"
#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/PlatformView.h"
#include "platform/ui/State.h"

namespace ui {

enum class NodeKind {
  empty,
  group,
  forEach,
  identified,
  conditional,
  component,
  representable,
  timeline,
  vstack,
  hstack,
  zstack,
  lazyVGrid,
  spacer,
  divider,
  text,
  symbol,
  image,
  color,
  gradient,
  shape,
  frame,
  flexFrame,
  padding,
  overlay,
  background,
  aspectRatio,
  fixedSize,
  clip,
  shadow,
  scale,
  opacity,
  offset,
  environment,
  button,
  toggle,
  picker,
  trackingArea,
  rightClick,
  scrollGesture,
  visualEffect,
  sheet,
  lifecycle,
  hidden,
};
const char* kindName(NodeKind kind);

enum class ContentMode { fit, fill };
enum class RoundedCornerStyle { circular, continuous };

struct Shape {
  enum class Kind { rectangle, roundedRectangle, circle, capsule, ellipse };
  Kind kind = Kind::rectangle;
  double cornerWidth = 0;
  double cornerHeight = 0;
  RoundedCornerStyle style = RoundedCornerStyle::circular;

  bool operator==(const Shape&) const = default;
  static Shape rectangle() { return {}; }
  static Shape roundedRectangle(double radius, RoundedCornerStyle s = RoundedCornerStyle::circular) {
    return {Kind::roundedRectangle, radius, radius, s};
  }
  static Shape roundedRectangle(double w, double h, RoundedCornerStyle s) { return {Kind::roundedRectangle, w, h, s}; }
  static Shape circle() { return {Kind::circle}; }
  static Shape capsule() { return {Kind::capsule}; }
  static Shape ellipse() { return {Kind::ellipse}; }
};

enum class LineCap { butt, round, square };
enum class LineJoin { miter, round, bevel };
struct StrokeStyle {
  double lineWidth = 1;
  LineCap lineCap = LineCap::butt;
  LineJoin lineJoin = LineJoin::miter;
  double miterLimit = 10;
  std::vector<double> dash;
};

// Only fixed columns are laid out exactly; a flexible or adaptive item is
// treated as a fixed column of its minimum width.
struct GridItem {
  enum class Size { fixed, flexible, adaptive };
  Size size = Size::fixed;
  double width = 0;
  std::optional<double> spacing;
  std::optional<Alignment> alignment;

  static GridItem fixed(double width, std::optional<double> spacing = std::nullopt,
                        std::optional<Alignment> alignment = std::nullopt) {
    return {Size::fixed, width, spacing, alignment};
  }
  static GridItem flexible(double minimum = 10) { return {Size::flexible, minimum, std::nullopt, std::nullopt}; }
  static GridItem adaptive(double minimum) { return {Size::adaptive, minimum, std::nullopt, std::nullopt}; }
};

struct FlexFrame {
  std::optional<double> minWidth = std::nullopt;
  std::optional<double> idealWidth = std::nullopt;
  std::optional<double> maxWidth = std::nullopt;
  std::optional<double> minHeight = std::nullopt;
  std::optional<double> idealHeight = std::nullopt;
  std::optional<double> maxHeight = std::nullopt;
  Alignment alignment = Alignment::center;
};

// NSVisualEffectView's raw values.
enum class Material : int {
  titlebar = 3,
  selection = 4,
  menu = 5,
  popover = 6,
  sidebar = 7,
  headerView = 10,
  sheet = 11,
  windowBackground = 12,
  hudWindow = 13,
  fullScreenUI = 15,
  toolTip = 17,
  contentBackground = 18,
  underWindowBackground = 21,
  underPageBackground = 22,
};
enum class BlendingMode : int { behindWindow = 0, withinWindow = 1 };
enum class VisualEffectState : int { followsWindowActiveState = 0, active = 1, inactive = 2 };

// A matched-geometry namespace. Geometry effects are recorded on the node but
// have no visual effect (changes apply at once).
struct Namespace {
  Namespace();
  std::uint64_t id;
};

struct Element;
using ElementPtr = std::shared_ptr<const Element>;

class View;

// A stored view whose body the host evaluates.
struct ComponentBase {
  virtual ~ComponentBase() = default;
  virtual View evaluate() const = 0;
  virtual const void* address() const = 0;
  virtual std::size_t size() const = 0;
  virtual const std::type_info& type() const = 0;
  // Whether `other` holds an equal view of the same type. Only views with an
  // operator== can be equal; the host then keeps the body it evaluated last.
  virtual bool equals(const ComponentBase& other) const = 0;
};

struct RepresentableBase {
  virtual ~RepresentableBase() = default;
  virtual std::shared_ptr<PlatformView> makeView() const = 0;
  virtual void updateView(PlatformView& view) const = 0;
  virtual const std::type_info& type() const = 0;
};

template <class V>
concept ViewComponent = requires(const V& v) {
  { v.body() } -> std::same_as<View>;
};

// The NSViewRepresentable stand-in: makeNSView() makes the bridged view
// once per identity, updateNSView() runs at every render.
template <class R>
concept ViewRepresentable = requires(const R& r) {
  { r.makeNSView() };
  typename decltype(r.makeNSView())::element_type;
  requires std::derived_from<typename decltype(r.makeNSView())::element_type, PlatformView>;
};

class View {
 public:
  View();  // EmptyView
  explicit View(ElementPtr element);
  View(Color color);  // NOLINT: a colour is a view that fills its frame
  template <class V>
    requires(ViewComponent<V> && !std::same_as<std::decay_t<V>, View>)
  View(V view);  // NOLINT
  template <class R>
    requires(ViewRepresentable<R> && !ViewComponent<R>)
  View(R representable);  // NOLINT

  const Element& element() const { return *element_; }
  const ElementPtr& elementPtr() const { return element_; }
  NodeKind kind() const;

  // Layout modifiers.
  View padding(double length = 16) const;
  View padding(Edge edges, double length = 16) const;
  View padding(EdgeInsets insets) const;
  View frame(std::optional<double> width, std::optional<double> height,
             Alignment alignment = Alignment::center) const;
  View frame(const FlexFrame& flex) const;
  View overlay(View content, Alignment alignment = Alignment::center) const;
  View background(View content, Alignment alignment = Alignment::center) const;
  View aspectRatio(std::optional<double> ratio, ContentMode mode) const;
  View scaledToFit() const { return aspectRatio(std::nullopt, ContentMode::fit); }
  View scaledToFill() const { return aspectRatio(std::nullopt, ContentMode::fill); }
  View fixedSize(bool horizontal = true, bool vertical = true) const;
  View layoutPriority(double priority) const;
  View offset(double x, double y) const;
  View hidden() const;

  // Drawing modifiers.
  View clipShape(Shape shape) const;
  View clipped() const { return clipShape(Shape::rectangle()); }
  View cornerRadius(double radius) const { return clipShape(Shape::roundedRectangle(radius)); }
  View shadow(Color color, double radius, double x = 0, double y = 0) const;
  View scaleEffect(double scale, UnitPoint anchor = UnitPoint::center()) const;
  View scaleEffect(double x, double y, UnitPoint anchor) const;
  // Draws the content scaled by `factor` from its top-leading corner and, unlike
  // scaleEffect, takes the room it draws in: the content is laid out in the
  // proposal divided by the factor and its answer is multiplied by it.
  View scaledLayout(double factor) const;
  View opacity(double value) const;
  // Shapes only: fill or stroke with a colour (otherwise the foreground colour fills).
  View fill(Color color) const;
  View stroke(Color color, double lineWidth = 1) const;
  View stroke(Color color, StrokeStyle style) const;
  // Images only.
  View resizable() const;

  // Environment modifiers.
  View foregroundColor(Color color) const;
  View font(Font font) const;
  View disabled(bool disabled) const;
  View lineLimit(std::optional<int> lines) const;
  View truncationMode(TruncationMode mode) const;
  View multilineTextAlignment(TextAlignment alignment) const;
  View buttonStyle(ButtonStyle style) const;
  View toggleStyle(ToggleStyle style) const;
  View pickerStyle(PickerStyle style) const;
  View environment(std::function<void(EnvironmentValues&)> change) const;
  template <class T>
  View environmentObject(std::shared_ptr<T> object) const {
    return environment([object](EnvironmentValues& env) { env.setObject<T>(object); });
  }

  // Identity and attributes.
  View id(std::string id) const;
  // The test id (accessibility identifier) that the test API finds.
  View testId(std::string id) const;
  // A picker option's value.
  View tag(int value) const;
  View keyboardShortcut(KeyboardShortcut shortcut) const;
  View matchedGeometryEffect(std::string id, const Namespace& ns, bool isSource = true) const;
  View flipsForRightToLeftLayoutDirection(bool enabled) const;
  // Accepted and ignored: there are no safe areas, drawing groups or implicit animations.
  View ignoresSafeArea() const { return *this; }
  View drawingGroup() const { return *this; }
  View animation(std::optional<Animation>) const { return *this; }

  template <class M>
  View modifier(const M& m) const {
    return m.body(*this);
  }

  // Events.
  // Pointer tracking: true on enter and on every move inside, false on exit.
  View trackingArea(std::function<void(bool)> onMove) const;
  // Only the changes: true on entering, false on leaving.
  View onHover(std::function<void(bool)> action) const;
  View onRightClick(std::function<void()> action) const;
  View onScrollWheel(std::function<void(const ScrollEvent&)> handler) const;
  View onAppear(std::function<void()> action) const;
  View onDisappear(std::function<void()> action) const;
  View sheet(Binding<bool> isPresented, std::function<View()> content, std::function<void()> onDismiss = {}) const;

 private:
  View wrap(NodeKind kind, const std::function<void(Element&)>& configure) const;
  View with(const std::function<void(Element&)>& change) const;
  ElementPtr element_;
};

struct PickerOption {
  int tag = 0;
  View label;
};

// Fields that most elements leave at their defaults, kept apart: an element
// that sets none of them holds none, and reads see the defaults. Large trees
// hold many elements, so they stay small.
template <class T>
class Boxed {
 public:
  const T* operator->() const { return value_ ? value_.get() : &defaults(); }
  const T& operator*() const { return *operator->(); }
  bool isSet() const { return value_ != nullptr; }
  // For building an element; a box shared with the element it was copied
  // from is copied first.
  T& edit() {
    if (!value_) {
      value_ = std::make_shared<T>();
    } else if (value_.use_count() > 1) {
      value_ = std::make_shared<T>(*value_);
    }
    return *value_;
  }

 private:
  static const T& defaults() {
    static const T values;
    return values;
  }
  std::shared_ptr<T> value_;
};

// The element tree. Fields are used by the kinds noted beside them.
struct Element {
  NodeKind kind = NodeKind::empty;
  bool flipsForRightToLeft = false;
  bool branch = false;     // conditional
  bool resizable = false;  // image
  // Stacks, grids, frames, overlays.
  HorizontalAlignment horizontalAlignment = HorizontalAlignment::center;
  VerticalAlignment verticalAlignment = VerticalAlignment::center;
  Alignment alignment = Alignment::center;
  std::optional<double> spacing;
  double layoutPriority = 0;
  double opacity = 1;
  std::vector<ElementPtr> children;

  std::function<void(EnvironmentValues&)> environmentChange;
  std::function<void()> action;  // button; right click
  Color color;                   // color; shadow colour; fill
  std::optional<img::Image> image;
  std::optional<double> width, height;  // frame
  double scaleX = 1, scaleY = 1;        // scale
  std::optional<StrokeStyle> stroke;    // shape
  Color strokeColor;
  std::vector<Color> gradientColors;
  Material material = Material::windowBackground;  // visual effect
  VisualEffectState effectState = VisualEffectState::followsWindowActiveState;
  std::optional<Binding<bool>> boolBinding;  // toggle; sheet
  std::optional<Binding<int>> intBinding;    // picker

  std::shared_ptr<const ComponentBase> component;
  std::shared_ptr<const RepresentableBase> representable;

  struct Attributes {
    std::optional<std::string> explicitId;  // identified
    std::string testId;
    std::optional<int> tag;
    std::string matchedGeometryId;
    KeyboardShortcut shortcut = KeyboardShortcut::none;
  };
  Boxed<Attributes> attributes;

  // Frames, padding, grids, spacers, offsets.
  struct Geometry {
    std::vector<GridItem> columns;
    std::optional<double> minLength;  // spacer
    FlexFrame flex;
    EdgeInsets insets;
    std::optional<double> ratio;
    ContentMode contentMode = ContentMode::fit;
    bool fixedHorizontal = false, fixedVertical = false;
    double offsetX = 0, offsetY = 0;  // offset; shadow
  };
  Boxed<Geometry> geometry;

  struct Drawing {
    std::string text;  // text; symbol name for symbol; picker label
    bool hasFill = false;
    UnitPoint startPoint = UnitPoint::top(), endPoint = UnitPoint::bottom();
    Shape shape;        // shape; clip
    double radius = 0;  // shadow
    UnitPoint anchor;
    bool scalesLayout = false;  // scale: takes the room it draws in
    BlendingMode blendingMode = BlendingMode::behindWindow;
  };
  Boxed<Drawing> drawing;

  struct Behaviour {
    std::vector<int> optionTags;               // picker (children are the option labels)
    std::function<void(bool)> onMove;
    bool hoverOnly = false;  // tracking area: no reports for moves inside
    std::function<void(const ScrollEvent&)> onScroll;
    std::function<void()> onAppear, onDisappear;
    std::function<View()> sheetContent;
    std::function<void()> onDismiss;
    double period = 0;  // timeline
    std::function<View(double)> timelineContent;
  };
  Boxed<Behaviour> behaviour;
};

namespace detail {

template <class V>
struct Component final : ComponentBase {
  explicit Component(V v) : view(std::move(v)) {}
  View evaluate() const override { return view.body(); }
  const void* address() const override { return &view; }
  std::size_t size() const override { return sizeof(V); }
  const std::type_info& type() const override { return typeid(V); }
  bool equals(const ComponentBase& other) const override {
    if constexpr (std::equality_comparable<V>) {
      return other.type() == typeid(V) && static_cast<const Component&>(other).view == view;
    } else {
      return false;
    }
  }
  V view;
};

template <class R>
struct Representable final : RepresentableBase {
  using Ptr = decltype(std::declval<const R&>().makeNSView());
  using Made = typename Ptr::element_type;
  explicit Representable(R r) : rep(std::move(r)) {}
  std::shared_ptr<PlatformView> makeView() const override { return rep.makeNSView(); }
  void updateView(PlatformView& view) const override { rep.updateNSView(static_cast<Made&>(view)); }
  const std::type_info& type() const override { return typeid(R); }
  R rep;
};

ElementPtr makeComponentElement(std::shared_ptr<const ComponentBase> component);
ElementPtr makeRepresentableElement(std::shared_ptr<const RepresentableBase> representable);

}  // namespace detail

template <class V>
  requires(ViewComponent<V> && !std::same_as<std::decay_t<V>, View>)
View::View(V view)
    : element_(detail::makeComponentElement(std::make_shared<const detail::Component<V>>(std::move(view)))) {}

template <class R>
  requires(ViewRepresentable<R> && !ViewComponent<R>)
View::View(R representable)
    : element_(detail::makeRepresentableElement(
          std::make_shared<const detail::Representable<R>>(std::move(representable)))) {}

// Containers.
View EmptyView();
View Group(std::vector<View> children);
View VStack(std::vector<View> children);
View VStack(HorizontalAlignment alignment, std::optional<double> spacing, std::vector<View> children);
View HStack(std::vector<View> children);
View HStack(VerticalAlignment alignment, std::optional<double> spacing, std::vector<View> children);
View ZStack(std::vector<View> children);
View ZStack(Alignment alignment, std::vector<View> children);
// Rows of fixed columns; `spacing` is the space between rows (default 8).
View LazyVGrid(std::vector<GridItem> columns, HorizontalAlignment alignment, std::optional<double> spacing,
               std::vector<View> children);
// A vertical form: leading-aligned rows with the default spacing.
View Form(std::vector<View> children);
// Two-way conditional content; each branch has its own identity.
View If(bool condition, View then, View otherwise = EmptyView());

// ForEach over items with an explicit id for each.
template <class T, class IdFn, class ContentFn>
View ForEach(const std::vector<T>& items, IdFn id, ContentFn content);

// Leaves.
View Spacer(std::optional<double> minLength = std::nullopt);
View Divider();
View Text(std::string text);
View SystemImage(std::string systemName);
View Image(img::Image image);
View LinearGradient(std::vector<Color> colors, UnitPoint startPoint, UnitPoint endPoint);
View ShapeView(Shape shape);
inline View Rectangle() { return ShapeView(Shape::rectangle()); }
inline View RoundedRectangle(double radius, RoundedCornerStyle style = RoundedCornerStyle::circular) {
  return ShapeView(Shape::roundedRectangle(radius, style));
}
inline View Circle() { return ShapeView(Shape::circle()); }
inline View Capsule() { return ShapeView(Shape::capsule()); }
inline View Ellipse() { return ShapeView(Shape::ellipse()); }
View VisualEffect(Material material, BlendingMode blendingMode, VisualEffectState state);

// Controls.
View Button(std::function<void()> action, View label);
View Button(std::string title, std::function<void()> action);
View Toggle(View label, Binding<bool> isOn);
View Toggle(std::string title, Binding<bool> isOn);
View Picker(std::string label, Binding<int> selection, std::vector<PickerOption> options);

// Re-evaluates `content` (with the current wall-clock time) every `period`
// seconds while it is in the tree, counted from the moment it appears.
View TimelineView(double period, std::function<View(double)> content);

namespace detail {
View makeForEach(std::vector<std::pair<std::string, View>> items);
}

template <class T, class IdFn, class ContentFn>
View ForEach(const std::vector<T>& items, IdFn id, ContentFn content) {
  std::vector<std::pair<std::string, View>> built;
  built.reserve(items.size());
  for (const auto& item : items) built.emplace_back(std::string(id(item)), View(content(item)));
  return detail::makeForEach(std::move(built));
}

}  // namespace ui
