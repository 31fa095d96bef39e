// Two-pass layout: sizeThatFits() answers a proposal, place() fixes frames.

#include "platform/ui/detail/Layout.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "platform/ui/Symbols.h"
#include "platform/ui/Text.h"

namespace ui::detail {
namespace {

constexpr double kDefaultSpacing = 8;
constexpr double kCheckboxSize = 14;
constexpr double kControlGap = 6;
constexpr double kRadioSize = 16;
constexpr EdgeInsets kBorderedButtonInsets{3, 10, 3, 10};
constexpr double kPopupLeading = 10;
constexpr double kPopupTrailing = 22;
constexpr double kPopupMinHeight = 20;
constexpr double kSwitchWidth = 32;
constexpr double kSwitchHeight = 18;

double sub(double a, double b) { return std::isinf(a) ? a : std::max(0.0, a - b); }
std::optional<double> sub(std::optional<double> a, double b) {
  if (!a) return a;
  return sub(*a, b);
}
double add(double a, double b) { return std::isinf(a) || std::isinf(b) ? infinity : a + b; }

Node* only(Node& n) { return n.children.empty() ? nullptr : n.children.front().get(); }

Size sizeOfChild(Node* c, ProposedSize p) { return c ? sizeThatFits(*c, p) : Size{}; }

// A proposal in the space of content drawn `factor` times its size.
ProposedSize unscaled(ProposedSize p, double factor) {
  auto one = [&](std::optional<double> v) -> std::optional<double> {
    if (!v || std::isinf(*v)) return v;
    return *v / factor;
  };
  return {one(p.width), one(p.height)};
}

// What a flexible frame proposes to its child: the proposal clamped to the
// frame's bounds, or the frame's ideal size where nothing is proposed. A child
// whose ideal size passes the frame's maximum is proposed the maximum, so
// that it fits inside the frame rather than spilling over its neighbours.
ProposedSize flexChildProposal(const FlexFrame& f, ProposedSize p, Node* child) {
  auto clamp = [](std::optional<double> p, std::optional<double> lo, std::optional<double> ideal,
                  std::optional<double> hi) -> std::optional<double> {
    if (!p) return ideal;
    double v = *p;
    if (hi) v = std::min(v, *hi);
    if (lo) v = std::max(v, *lo);
    return v;
  };
  ProposedSize cp{clamp(p.width, f.minWidth, f.idealWidth, f.maxWidth),
                  clamp(p.height, f.minHeight, f.idealHeight, f.maxHeight)};
  if ((!cp.width && f.maxWidth) || (!cp.height && f.maxHeight)) {
    const Size ideal = sizeOfChild(child, cp);
    if (!cp.width && f.maxWidth && ideal.width > *f.maxWidth) cp.width = f.maxWidth;
    if (!cp.height && f.maxHeight && ideal.height > *f.maxHeight) cp.height = f.maxHeight;
  }
  return cp;
}

bool passThrough(NodeKind k) {
  switch (k) {
    case NodeKind::identified:
    case NodeKind::conditional:
    case NodeKind::component:
    case NodeKind::timeline:
    case NodeKind::environment:
    case NodeKind::clip:
    case NodeKind::shadow:
    case NodeKind::scale:
    case NodeKind::opacity:
    case NodeKind::lifecycle:
    case NodeKind::hidden:
    case NodeKind::trackingArea:
    case NodeKind::rightClick:
    case NodeKind::scrollGesture:
    case NodeKind::sheet:
    case NodeKind::offset:
      return true;
    default:
      return false;
  }
}

bool borderedButton(const Node& n) {
  auto style = n.env ? n.env->buttonStyle : ButtonStyle::automatic;
  return style == ButtonStyle::automatic || style == ButtonStyle::bordered;
}

const Font& fontOf(const Node& n) {
  static const Font body = Font::body();
  return n.env ? n.env->font : body;
}

double mainOf(Size s, Axis a) { return a == Axis::horizontal ? s.width : s.height; }
double crossOf(Size s, Axis a) { return a == Axis::horizontal ? s.height : s.width; }

// ---- stacks ----

struct StackResult {
  Size size;
  std::vector<Size> sizes;
  std::vector<ProposedSize> proposals;
};

StackResult stack(Node& n, ProposedSize p, Axis axis, std::optional<double> spacingOverride = std::nullopt) {
  StackResult r;
  auto& kids = n.layoutChildren;
  const std::size_t count = kids.size();
  r.sizes.resize(count);
  r.proposals.resize(count);
  if (count == 0) return r;
  double spacing = spacingOverride ? *spacingOverride : n.el().spacing.value_or(kDefaultSpacing);
  double totalSpacing = spacing * static_cast<double>(count - 1);
  std::optional<double> along = axis == Axis::horizontal ? p.width : p.height;
  std::optional<double> cross = axis == Axis::horizontal ? p.height : p.width;
  auto propose = [&](std::optional<double> a) {
    return axis == Axis::horizontal ? ProposedSize{a, cross} : ProposedSize{cross, a};
  };

  if (!along) {
    for (std::size_t i = 0; i < count; ++i) {
      r.proposals[i] = propose(std::nullopt);
      r.sizes[i] = sizeThatFits(*kids[i], r.proposals[i]);
    }
  } else {
    struct Item {
      std::size_t index;
      double priority;
      double flexibility;
      double minimum;
    };
    std::vector<Item> items;
    items.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      // A single child is given all there is: its flexibility decides nothing.
      if (count == 1) {
        items.push_back({i, kids[i]->el().layoutPriority, 0, 0});
        break;
      }
      double lo = mainOf(sizeThatFits(*kids[i], propose(0.0)), axis);
      double hi = mainOf(sizeThatFits(*kids[i], propose(infinity)), axis);
      items.push_back({i, kids[i]->el().layoutPriority, std::isinf(hi) ? infinity : hi - lo, lo});
    }
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
      if (a.priority != b.priority) return a.priority > b.priority;
      return a.flexibility < b.flexibility;
    });
    double remaining = sub(*along, totalSpacing);
    std::size_t start = 0;
    while (start < items.size()) {
      std::size_t end = start;
      while (end < items.size() && items[end].priority == items[start].priority) ++end;
      double reserve = 0;
      for (std::size_t j = end; j < items.size(); ++j) reserve += items[j].minimum;
      double available = sub(remaining, reserve);
      std::size_t left = end - start;
      for (std::size_t j = start; j < end; ++j, --left) {
        double share = std::isinf(available) ? infinity : std::max(0.0, available / static_cast<double>(left));
        auto i = items[j].index;
        r.proposals[i] = propose(share);
        r.sizes[i] = sizeThatFits(*kids[i], r.proposals[i]);
        double used = mainOf(r.sizes[i], axis);
        available = std::isinf(available) ? available : available - used;
        remaining = std::isinf(remaining) ? remaining : remaining - used;
      }
      start = end;
    }
  }
  double main = totalSpacing, crossMax = 0;
  for (auto& s : r.sizes) {
    main = add(main, mainOf(s, axis));
    crossMax = std::max(crossMax, crossOf(s, axis));
  }
  r.size = axis == Axis::horizontal ? Size{main, crossMax} : Size{crossMax, main};
  return r;
}

