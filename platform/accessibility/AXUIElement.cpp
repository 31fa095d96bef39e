#include "platform/accessibility/AXUIElement.h"

#include "platform/sim/World.h"

namespace ax {

namespace {
sim::World& world() { return sim::World::shared(); }
}  // namespace

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
  return std::make_shared<AXUIElement>(sim::ElementID{pid, sim::ElementKind::Application, 0});
}

AXUIElementRef AXUIElementCreateSystemWide() {
  return std::make_shared<AXUIElement>(sim::ElementID{0, sim::ElementKind::SystemWide, 0});
}

AXError AXUIElementCopyAttributeValue(const AXUIElementRef& element, std::string_view attribute, ns::Value* value) {
  if (!element || !value) return kAXErrorIllegalArgument;
  return world().copyAttributeValue(element->id, attribute, value);
}

AXError AXUIElementCopyAttributeNames(const AXUIElementRef& element, std::vector<std::string>* names) {
  if (!element || !names) return kAXErrorIllegalArgument;
  return world().copyAttributeNames(element->id, names);
}

AXError AXUIElementSetAttributeValue(const AXUIElementRef& element, std::string_view attribute,
                                     const ns::Value& value) {
  if (!element) return kAXErrorIllegalArgument;
  return world().setAttributeValue(element->id, attribute, value);
}

AXError AXUIElementIsAttributeSettable(const AXUIElementRef& element, std::string_view attribute, bool* settable) {
  if (!element || !settable) return kAXErrorIllegalArgument;
  return world().isAttributeSettable(element->id, attribute, settable);
}

AXError AXUIElementPerformAction(const AXUIElementRef& element, std::string_view action) {
  if (!element) return kAXErrorIllegalArgument;
  return world().performAction(element->id, action);
}

AXError AXUIElementCopyActionNames(const AXUIElementRef& element, std::vector<std::string>* names) {
  if (!element || !names) return kAXErrorIllegalArgument;
  return world().copyActionNames(element->id, names);
}

AXError AXUIElementGetPid(const AXUIElementRef& element, pid_t* pid) {
  if (!element || !pid) return kAXErrorIllegalArgument;
  return world().getPid(element->id, pid);
}

AXError _AXUIElementGetWindow(const AXUIElementRef& element, CGWindowID* window) {
  if (!element || !window) return kAXErrorIllegalArgument;
  return world().getWindow(element->id, window);
}

AXError AXUIElementCopyElementAtPosition(const AXUIElementRef& application, float x, float y,
                                         AXUIElementRef* element) {
  if (!application || !element) return kAXErrorIllegalArgument;
  sim::ElementID found;
  const AXError error =
      world().elementAtPosition(application->id, static_cast<double>(x), static_cast<double>(y), &found);
  if (error == kAXErrorSuccess) *element = std::make_shared<AXUIElement>(found);
  return error;
}

bool CFEqual(const AXUIElementRef& a, const AXUIElementRef& b) {
  if (!a || !b) return a == b;
  return a->id == b->id;
}

CFHashCode CFHash(const AXUIElementRef& element) {
  if (!element) return 0;
  return world().hashOf(element->id);
}

AXUIElementRef elementFromValue(const ns::Value& value) { return value.objectAs<AXUIElement>(); }

ns::Value valueFromElement(const AXUIElementRef& element) { return element ? ns::Value(element) : ns::Value(); }

std::optional<std::vector<AXUIElementRef>> elementsFromValue(const ns::Value& value) {
  const ns::Array* array = value.array();
  if (!array) return std::nullopt;
  std::vector<AXUIElementRef> out;
  out.reserve(array->size());
  for (const auto& v : *array) {
    auto e = elementFromValue(v);
    if (!e) return std::nullopt;
    out.push_back(std::move(e));
  }
  return out;
}

std::optional<ns::URL> urlFromValue(const ns::Value& value) {
  if (auto object = value.objectAs<sim::URLObject>()) return object->url;
  return std::nullopt;
}

AXValueRef axValueFromValue(const ns::Value& value) { return value.objectAs<AXValue>(); }

AXValueRef AXValueCreate(AXValueType type, const void* valuePtr) {
  if (!valuePtr) return nullptr;
  switch (type) {
    case kAXValueCGPointType: return std::make_shared<AXValue>(*static_cast<const CGPoint*>(valuePtr));
    case kAXValueCGSizeType: return std::make_shared<AXValue>(*static_cast<const CGSize*>(valuePtr));
    case kAXValueCGRectType: return std::make_shared<AXValue>(*static_cast<const CGRect*>(valuePtr));
    case kAXValueCFRangeType: {
      const auto* r = static_cast<const CFRange*>(valuePtr);
      return std::make_shared<AXValue>(type, CGPoint{}, CGSize{}, CGRect{}, r->location, r->length, 0);
    }
    case kAXValueAXErrorType:
      return std::make_shared<AXValue>(type, CGPoint{}, CGSize{}, CGRect{}, 0, 0,
                                       *static_cast<const AXError*>(valuePtr));
    case kAXValueIllegalType: return nullptr;
  }
  return nullptr;
}

AXValueType AXValueGetType(const AXValueRef& value) { return value ? value->type : kAXValueIllegalType; }

bool AXValueGetValue(const AXValueRef& value, AXValueType type, void* valuePtr) {
  if (!value || !valuePtr || value->type != type) return false;
  switch (type) {
    case kAXValueCGPointType: *static_cast<CGPoint*>(valuePtr) = value->point; return true;
    case kAXValueCGSizeType: *static_cast<CGSize*>(valuePtr) = value->size; return true;
    case kAXValueCGRectType: *static_cast<CGRect*>(valuePtr) = value->rect; return true;
    case kAXValueCFRangeType: *static_cast<CFRange*>(valuePtr) = CFRange{value->location, value->length}; return true;
    case kAXValueAXErrorType: *static_cast<AXError*>(valuePtr) = value->error; return true;
    case kAXValueIllegalType: return false;
  }
  return false;
}

bool AXIsProcessTrusted() { return world().isAccessibilityTrusted(); }

bool AXIsProcessTrustedWithOptions(const ns::Dictionary* options) {
  const bool trusted = world().isAccessibilityTrusted();
  if (!trusted && options) {
    auto it = options->find(kAXTrustedCheckOptionPrompt);
    if (it != options->end() && it->second.asBool().value_or(false)) world().recordAccessibilityPrompt();
  }
  return trusted;
}

}  // namespace ax
