#include "platform/ui/View.h"

#include <atomic>
#include <cmath>
#include <cstdio>

namespace ui {

const char* kindName(NodeKind kind) {
  switch (kind) {
    case NodeKind::empty: return "Empty";
    case NodeKind::group: return "Group";
    case NodeKind::forEach: return "ForEach";
    case NodeKind::identified: return "Id";
    case NodeKind::conditional: return "If";
    case NodeKind::component: return "Component";
    case NodeKind::representable: return "Representable";
    case NodeKind::timeline: return "Timeline";
    case NodeKind::vstack: return "VStack";
    case NodeKind::hstack: return "HStack";
    case NodeKind::zstack: return "ZStack";
    case NodeKind::lazyVGrid: return "LazyVGrid";
    case NodeKind::spacer: return "Spacer";
    case NodeKind::divider: return "Divider";
    case NodeKind::text: return "Text";
    case NodeKind::symbol: return "Symbol";
    case NodeKind::image: return "Image";
    case NodeKind::color: return "Color";
    case NodeKind::gradient: return "Gradient";
    case NodeKind::shape: return "Shape";
    case NodeKind::frame: return "Frame";
    case NodeKind::flexFrame: return "FlexFrame";
    case NodeKind::padding: return "Padding";
    case NodeKind::overlay: return "Overlay";
    case NodeKind::background: return "Background";
    case NodeKind::aspectRatio: return "AspectRatio";
    case NodeKind::fixedSize: return "FixedSize";
    case NodeKind::clip: return "Clip";
    case NodeKind::shadow: return "Shadow";
    case NodeKind::scale: return "Scale";
    case NodeKind::opacity: return "Opacity";
    case NodeKind::offset: return "Offset";
    case NodeKind::environment: return "Environment";
    case NodeKind::button: return "Button";
    case NodeKind::toggle: return "Toggle";
    case NodeKind::picker: return "Picker";
    case NodeKind::trackingArea: return "TrackingArea";
    case NodeKind::rightClick: return "RightClick";
    case NodeKind::scrollGesture: return "ScrollGesture";
    case NodeKind::visualEffect: return "VisualEffect";
    case NodeKind::sheet: return "Sheet";
    case NodeKind::lifecycle: return "Lifecycle";
    case NodeKind::hidden: return "Hidden";
  }
  return "?";
}

std::string describe(const Rect& r) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "(%g, %g, %g, %g)", r.x, r.y, r.width, r.height);
  return buf;
}

std::string Color::description() const {
  char buf[96];
  std::snprintf(buf, sizeof buf, "rgba(%g %g %g %g)", r, g, b, a);
  return buf;
}

Namespace::Namespace() {
  static std::atomic<std::uint64_t> next{1};
  id = next++;
}

std::optional<View> PlatformView::hostedContent() const { return std::nullopt; }

namespace {

std::shared_ptr<Element> make(NodeKind kind) {
  auto e = std::make_shared<Element>();
  e->kind = kind;
  return e;
}

std::vector<ElementPtr> elements(std::vector<View>& views) {
  std::vector<ElementPtr> out;
  out.reserve(views.size());
  for (auto& v : views) out.push_back(v.elementPtr());
  return out;
}

// Spacings and insets that cannot be laid out (NaN, infinite) count as
// unspecified, so one bad value cannot move or hide the views around it.
std::optional<double> layoutSpacing(std::optional<double> spacing) {
  return spacing && std::isfinite(*spacing) ? spacing : std::nullopt;
}
double layoutInset(double inset) { return std::isfinite(inset) ? inset : 0; }

const ElementPtr& emptyElement() {
  static const ElementPtr empty = make(NodeKind::empty);
  return empty;
}

}  // namespace

namespace detail {

ElementPtr makeComponentElement(std::shared_ptr<const ComponentBase> component) {
  auto e = make(NodeKind::component);
  e->component = std::move(component);
  return e;
}

ElementPtr makeRepresentableElement(std::shared_ptr<const RepresentableBase> representable) {
  auto e = make(NodeKind::representable);
  e->representable = std::move(representable);
  return e;
}

View makeForEach(std::vector<std::pair<std::string, View>> items) {
  auto e = make(NodeKind::forEach);
  e->children.reserve(items.size());
  for (auto& [id, view] : items) e->children.push_back(view.id(id).elementPtr());
  return View(e);
}

}  // namespace detail

View::View() : element_(emptyElement()) {}
View::View(ElementPtr element) : element_(element ? std::move(element) : emptyElement()) {}
View::View(Color color) {
  auto e = make(NodeKind::color);
  e->color = color;
  element_ = e;
}

NodeKind View::kind() const { return element_->kind; }

View View::wrap(NodeKind kind, const std::function<void(Element&)>& configure) const {
  auto e = make(kind);
  e->children.push_back(element_);
  configure(*e);
  return View(e);
}