void placeStack(Node& n, ProposedSize p, Axis axis) {
  auto r = stack(n, p, axis);
  double spacing = n.el().spacing.value_or(kDefaultSpacing);
  double cursor = axis == Axis::horizontal ? n.frame.x : n.frame.y;
  for (std::size_t i = 0; i < n.layoutChildren.size(); ++i) {
    Size s = r.sizes[i];
    Point origin;
    if (axis == Axis::horizontal) {
      origin = {cursor, n.frame.y + alignOffset(n.el().verticalAlignment, n.frame.height, s.height)};
    } else {
      origin = {n.frame.x + alignOffset(n.el().horizontalAlignment, n.frame.width, s.width), cursor};
    }
    place(*n.layoutChildren[i], origin, r.proposals[i]);
    cursor += mainOf(s, axis) + spacing;
  }
}

// ---- grid ----

struct GridResult {
  Size size;
  std::vector<double> columnX;
  std::vector<double> rowY;
  std::vector<double> rowHeight;
};

GridResult grid(Node& n) {
  GridResult g;
  const auto& cols = n.el().geometry->columns;
  auto& kids = n.layoutChildren;
  if (cols.empty()) return g;
  double x = 0;
  for (std::size_t c = 0; c < cols.size(); ++c) {
    g.columnX.push_back(x);
    x += cols[c].width;
    if (c + 1 < cols.size()) x += cols[c].spacing.value_or(kDefaultSpacing);
  }
  double rowSpacing = n.el().spacing.value_or(kDefaultSpacing);
  std::size_t rows = (kids.size() + cols.size() - 1) / cols.size();
  double y = 0;
  for (std::size_t row = 0; row < rows; ++row) {
    double h = 0;
    for (std::size_t c = 0; c < cols.size(); ++c) {
      std::size_t i = row * cols.size() + c;
      if (i >= kids.size()) break;
      h = std::max(h, sizeThatFits(*kids[i], ProposedSize{cols[c].width, std::nullopt}).height);
    }
    if (row > 0) y += rowSpacing;
    g.rowY.push_back(y);
    g.rowHeight.push_back(h);
    y += h;
  }
  g.size = {x, y};
  return g;
}

