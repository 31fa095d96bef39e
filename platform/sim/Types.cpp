#include "platform/sim/Types.h"

#include <array>
#include <cstdio>
#include <utility>

#include "platform/sim/CostMeter.h"

namespace sim {

namespace axerr {

namespace {
constexpr std::array<std::pair<std::int32_t, const char*>, 16> kNames{{
    {kSuccess, "kAXErrorSuccess"},
    {kFailure, "kAXErrorFailure"},
    {kIllegalArgument, "kAXErrorIllegalArgument"},
    {kInvalidUIElement, "kAXErrorInvalidUIElement"},
    {kInvalidUIElementObserver, "kAXErrorInvalidUIElementObserver"},
    {kCannotComplete, "kAXErrorCannotComplete"},
    {kAttributeUnsupported, "kAXErrorAttributeUnsupported"},
    {kActionUnsupported, "kAXErrorActionUnsupported"},
    {kNotificationUnsupported, "kAXErrorNotificationUnsupported"},
    {kNotImplemented, "kAXErrorNotImplemented"},
    {kNotificationAlreadyRegistered, "kAXErrorNotificationAlreadyRegistered"},
    {kNotificationNotRegistered, "kAXErrorNotificationNotRegistered"},
    {kAPIDisabled, "kAXErrorAPIDisabled"},
    {kNoValue, "kAXErrorNoValue"},
    {kParameterizedAttributeUnsupported, "kAXErrorParameterizedAttributeUnsupported"},
    {kNotEnoughPrecision, "kAXErrorNotEnoughPrecision"},
}};
}  // namespace

std::optional<std::int32_t> fromName(std::string_view name) {
  for (const auto& [code, text] : kNames) {
    if (name == text) return code;
  }
  return std::nullopt;
}

std::string name(std::int32_t code) {
  for (const auto& [c, text] : kNames) {
    if (c == code) return text;
  }
  return std::to_string(code);
}

}  // namespace axerr

const char* kindName(ElementKind kind) {
  switch (kind) {
    case ElementKind::SystemWide: return "systemWide";
    case ElementKind::Application: return "application";
    case ElementKind::Window: return "window";
    case ElementKind::CloseButton: return "closeButton";
    case ElementKind::MinimizeButton: return "minimizeButton";
    case ElementKind::ZoomButton: return "zoomButton";
    case ElementKind::TitleText: return "titleText";
    case ElementKind::Content: return "content";
    case ElementKind::DockList: return "dockList";
    case ElementKind::DockItem: return "dockItem";
    case ElementKind::OwnWindow: return "ownWindow";
  }
  return "unknown";
}

namespace {
std::uint64_t splitmix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}
}  // namespace

std::size_t ElementID::mix() const {
  std::uint64_t h = splitmix(static_cast<std::uint64_t>(static_cast<std::uint32_t>(pid)));
  h = splitmix(h ^ (static_cast<std::uint64_t>(kind) << 56));
  h = splitmix(h ^ id);
  return static_cast<std::size_t>(h);
}

bool ElementObject::isEqual(const ns::Object& other) const {
  auto* o = dynamic_cast<const ElementObject*>(&other);
  return o && o->id == id;
}

std::string ElementObject::description() const {
  return "<AXUIElement " + std::string(kindName(id.kind)) + " pid=" + std::to_string(id.pid) +
         " id=" + std::to_string(id.id) + ">";
}

bool AXValueObject::isEqual(const ns::Object& other) const {
  auto* o = dynamic_cast<const AXValueObject*>(&other);
  if (!o || o->type != type) return false;
  switch (type) {
    case AXValueType::CGPoint: return o->point == point;
    case AXValueType::CGSize: return o->size == size;
    case AXValueType::CGRect: return o->rect == rect;
    case AXValueType::CFRange: return o->location == location && o->length == length;
    case AXValueType::AXError: return o->error == error;
    case AXValueType::Illegal: return true;
  }
  return false;
}

std::string AXValueObject::description() const {
  char buffer[128];
  switch (type) {
    case AXValueType::CGPoint:
      std::snprintf(buffer, sizeof buffer, "<AXValue CGPoint x:%g y:%g>", point.x, point.y);
      break;
    case AXValueType::CGSize:
      std::snprintf(buffer, sizeof buffer, "<AXValue CGSize w:%g h:%g>", size.width, size.height);
      break;
    case AXValueType::CGRect:
      std::snprintf(buffer, sizeof buffer, "<AXValue CGRect x:%g y:%g w:%g h:%g>", rect.origin.x, rect.origin.y,
                    rect.size.width, rect.size.height);
      break;
    case AXValueType::CFRange:
      std::snprintf(buffer, sizeof buffer, "<AXValue CFRange location:%lld length:%lld>",
                    static_cast<long long>(location), static_cast<long long>(length));
      break;
    case AXValueType::AXError:
      std::snprintf(buffer, sizeof buffer, "<AXValue AXError %d>", error);
      break;
    case AXValueType::Illegal:
      std::snprintf(buffer, sizeof buffer, "<AXValue illegal>");
      break;
  }
  return buffer;
}

bool URLObject::isEqual(const ns::Object& other) const {
  auto* o = dynamic_cast<const URLObject*>(&other);
  return o && o->url == url;
}

ns::Value elementValue(ElementID id) { return ns::Value(std::make_shared<ElementObject>(id)); }
ns::Value pointValue(CGPoint p) { return ns::Value(std::make_shared<AXValueObject>(p)); }
ns::Value sizeValue(CGSize s) { return ns::Value(std::make_shared<AXValueObject>(s)); }
ns::Value urlValue(const ns::URL& url) { return ns::Value(std::make_shared<URLObject>(url)); }

CGPoint flipPoint(CGPoint p, double referenceHeight) { return CGPoint{p.x, referenceHeight - p.y}; }

CGRect flipRect(const CGRect& r, double referenceHeight) {
  const CGPoint o = flipPoint(r.origin, referenceHeight);
  return CGRect(o.x, o.y - r.size.height, r.size.width, r.size.height);
}

// ---------------------------------------------------------------- CostMeter

namespace {
thread_local double tlsCost = 0;
}

void CostMeter::charge(double seconds) {
  if (seconds > 0) tlsCost += seconds;
}
double CostMeter::total() { return tlsCost; }
double CostMeter::take() { return std::exchange(tlsCost, 0.0); }

}  // namespace sim