View View::with(const std::function<void(Element&)>& change) const {
  auto e = std::make_shared<Element>(*element_);
  change(*e);
  return View(e);
}

View View::padding(double length) const { return padding(Edge::all, length); }
View View::padding(Edge edges, double length) const {
  EdgeInsets in;
  if (contains(edges, Edge::top)) in.top = length;
  if (contains(edges, Edge::leading)) in.leading = length;
  if (contains(edges, Edge::bottom)) in.bottom = length;
  if (contains(edges, Edge::trailing)) in.trailing = length;
  return padding(in);
}
View View::padding(EdgeInsets insets) const {
  return wrap(NodeKind::padding, [&](Element& e) {
    e.geometry.edit().insets = {layoutInset(insets.top), layoutInset(insets.leading), layoutInset(insets.bottom),
                layoutInset(insets.trailing)};
  });
}
View View::frame(std::optional<double> width, std::optional<double> height, Alignment alignment) const {
  return wrap(NodeKind::frame, [&](Element& e) {
    e.width = width;
    e.height = height;
    e.alignment = alignment;
  });
}
View View::frame(const FlexFrame& flex) const {
  return wrap(NodeKind::flexFrame, [&](Element& e) {
    e.geometry.edit().flex = flex;
    e.alignment = flex.alignment;
  });
}
View View::overlay(View content, Alignment alignment) const {
  return wrap(NodeKind::overlay, [&](Element& e) {
    e.children.push_back(content.elementPtr());
    e.alignment = alignment;
  });
}
View View::background(View content, Alignment alignment) const {
  return wrap(NodeKind::background, [&](Element& e) {
    e.children.push_back(content.elementPtr());
    e.alignment = alignment;
  });
}
View View::aspectRatio(std::optional<double> ratio, ContentMode mode) const {
  return wrap(NodeKind::aspectRatio, [&](Element& e) {
    e.geometry.edit().ratio = ratio;
    e.geometry.edit().contentMode = mode;
  });
}
View View::fixedSize(bool horizontal, bool vertical) const {
  return wrap(NodeKind::fixedSize, [&](Element& e) {
    e.geometry.edit().fixedHorizontal = horizontal;
    e.geometry.edit().fixedVertical = vertical;
  });
}
View View::layoutPriority(double priority) const {
  return with([&](Element& e) { e.layoutPriority = priority; });
}
View View::offset(double x, double y) const {
  return wrap(NodeKind::offset, [&](Element& e) {
    e.geometry.edit().offsetX = x;
    e.geometry.edit().offsetY = y;
  });
}
View View::hidden() const {
  return wrap(NodeKind::hidden, [](Element&) {});
}
View View::clipShape(Shape shape) const {
  return wrap(NodeKind::clip, [&](Element& e) { e.drawing.edit().shape = shape; });
}
View View::shadow(Color color, double radius, double x, double y) const {
  return wrap(NodeKind::shadow, [&](Element& e) {
    e.color = color;
    e.drawing.edit().radius = radius;
    e.geometry.edit().offsetX = x;
    e.geometry.edit().offsetY = y;
  });
}
View View::scaleEffect(double scale, UnitPoint anchor) const { return scaleEffect(scale, scale, anchor); }
View View::scaleEffect(double x, double y, UnitPoint anchor) const {
  return wrap(NodeKind::scale, [&](Element& e) {
    e.scaleX = x;
    e.scaleY = y;
    e.drawing.edit().anchor = anchor;
  });
}
View View::scaledLayout(double factor) const {
  // A factor that is not a positive number leaves the content as it is.
  if (!(factor > 0) || !std::isfinite(factor) || factor == 1) return *this;
  return wrap(NodeKind::scale, [&](Element& e) {
    e.scaleX = e.scaleY = factor;
    e.drawing.edit().anchor = UnitPoint::topLeading();
    e.drawing.edit().scalesLayout = true;
  });
}
View View::opacity(double value) const {
  return wrap(NodeKind::opacity, [&](Element& e) { e.opacity = value; });
}
View View::fill(Color color) const {
  if (element_->kind != NodeKind::shape) return *this;
  return with([&](Element& e) {
    e.color = color;
    e.drawing.edit().hasFill = true;
    e.stroke.reset();
  });
}
View View::stroke(Color color, double lineWidth) const {
  StrokeStyle style;
  style.lineWidth = lineWidth;
  return stroke(color, style);
}
View View::stroke(Color color, StrokeStyle style) const {
  if (element_->kind != NodeKind::shape) return *this;
  return with([&](Element& e) {
    e.stroke = style;
    e.strokeColor = color;
  });
}
View View::resizable() const {
  if (element_->kind != NodeKind::image) return *this;
  return with([](Element& e) { e.resizable = true; });
}