// ---- controls ----

Size pickerSize(Node& n, ProposedSize p) {
  auto style = n.env ? n.env->pickerStyle : PickerStyle::automatic;
  double labelWidth = 0, labelHeight = 0;
  if (!n.el().drawing->text.empty()) {
    Size l = measureText(n.el().drawing->text, fontOf(n));
    labelWidth = l.width + kDefaultSpacing;
    labelHeight = l.height;
  }
  if (style == PickerStyle::radioGroup) {
    double w = 0, h = 0;
    auto avail = sub(sub(p.width, labelWidth), kRadioSize + kControlGap);
    for (std::size_t i = 0; i < n.children.size(); ++i) {
      Size s = sizeThatFits(*n.children[i], ProposedSize{avail, std::nullopt});
      w = std::max(w, kRadioSize + kControlGap + s.width);
      h += std::max(kRadioSize, s.height) + (i > 0 ? kControlGap : 0);
    }
    return {labelWidth + w, std::max(h, labelHeight)};
  }
  double w = 0, h = 0;
  for (auto& c : n.children) {
    Size s = sizeThatFits(*c, ProposedSize{});
    w = std::max(w, s.width);
    h = std::max(h, s.height);
  }
  return {labelWidth + kPopupLeading + w + kPopupTrailing, std::max(kPopupMinHeight, std::max(h + 6, labelHeight))};
}

