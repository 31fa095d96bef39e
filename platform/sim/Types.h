#pragma once
// The vocabulary of the simulated desktop: identifiers of displays, Spaces,
// windows and Accessibility elements, the Accessibility result codes and the
// objects that travel inside attribute values.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Geometry.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace sim {

using WindowID = std::uint32_t;
using SpaceID = std::uint64_t;
using DisplayID = std::uint32_t;

// Accessibility result codes, with the values the Accessibility API gives them.
namespace axerr {
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kFailure = -25200;
inline constexpr std::int32_t kIllegalArgument = -25201;
inline constexpr std::int32_t kInvalidUIElement = -25202;
inline constexpr std::int32_t kInvalidUIElementObserver = -25203;
inline constexpr std::int32_t kCannotComplete = -25204;
inline constexpr std::int32_t kAttributeUnsupported = -25205;
inline constexpr std::int32_t kActionUnsupported = -25206;
inline constexpr std::int32_t kNotificationUnsupported = -25207;
inline constexpr std::int32_t kNotImplemented = -25208;
inline constexpr std::int32_t kNotificationAlreadyRegistered = -25209;
inline constexpr std::int32_t kNotificationNotRegistered = -25210;
inline constexpr std::int32_t kAPIDisabled = -25211;
inline constexpr std::int32_t kNoValue = -25212;
inline constexpr std::int32_t kParameterizedAttributeUnsupported = -25213;
inline constexpr std::int32_t kNotEnoughPrecision = -25214;

// "kAXErrorCannotComplete" and friends, for scenario files and messages.
std::optional<std::int32_t> fromName(std::string_view name);
std::string name(std::int32_t code);
}  // namespace axerr

// Space types as the window server numbers them. A Space may carry any other
// number too (the window server's list is not trusted by its readers).
inline constexpr int kSpaceTypeUser = 0;
inline constexpr int kSpaceTypeSystem = 2;
inline constexpr int kSpaceTypeFullscreen = 4;

enum class ActivationPolicy { Regular = 0, Accessory = 1, Prohibited = 2 };

// What an Accessibility element stands for. Elements are plain identities:
// an element of a window that has closed still compares equal to itself but
// every call on it fails with kInvalidUIElement.
enum class ElementKind : std::uint8_t {
  SystemWide,
  Application,
  Window,
  CloseButton,
  MinimizeButton,
  ZoomButton,
  TitleText,  // the title in the title bar
  Content,    // the window's content below the title bar
  DockList,   // the Dock's list of items
  DockItem,
  OwnWindow,  // a window of this program, reported by the own-windows provider
};

const char* kindName(ElementKind kind);

struct ElementID {
  pid_t pid = 0;
  ElementKind kind = ElementKind::SystemWide;
  std::uint64_t id = 0;  // window id for window parts, item id for Dock items

  bool operator==(const ElementID&) const = default;
  std::size_t mix() const;  // a well-spread hash of the identity
};

// An Accessibility element inside a Value (AXUIElementRef).
class ElementObject : public ns::Object {
 public:
  explicit ElementObject(ElementID id) : id(id) {}
  std::string className() const override { return "AXUIElement"; }
  bool isEqual(const ns::Object& other) const override;
  std::string description() const override;
  const ElementID id;
};

enum class AXValueType { Illegal = 0, CGPoint = 1, CGSize = 2, CGRect = 3, CFRange = 4, AXError = 5 };

// An AXValue: a point, size, rectangle, range or error code inside a Value.
class AXValueObject : public ns::Object {
 public:
  explicit AXValueObject(CGPoint p) : type(AXValueType::CGPoint), point(p) {}
  explicit AXValueObject(CGSize s) : type(AXValueType::CGSize), size(s) {}
  explicit AXValueObject(CGRect r) : type(AXValueType::CGRect), rect(r) {}
  AXValueObject(AXValueType type, CGPoint p, CGSize s, CGRect r, std::int64_t location, std::int64_t length,
                std::int32_t error)
      : type(type), point(p), size(s), rect(r), location(location), length(length), error(error) {}
  std::string className() const override { return "AXValue"; }
  bool isEqual(const ns::Object& other) const override;
  std::string description() const override;

  const AXValueType type;
  const CGPoint point{};
  const CGSize size{};
  const CGRect rect{};
  const std::int64_t location = 0;  // CFRange
  const std::int64_t length = 0;
  const std::int32_t error = 0;
};

// A URL inside a Value (the Accessibility API hands URLs as objects).
class URLObject : public ns::Object {
 public:
  explicit URLObject(ns::URL url) : url(std::move(url)) {}
  std::string className() const override { return "NSURL"; }
  bool isEqual(const ns::Object& other) const override;
  std::string description() const override { return url.absoluteString(); }
  const ns::URL url;
};

ns::Value elementValue(ElementID id);
ns::Value pointValue(CGPoint p);
ns::Value sizeValue(CGSize s);
ns::Value urlValue(const ns::URL& url);

// The one conversion between the two coordinate spaces: (x, H - y), H being
// the greatest frame height among the displays (0 without displays). It maps
// bottom-left (AppKit) points to top-left (Accessibility, events) points and
// back. A rectangle converts its origin and then moves down by its height.
CGPoint flipPoint(CGPoint p, double referenceHeight);
CGRect flipRect(const CGRect& r, double referenceHeight);

}  // namespace sim

template <>
struct std::hash<sim::ElementID> {
  std::size_t operator()(const sim::ElementID& id) const noexcept { return id.mix(); }
};
