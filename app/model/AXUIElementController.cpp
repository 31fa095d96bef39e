#include "app/model/AXUIElementWrapper.h"

namespace {

std::optional<bool> checkedBool(const ns::Value& v) {
  if (v.isBool()) return v.asBool();
  // A number 0 or 1 converts as a Boolean does; any other value is not one.
  if (v.isInteger()) {
    auto n = v.asInt64();
    if (n && (*n == 0 || *n == 1)) return *n == 1;
  }
  return std::nullopt;
}

}  // namespace

void AXUIElementController::withController(const AXUIElementWrapper& element,
                                           const std::function<void(AXUIElementController&)>& body) {
  AXUIElementController controller(element.element);
  body(controller);
}

std::optional<ns::Value> AXUIElementController::attribute(std::string_view name) const {
  ns::Value value;
  if (ax::AXUIElementCopyAttributeValue(element_, name, &value) != ax::kAXErrorSuccess) return std::nullopt;
  return value;
}

std::optional<std::string> AXUIElementController::stringAttribute(std::string_view name) const {
  auto v = attribute(name);
  if (!v || !v->isString()) return std::nullopt;
  return *v->string();
}

std::optional<ns::URL> AXUIElementController::urlAttribute(std::string_view name) const {
  auto v = attribute(name);
  if (!v) return std::nullopt;
  return ax::urlFromValue(*v);
}

std::optional<std::string> AXUIElementController::subroleAttribute(std::string_view name) const {
  return stringAttribute(name);
}

std::optional<bool> AXUIElementController::boolAttribute(std::string_view name) const {
  auto v = attribute(name);
  if (!v) return std::nullopt;
  return checkedBool(*v);
}

std::optional<AXUIElementWrapper> AXUIElementController::elementAttribute(std::string_view name) const {
  auto v = attribute(name);
  if (!v) return std::nullopt;
  auto element = ax::elementFromValue(*v);
  if (!element) return std::nullopt;
  return AXUIElementWrapper(std::move(element));
}

std::optional<std::vector<AXUIElementWrapper>> AXUIElementController::elementsAttribute(std::string_view name) const {
  auto v = attribute(name);
  if (!v) return std::nullopt;
  auto elements = ax::elementsFromValue(*v);
  if (!elements) return std::nullopt;
  std::vector<AXUIElementWrapper> out;
  out.reserve(elements->size());
  for (auto& e : *elements) out.emplace_back(std::move(e));
  return out;
}

std::optional<CGPoint> AXUIElementController::pointAttribute(std::string_view name) const {
  auto v = attribute(name);
  if (!v) return std::nullopt;
  CGPoint point;
  if (!ax::AXValueGetValue(ax::axValueFromValue(*v), ax::kAXValueCGPointType, &point)) return std::nullopt;
  return point;
}

std::optional<CGSize> AXUIElementController::sizeAttribute(std::string_view name) const {
  auto v = attribute(name);
  if (!v) return std::nullopt;
  CGSize size;
  if (!ax::AXValueGetValue(ax::axValueFromValue(*v), ax::kAXValueCGSizeType, &size)) return std::nullopt;
  return size;
}

std::optional<bool> AXUIElementController::isAttributeSettable(std::string_view name) const {
  bool settable = false;
  if (ax::AXUIElementIsAttributeSettable(element_, name, &settable) != ax::kAXErrorSuccess) return std::nullopt;
  return settable;
}

std::optional<CGRect> AXUIElementController::frame() const {
  auto position = pointAttribute(ax::NSAccessibilityPositionAttribute);
  if (!position) return std::nullopt;
  auto size = sizeAttribute(ax::NSAccessibilitySizeAttribute);
  if (!size) return std::nullopt;
  return CGRect(*position, *size);
}

void AXUIElementController::setFrame(std::optional<CGRect> frame) const {
  if (!frame) return;
  const CGPoint origin = frame->origin;
  const CGSize size = frame->size;
  ax::AXUIElementSetAttributeValue(element_, ax::NSAccessibilityPositionAttribute,
                                   ns::Value(ax::AXValueCreate(ax::kAXValueCGPointType, &origin)));
  ax::AXUIElementSetAttributeValue(element_, ax::NSAccessibilitySizeAttribute,
                                   ns::Value(ax::AXValueCreate(ax::kAXValueCGSizeType, &size)));
}

void AXUIElementController::setSize(std::optional<CGSize> size) const {
  if (!size) return;
  const CGSize value = *size;
  ax::AXUIElementSetAttributeValue(element_, ax::NSAccessibilitySizeAttribute,
                                   ns::Value(ax::AXValueCreate(ax::kAXValueCGSizeType, &value)));
}

void AXUIElementController::setMinimized(bool minimized) const {
  ax::AXUIElementSetAttributeValue(element_, ax::NSAccessibilityMinimizedAttribute, ns::Value(minimized));
}

void AXUIElementController::raise() const { ax::AXUIElementPerformAction(element_, ax::kAXRaiseAction); }

void AXUIElementController::pressCloseButton() const {
  auto button = elementAttribute(ax::NSAccessibilityCloseButtonAttribute);
  if (!button) return;
  ax::AXUIElementPerformAction(button->element, ax::kAXPressAction);
}

std::vector<AXUIElementWrapper> AXUIElementController::windows() const {
  return elementsAttribute(ax::NSAccessibilityWindowsAttribute).value_or(std::vector<AXUIElementWrapper>{});
}

AXUIElementData AXUIElementController::data() const {
  AXUIElementData d{AXUIElementWrapper(element_)};
  pid_t pid = 0;
  if (ax::AXUIElementGetPid(element_, &pid) == ax::kAXErrorSuccess) d.pid = pid;
  d.title = stringAttribute(ax::NSAccessibilityTitleAttribute);
  d.url = urlAttribute(ax::NSAccessibilityURLAttribute);
  d.subrole = subroleAttribute(ax::NSAccessibilitySubroleAttribute);
  ax::CGWindowID window = 0;
  if (ax::_AXUIElementGetWindow(element_, &window) == ax::kAXErrorSuccess) d.windowID = window;
  d.minimized = boolAttribute(ax::NSAccessibilityMinimizedAttribute);
  d.isMain = boolAttribute(ax::NSAccessibilityMainAttribute);
  d.position = pointAttribute(ax::NSAccessibilityPositionAttribute);
  d.size = sizeAttribute(ax::NSAccessibilitySizeAttribute);
  d.frame = frame();
  d.resizable = isAttributeSettable(ax::NSAccessibilitySizeAttribute);
  d.hidden = boolAttribute("AXHidden");
  return d;
}