Size compute(Node& n, ProposedSize p) {
  const Element& e = n.el();
  switch (n.kind) {
    case NodeKind::empty:
      return {0, 0};
    case NodeKind::group:
    case NodeKind::forEach:
    case NodeKind::vstack:
      return stack(n, p, Axis::vertical).size;
    case NodeKind::hstack:
      return stack(n, p, Axis::horizontal).size;
    case NodeKind::zstack: {
      Size s;
      for (auto* c : n.layoutChildren) {
        Size cs = sizeThatFits(*c, p);
        s.width = std::max(s.width, cs.width);
        s.height = std::max(s.height, cs.height);
      }
      return s;
    }
    case NodeKind::lazyVGrid:
      return grid(n).size;
    case NodeKind::spacer: {
      double minimum = e.geometry->minLength.value_or(kDefaultSpacing);
      if (n.stackAxis == Axis::horizontal) return {std::max(minimum, p.width.value_or(minimum)), 0};
      if (n.stackAxis == Axis::vertical) return {0, std::max(minimum, p.height.value_or(minimum))};
      return {p.width.value_or(0), p.height.value_or(0)};
    }
    case NodeKind::divider:
      if (n.stackAxis == Axis::horizontal) return {1, p.height.value_or(0)};
      return {p.width.value_or(0), 1};
    case NodeKind::text: {
      std::optional<double> width;
      if (p.width && std::isfinite(*p.width)) width = p.width;
      return measureText(e.drawing->text, fontOf(n), width, n.env ? n.env->lineLimit : std::nullopt);
    }
    case NodeKind::symbol:
      return symbolSize(e.drawing->text, fontOf(n));
    case NodeKind::image: {
      img::Size is = e.image ? e.image->size() : img::Size{};
      if (!e.resizable) return {is.width, is.height};
      return {p.width.value_or(is.width), p.height.value_or(is.height)};
    }
    case NodeKind::color:
    case NodeKind::gradient:
    case NodeKind::shape:
    case NodeKind::visualEffect:
      return {p.width.value_or(10), p.height.value_or(10)};
    case NodeKind::frame: {
      Node* c = only(n);
      ProposedSize cp{e.width ? e.width : p.width, e.height ? e.height : p.height};
      Size cs = c ? sizeThatFits(*c, cp) : Size{};
      return {e.width.value_or(cs.width), e.height.value_or(cs.height)};
    }
    case NodeKind::flexFrame: {
      const FlexFrame& f = e.geometry->flex;
      Node* c = only(n);
      const ProposedSize cp = flexChildProposal(f, p, c);
      Size cs = c ? sizeThatFits(*c, cp) : Size{};
      auto result = [](double child, std::optional<double> p, std::optional<double> lo, std::optional<double> ideal,
                       std::optional<double> hi) {
        if (!lo && !hi) return child;
        double proposed = p ? *p : ideal.value_or(child);
        double low = lo.value_or(child), high = hi.value_or(child);
        return std::max(low, std::min(high, proposed));
      };
      return {result(cs.width, p.width, f.minWidth, f.idealWidth, f.maxWidth),
              result(cs.height, p.height, f.minHeight, f.idealHeight, f.maxHeight)};
    }
    case NodeKind::padding: {
      const EdgeInsets& in = e.geometry->insets;
      Node* c = only(n);
      ProposedSize cp{sub(p.width, in.leading + in.trailing), sub(p.height, in.top + in.bottom)};
      Size cs = c ? sizeThatFits(*c, cp) : Size{};
      return {add(cs.width, in.leading + in.trailing), add(cs.height, in.top + in.bottom)};
    }
    case NodeKind::overlay:
    case NodeKind::background: {
      Node* c = only(n);
      return c ? sizeThatFits(*c, p) : Size{};
    }
    case NodeKind::aspectRatio: {
      Node* c = only(n);
      if (!c) return {};
      return sizeThatFits(*c, aspectProposal(n, p));
    }
    case NodeKind::fixedSize: {
      Node* c = only(n);
      ProposedSize cp{e.geometry->fixedHorizontal ? std::nullopt : p.width,
                      e.geometry->fixedVertical ? std::nullopt : p.height};
      return c ? sizeThatFits(*c, cp) : Size{};
    }
    case NodeKind::button: {
      Node* c = only(n);
      if (!c) return {};
      if (!borderedButton(n)) return sizeThatFits(*c, p);
      const EdgeInsets in = kBorderedButtonInsets;
      Size cs = sizeThatFits(*c, {sub(p.width, in.leading + in.trailing), sub(p.height, in.top + in.bottom)});
      return {cs.width + in.leading + in.trailing, cs.height + in.top + in.bottom};
    }
    case NodeKind::toggle: {
      Node* c = only(n);
      bool isSwitch = n.env && n.env->toggleStyle == ToggleStyle::switchStyle;
      double boxW = isSwitch ? kSwitchWidth : kCheckboxSize, boxH = isSwitch ? kSwitchHeight : kCheckboxSize;
      Size cs = c ? sizeThatFits(*c, {sub(p.width, boxW + kControlGap), p.height}) : Size{};
      double gap = cs.width > 0 ? kControlGap : 0;
      return {boxW + gap + cs.width, std::max(boxH, cs.height)};
    }
    case NodeKind::picker:
      return pickerSize(n, p);
    case NodeKind::scale: {
      Node* c = only(n);
      if (!e.drawing->scalesLayout) return sizeOfChild(c, p);
      const Size cs = sizeOfChild(c, unscaled(p, e.scaleX));
      return {cs.width * e.scaleX, cs.height * e.scaleX};
    }
    case NodeKind::representable: {
      Node* c = only(n);
      if (c) return sizeThatFits(*c, p);
      return {p.width.value_or(0), p.height.value_or(0)};
    }
    default:
      break;
  }
  if (passThrough(n.kind)) {
    Node* c = only(n);
    return c ? sizeThatFits(*c, p) : Size{};
  }
  return {};
}

}  // namespace