View View::environment(std::function<void(EnvironmentValues&)> change) const {
  const Element& inner = *element_;
  // Modifiers in a row make one element (the outer change first): a label
  // with a font, a colour and a line limit is one level, not three.
  if (inner.kind == NodeKind::environment && inner.children.size() == 1 && !inner.attributes.isSet() &&
      inner.layoutPriority == 0 && !inner.flipsForRightToLeft) {
    auto e = make(NodeKind::environment);
    e->children = inner.children;
    e->environmentChange = [outer = std::move(change), then = inner.environmentChange](EnvironmentValues& env) {
      if (outer) outer(env);
      if (then) then(env);
    };
    return View(e);
  }
  return wrap(NodeKind::environment, [&](Element& e) { e.environmentChange = std::move(change); });
}
View View::foregroundColor(Color color) const {
  return environment([color](EnvironmentValues& env) { env.foregroundColor = color; });
}
View View::font(Font font) const {
  return environment([font](EnvironmentValues& env) { env.font = font; });
}
View View::disabled(bool disabled) const {
  // Never turns on what an enclosing view turned off.
  return environment([disabled](EnvironmentValues& env) { env.isEnabled = env.isEnabled && !disabled; });
}
View View::lineLimit(std::optional<int> lines) const {
  return environment([lines](EnvironmentValues& env) { env.lineLimit = lines; });
}
View View::truncationMode(TruncationMode mode) const {
  return environment([mode](EnvironmentValues& env) { env.truncationMode = mode; });
}
View View::multilineTextAlignment(TextAlignment alignment) const {
  return environment([alignment](EnvironmentValues& env) { env.multilineTextAlignment = alignment; });
}
View View::buttonStyle(ButtonStyle style) const {
  return environment([style](EnvironmentValues& env) { env.buttonStyle = style; });
}
View View::toggleStyle(ToggleStyle style) const {
  return environment([style](EnvironmentValues& env) { env.toggleStyle = style; });
}
View View::pickerStyle(PickerStyle style) const {
  return environment([style](EnvironmentValues& env) { env.pickerStyle = style; });
}

View View::id(std::string id) const {
  return wrap(NodeKind::identified, [&](Element& e) { e.attributes.edit().explicitId = std::move(id); });
}
View View::testId(std::string id) const {
  return with([&](Element& e) { e.attributes.edit().testId = std::move(id); });
}
View View::tag(int value) const {
  return with([&](Element& e) { e.attributes.edit().tag = value; });
}
View View::keyboardShortcut(KeyboardShortcut shortcut) const {
  if (element_->kind != NodeKind::button) return *this;
  return with([&](Element& e) { e.attributes.edit().shortcut = shortcut; });
}
View View::matchedGeometryEffect(std::string id, const Namespace& ns, bool) const {
  return with([&](Element& e) { e.attributes.edit().matchedGeometryId = std::to_string(ns.id) + ":" + id; });
}
View View::flipsForRightToLeftLayoutDirection(bool enabled) const {
  return with([&](Element& e) { e.flipsForRightToLeft = enabled; });
}

View View::trackingArea(std::function<void(bool)> onMove) const {
  return wrap(NodeKind::trackingArea, [&](Element& e) { e.behaviour.edit().onMove = std::move(onMove); });
}
View View::onHover(std::function<void(bool)> action) const {
  return wrap(NodeKind::trackingArea, [&](Element& e) {
    e.behaviour.edit().onMove = std::move(action);
    e.behaviour.edit().hoverOnly = true;
  });
}
View View::onRightClick(std::function<void()> action) const {
  return wrap(NodeKind::rightClick, [&](Element& e) { e.action = std::move(action); });
}
View View::onScrollWheel(std::function<void(const ScrollEvent&)> handler) const {
  return wrap(NodeKind::scrollGesture, [&](Element& e) { e.behaviour.edit().onScroll = std::move(handler); });
}
View View::onAppear(std::function<void()> action) const {
  return wrap(NodeKind::lifecycle, [&](Element& e) { e.behaviour.edit().onAppear = std::move(action); });
}
View View::onDisappear(std::function<void()> action) const {
  return wrap(NodeKind::lifecycle, [&](Element& e) { e.behaviour.edit().onDisappear = std::move(action); });
}
View View::sheet(Binding<bool> isPresented, std::function<View()> content, std::function<void()> onDismiss) const {
  return wrap(NodeKind::sheet, [&](Element& e) {
    e.boolBinding = std::move(isPresented);
    e.behaviour.edit().sheetContent = std::move(content);
    e.behaviour.edit().onDismiss = std::move(onDismiss);
  });
}

View EmptyView() { return View(); }