ProposedSize aspectProposal(Node& n, ProposedSize p) {
  const Element& e = n.el();
  Node* c = only(n);
  double ratio = 1;
  if (e.geometry->ratio && *e.geometry->ratio > 0) {
    ratio = *e.geometry->ratio;
  } else if (c) {
    Size ideal = sizeThatFits(*c, ProposedSize{});
    if (ideal.width > 0 && ideal.height > 0) ratio = ideal.width / ideal.height;
  }
  std::optional<double> w = p.width, h = p.height;
  if (!w && !h) {
    Size ideal = c ? sizeThatFits(*c, ProposedSize{}) : Size{};
    w = ideal.width;
    h = ideal.height;
  }
  if (w && h) {
    double fitW = std::min(*w, *h * ratio);
    double fillW = std::max(*w, *h * ratio);
    double width = e.geometry->contentMode == ContentMode::fit ? fitW : fillW;
    if (std::isinf(width)) return {width, width};
    return {width, width / ratio};
  }
  if (w) return {*w, std::isinf(*w) ? infinity : *w / ratio};
  return {std::isinf(*h) ? infinity : *h * ratio, *h};
}

Size sizeThatFits(Node& n, ProposedSize p) {
  for (const auto& entry : n.cache) {
    if (entry.proposal == p) return entry.size;
  }
  Size s = compute(n, p);
  // A nonsense length (NaN, negative) takes no room rather than moving or
  // hiding the views after it.
  if (!(s.width >= 0)) s.width = 0;
  if (!(s.height >= 0)) s.height = 0;
  if (n.cache.size() >= 8) n.cache.erase(n.cache.begin());
  n.cache.push_back({p, s});
  return s;
}

namespace {
thread_local std::uint64_t currentPass = 0;
}  // namespace

void setLayoutPass(std::uint64_t pass) { currentPass = pass; }

void place(Node& n, Point origin, ProposedSize p) {
  Node::Reuse& r = n.reuse;
  // An unchanged subtree placed as it was when it was last placed (and not
  // hidden): every frame inside is as it was.
  if (r.changedInPass != currentPass && r.placedInPass != 0 && r.origin == origin && r.proposal == p &&
      !r.contentHidden && !n.collapsed) {
    r.placedInPass = currentPass;
    r.placementKept = true;
    return;
  }
  r.placedInPass = currentPass;
  r.placementKept = false;
  r.origin = origin;
  r.proposal = p;
  Size size = sizeThatFits(n, p);
  n.collapsed = false;
  n.placed = true;
  n.frame = {origin.x, origin.y, size.width, size.height};
  const Element& e = n.el();
  auto placeAligned = [&](Node& child, ProposedSize cp, Alignment a, Rect in) {
    Size cs = sizeThatFits(child, cp);
    place(child,
          {in.x + alignOffset(a.horizontal, in.width, cs.width), in.y + alignOffset(a.vertical, in.height, cs.height)},
          cp);
  };
  switch (n.kind) {
    case NodeKind::group:
    case NodeKind::forEach:
    case NodeKind::vstack:
      placeStack(n, p, Axis::vertical);
      return;
    case NodeKind::hstack:
      placeStack(n, p, Axis::horizontal);
      return;
    case NodeKind::zstack:
      for (auto* c : n.layoutChildren) placeAligned(*c, p, e.alignment, n.frame);
      return;
    case NodeKind::lazyVGrid: {
      auto g = grid(n);
      const auto& cols = e.geometry->columns;
      for (std::size_t i = 0; i < n.layoutChildren.size(); ++i) {
        Node& c = *n.layoutChildren[i];
        if (cols.empty()) {
          // Nothing to lay the cells out in: they take no space and draw nothing.
          place(c, origin, ProposedSize::zero());
          c.frame = {origin.x, origin.y, 0, 0};
          c.collapsed = true;
          continue;
        }
        std::size_t col = i % cols.size(), row = i / cols.size();
        Rect cell{n.frame.x + g.columnX[col], n.frame.y + g.rowY[row], cols[col].width, g.rowHeight[row]};
        placeAligned(c, ProposedSize{cols[col].width, std::nullopt}, cols[col].alignment.value_or(Alignment::center),
                     cell);
      }
      return;
    }
    case NodeKind::frame: {
      if (Node* c = only(n)) {
        placeAligned(*c, {e.width ? e.width : p.width, e.height ? e.height : p.height}, e.alignment, n.frame);
      }
      return;
    }
    case NodeKind::flexFrame: {
      if (Node* c = only(n)) {
        placeAligned(*c, flexChildProposal(e.geometry->flex, p, c), e.alignment, n.frame);
      }
      return;
    }
    case NodeKind::padding: {
      if (Node* c = only(n)) {
        const EdgeInsets& in = e.geometry->insets;
        ProposedSize cp{sub(p.width, in.leading + in.trailing), sub(p.height, in.top + in.bottom)};
        place(*c, {origin.x + in.leading, origin.y + in.top}, cp);
      }
      return;
    }
    case NodeKind::overlay:
    case NodeKind::background: {
      if (n.children.empty()) return;
      place(*n.children[0], origin, p);
      for (std::size_t i = 1; i < n.children.size(); ++i) {
        placeAligned(*n.children[i], ProposedSize::of(size), e.alignment, n.frame);
      }
      return;
    }
    case NodeKind::aspectRatio: {
      if (Node* c = only(n)) place(*c, origin, aspectProposal(n, p));
      return;
    }
    case NodeKind::fixedSize: {
      if (Node* c = only(n)) {
        place(*c, origin,
              {e.geometry->fixedHorizontal ? std::nullopt : p.width,
               e.geometry->fixedVertical ? std::nullopt : p.height});
      }
      return;
    }
    case NodeKind::offset: {
      if (Node* c = only(n)) place(*c, {origin.x + e.geometry->offsetX, origin.y + e.geometry->offsetY}, p);
      return;
    }
    case NodeKind::scale: {
      // The content's frames stay in its own, unscaled space, anchored at the
      // node's origin; drawing and hit testing apply the scale.
      if (Node* c = only(n)) place(*c, origin, e.drawing->scalesLayout ? unscaled(p, e.scaleX) : p);
      return;
    }
    case NodeKind::button: {
      if (Node* c = only(n)) {
        if (!borderedButton(n)) {
          place(*c, origin, p);
        } else {
          const EdgeInsets in = kBorderedButtonInsets;
          ProposedSize cp{sub(p.width, in.leading + in.trailing), sub(p.height, in.top + in.bottom)};
          placeAligned(*c, cp, Alignment::center, n.frame.insetBy(in.leading, in.top));
        }
      }
      return;
    }
    case NodeKind::toggle: {
      if (Node* c = only(n)) {
        bool isSwitch = n.env && n.env->toggleStyle == ToggleStyle::switchStyle;
        double boxW = isSwitch ? kSwitchWidth : kCheckboxSize;
        ProposedSize cp{sub(p.width, boxW + kControlGap), p.height};
        Size cs = sizeThatFits(*c, cp);
        place(*c, {origin.x + boxW + kControlGap, origin.y + (size.height - cs.height) / 2}, cp);
      }
      return;
    }
    case NodeKind::picker: {
      auto style = n.env ? n.env->pickerStyle : PickerStyle::automatic;
      double x = origin.x;
      if (!e.drawing->text.empty()) x += measureText(e.drawing->text, fontOf(n)).width + kDefaultSpacing;
      if (style == PickerStyle::radioGroup) {
        double y = origin.y;
        auto avail = sub(sub(p.width, x - origin.x), kRadioSize + kControlGap);
        for (auto& c : n.children) {
          ProposedSize cp{avail, std::nullopt};
          Size cs = sizeThatFits(*c, cp);
          double rowH = std::max(kRadioSize, cs.height);
          place(*c, {x + kRadioSize + kControlGap, y + (rowH - cs.height) / 2}, cp);
          y += rowH + kControlGap;
        }
      } else {
        std::optional<int> selected = e.intBinding ? std::optional<int>(e.intBinding->get()) : std::nullopt;
        for (std::size_t i = 0; i < n.children.size(); ++i) {
          auto& c = *n.children[i];
          Size cs = sizeThatFits(c, ProposedSize{});
          if (selected && i < e.behaviour->optionTags.size() && e.behaviour->optionTags[i] == *selected) {
            place(c, {x + kPopupLeading, origin.y + (size.height - cs.height) / 2}, ProposedSize{});
          } else {
            // Options not shown in the closed pop-up take no space.
            place(c, {x + kPopupLeading, origin.y}, ProposedSize{});
            c.frame.width = c.frame.height = 0;
            c.collapsed = true;
          }
        }
      }
      return;
    }
    default:
      break;
  }
  if (passThrough(n.kind) || n.kind == NodeKind::representable) {
    if (Node* c = only(n)) place(*c, origin, p);
  }
}

void clearCache(Node& n) {
  n.cache.clear();
  for (auto& c : n.children) clearCache(*c);
}

}  // namespace ui::detail