View Group(std::vector<View> children) {
  auto e = make(NodeKind::group);
  e->children = elements(children);
  return View(e);
}

View VStack(std::vector<View> children) {
  return VStack(HorizontalAlignment::center, std::nullopt, std::move(children));
}
View VStack(HorizontalAlignment alignment, std::optional<double> spacing, std::vector<View> children) {
  auto e = make(NodeKind::vstack);
  e->horizontalAlignment = alignment;
  e->spacing = layoutSpacing(spacing);
  e->children = elements(children);
  return View(e);
}
View HStack(std::vector<View> children) {
  return HStack(VerticalAlignment::center, std::nullopt, std::move(children));
}
View HStack(VerticalAlignment alignment, std::optional<double> spacing, std::vector<View> children) {
  auto e = make(NodeKind::hstack);
  e->verticalAlignment = alignment;
  e->spacing = layoutSpacing(spacing);
  e->children = elements(children);
  return View(e);
}
View ZStack(std::vector<View> children) { return ZStack(Alignment::center, std::move(children)); }
View ZStack(Alignment alignment, std::vector<View> children) {
  auto e = make(NodeKind::zstack);
  e->alignment = alignment;
  e->children = elements(children);
  return View(e);
}
View LazyVGrid(std::vector<GridItem> columns, HorizontalAlignment alignment, std::optional<double> spacing,
               std::vector<View> children) {
  auto e = make(NodeKind::lazyVGrid);
  for (auto& column : columns) {
    if (!(column.width >= 0) || std::isinf(column.width)) column.width = 0;
    column.spacing = layoutSpacing(column.spacing);
  }
  e->geometry.edit().columns = std::move(columns);
  e->horizontalAlignment = alignment;
  e->spacing = layoutSpacing(spacing);
  e->children = elements(children);
  return View(e);
}
View Form(std::vector<View> children) {
  return VStack(HorizontalAlignment::leading, std::nullopt, std::move(children));
}
View If(bool condition, View then, View otherwise) {
  auto e = make(NodeKind::conditional);
  e->branch = condition;
  e->children.push_back(condition ? then.elementPtr() : otherwise.elementPtr());
  return View(e);
}

View Spacer(std::optional<double> minLength) {
  auto e = make(NodeKind::spacer);
  e->geometry.edit().minLength = minLength;
  return View(e);
}
View Divider() { return View(make(NodeKind::divider)); }
View Text(std::string text) {
  auto e = make(NodeKind::text);
  e->drawing.edit().text = std::move(text);
  return View(e);
}
View SystemImage(std::string systemName) {
  auto e = make(NodeKind::symbol);
  e->drawing.edit().text = std::move(systemName);
  return View(e);
}
View Image(img::Image image) {
  auto e = make(NodeKind::image);
  e->image = std::move(image);
  return View(e);
}
View LinearGradient(std::vector<Color> colors, UnitPoint startPoint, UnitPoint endPoint) {
  auto e = make(NodeKind::gradient);
  e->gradientColors = std::move(colors);
  e->drawing.edit().startPoint = startPoint;
  e->drawing.edit().endPoint = endPoint;
  return View(e);
}
View ShapeView(Shape shape) {
  auto e = make(NodeKind::shape);
  e->drawing.edit().shape = shape;
  return View(e);
}
View VisualEffect(Material material, BlendingMode blendingMode, VisualEffectState state) {
  auto e = make(NodeKind::visualEffect);
  e->material = material;
  e->drawing.edit().blendingMode = blendingMode;
  e->effectState = state;
  return View(e);
}

View Button(std::function<void()> action, View label) {
  auto e = make(NodeKind::button);
  e->action = std::move(action);
  e->children.push_back(label.elementPtr());
  return View(e);
}
View Button(std::string title, std::function<void()> action) { return Button(std::move(action), Text(std::move(title))); }
View Toggle(View label, Binding<bool> isOn) {
  auto e = make(NodeKind::toggle);
  e->boolBinding = std::move(isOn);
  e->children.push_back(label.elementPtr());
  return View(e);
}
View Toggle(std::string title, Binding<bool> isOn) { return Toggle(Text(std::move(title)), std::move(isOn)); }
View Picker(std::string label, Binding<int> selection, std::vector<PickerOption> options) {
  auto e = make(NodeKind::picker);
  e->drawing.edit().text = std::move(label);
  e->intBinding = std::move(selection);
  for (auto& o : options) {
    e->behaviour.edit().optionTags.push_back(o.tag);
    e->children.push_back(o.label.elementPtr());
  }
  return View(e);
}

View TimelineView(double period, std::function<View(double)> content) {
  auto e = make(NodeKind::timeline);
  e->behaviour.edit().period = period;
  e->behaviour.edit().timelineContent = std::move(content);
  return View(e);
}

}  // namespace ui
