#pragma once
// The Accessibility API over the simulated desktop: elements, attribute reads
// and writes, actions, hit tests, point and size values, the trust check.
//
// An AXUIElementRef is a shared handle to an immutable identity; attribute
// values travel as ns::Value (the CFTypeRef of this layer), with elements,
// AXValues and URLs inside as objects. Every call may be made from any
// thread; the application decides where (this program: the Accessibility
// queue).

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"
#include "platform/sim/Types.h"

namespace ax {

using AXError = std::int32_t;
inline constexpr AXError kAXErrorSuccess = sim::axerr::kSuccess;
inline constexpr AXError kAXErrorFailure = sim::axerr::kFailure;
inline constexpr AXError kAXErrorIllegalArgument = sim::axerr::kIllegalArgument;
inline constexpr AXError kAXErrorInvalidUIElement = sim::axerr::kInvalidUIElement;
inline constexpr AXError kAXErrorInvalidUIElementObserver = sim::axerr::kInvalidUIElementObserver;
inline constexpr AXError kAXErrorCannotComplete = sim::axerr::kCannotComplete;
inline constexpr AXError kAXErrorAttributeUnsupported = sim::axerr::kAttributeUnsupported;
inline constexpr AXError kAXErrorActionUnsupported = sim::axerr::kActionUnsupported;
inline constexpr AXError kAXErrorNotificationUnsupported = sim::axerr::kNotificationUnsupported;
inline constexpr AXError kAXErrorNotImplemented = sim::axerr::kNotImplemented;
inline constexpr AXError kAXErrorNotificationAlreadyRegistered = sim::axerr::kNotificationAlreadyRegistered;
inline constexpr AXError kAXErrorNotificationNotRegistered = sim::axerr::kNotificationNotRegistered;
inline constexpr AXError kAXErrorAPIDisabled = sim::axerr::kAPIDisabled;
inline constexpr AXError kAXErrorNoValue = sim::axerr::kNoValue;
inline constexpr AXError kAXErrorParameterizedAttributeUnsupported = sim::axerr::kParameterizedAttributeUnsupported;
inline constexpr AXError kAXErrorNotEnoughPrecision = sim::axerr::kNotEnoughPrecision;

using CGWindowID = std::uint32_t;
using CFHashCode = std::uint64_t;

using AXUIElement = sim::ElementObject;
using AXUIElementRef = std::shared_ptr<AXUIElement>;
using AXValue = sim::AXValueObject;
using AXValueRef = std::shared_ptr<AXValue>;

using AXValueType = sim::AXValueType;
inline constexpr AXValueType kAXValueIllegalType = sim::AXValueType::Illegal;
inline constexpr AXValueType kAXValueCGPointType = sim::AXValueType::CGPoint;
inline constexpr AXValueType kAXValueCGSizeType = sim::AXValueType::CGSize;
inline constexpr AXValueType kAXValueCGRectType = sim::AXValueType::CGRect;
inline constexpr AXValueType kAXValueCFRangeType = sim::AXValueType::CFRange;
inline constexpr AXValueType kAXValueAXErrorType = sim::AXValueType::AXError;

struct CFRange {
  std::int64_t location = 0;
  std::int64_t length = 0;
};

// -------- names

// Attributes.
inline constexpr const char* kAXRoleAttribute = "AXRole";
inline constexpr const char* kAXSubroleAttribute = "AXSubrole";
inline constexpr const char* kAXRoleDescriptionAttribute = "AXRoleDescription";
inline constexpr const char* kAXTitleAttribute = "AXTitle";
inline constexpr const char* kAXValueAttribute = "AXValue";
inline constexpr const char* kAXURLAttribute = "AXURL";
inline constexpr const char* kAXPositionAttribute = "AXPosition";
inline constexpr const char* kAXSizeAttribute = "AXSize";
inline constexpr const char* kAXMinimizedAttribute = "AXMinimized";
inline constexpr const char* kAXMainAttribute = "AXMain";
inline constexpr const char* kAXFocusedAttribute = "AXFocused";
inline constexpr const char* kAXHiddenAttribute = "AXHidden";
inline constexpr const char* kAXFrontmostAttribute = "AXFrontmost";
inline constexpr const char* kAXEnabledAttribute = "AXEnabled";
inline constexpr const char* kAXWindowsAttribute = "AXWindows";
inline constexpr const char* kAXWindowAttribute = "AXWindow";
inline constexpr const char* kAXMainWindowAttribute = "AXMainWindow";
inline constexpr const char* kAXFocusedWindowAttribute = "AXFocusedWindow";
inline constexpr const char* kAXFocusedApplicationAttribute = "AXFocusedApplication";
inline constexpr const char* kAXFocusedUIElementAttribute = "AXFocusedUIElement";
inline constexpr const char* kAXChildrenAttribute = "AXChildren";
inline constexpr const char* kAXParentAttribute = "AXParent";
inline constexpr const char* kAXTopLevelUIElementAttribute = "AXTopLevelUIElement";
inline constexpr const char* kAXCloseButtonAttribute = "AXCloseButton";
inline constexpr const char* kAXMinimizeButtonAttribute = "AXMinimizeButton";
inline constexpr const char* kAXZoomButtonAttribute = "AXZoomButton";
inline constexpr const char* kAXFullScreenAttribute = "AXFullScreen";
inline constexpr const char* kAXIsApplicationRunningAttribute = "AXIsApplicationRunning";

// The same names as AppKit spells them.
inline constexpr const char* NSAccessibilityRoleAttribute = kAXRoleAttribute;
inline constexpr const char* NSAccessibilitySubroleAttribute = kAXSubroleAttribute;
inline constexpr const char* NSAccessibilityTitleAttribute = kAXTitleAttribute;
inline constexpr const char* NSAccessibilityURLAttribute = kAXURLAttribute;
inline constexpr const char* NSAccessibilityPositionAttribute = kAXPositionAttribute;
inline constexpr const char* NSAccessibilitySizeAttribute = kAXSizeAttribute;
inline constexpr const char* NSAccessibilityMinimizedAttribute = kAXMinimizedAttribute;
inline constexpr const char* NSAccessibilityMainAttribute = kAXMainAttribute;
inline constexpr const char* NSAccessibilityFocusedAttribute = kAXFocusedAttribute;
inline constexpr const char* NSAccessibilityHiddenAttribute = kAXHiddenAttribute;
inline constexpr const char* NSAccessibilityWindowsAttribute = kAXWindowsAttribute;
inline constexpr const char* NSAccessibilityWindowAttribute = kAXWindowAttribute;
inline constexpr const char* NSAccessibilityMainWindowAttribute = kAXMainWindowAttribute;
inline constexpr const char* NSAccessibilityFocusedWindowAttribute = kAXFocusedWindowAttribute;
inline constexpr const char* NSAccessibilityChildrenAttribute = kAXChildrenAttribute;
inline constexpr const char* NSAccessibilityParentAttribute = kAXParentAttribute;
inline constexpr const char* NSAccessibilityCloseButtonAttribute = kAXCloseButtonAttribute;
inline constexpr const char* NSAccessibilityMinimizeButtonAttribute = kAXMinimizeButtonAttribute;
inline constexpr const char* NSAccessibilityZoomButtonAttribute = kAXZoomButtonAttribute;

// Roles and subroles.
inline constexpr const char* kAXSystemWideRole = "AXSystemWide";
inline constexpr const char* kAXApplicationRole = "AXApplication";
inline constexpr const char* kAXWindowRole = "AXWindow";
inline constexpr const char* kAXButtonRole = "AXButton";
inline constexpr const char* kAXStaticTextRole = "AXStaticText";
inline constexpr const char* kAXGroupRole = "AXGroup";
inline constexpr const char* kAXListRole = "AXList";
inline constexpr const char* kAXDockItemRole = "AXDockItem";
inline constexpr const char* kAXStandardWindowSubrole = "AXStandardWindow";
inline constexpr const char* kAXDialogSubrole = "AXDialog";
inline constexpr const char* kAXSystemDialogSubrole = "AXSystemDialog";
inline constexpr const char* kAXFloatingWindowSubrole = "AXFloatingWindow";
inline constexpr const char* kAXUnknownSubrole = "AXUnknown";
inline constexpr const char* kAXCloseButtonSubrole = "AXCloseButton";
inline constexpr const char* kAXMinimizeButtonSubrole = "AXMinimizeButton";
inline constexpr const char* kAXZoomButtonSubrole = "AXZoomButton";
inline constexpr const char* kAXApplicationDockItemSubrole = "AXApplicationDockItem";
inline constexpr const char* kAXFolderDockItemSubrole = "AXFolderDockItem";
inline constexpr const char* kAXTrashDockItemSubrole = "AXTrashDockItem";
inline constexpr const char* kAXSeparatorDockItemSubrole = "AXSeparatorDockItem";
inline constexpr const char* kAXMinimizedWindowDockItemSubrole = "AXMinimizedWindowDockItem";
inline constexpr const char* NSAccessibilityStandardWindowSubrole = kAXStandardWindowSubrole;
inline constexpr const char* NSAccessibilityDialogSubrole = kAXDialogSubrole;

// Actions.
inline constexpr const char* kAXRaiseAction = "AXRaise";
inline constexpr const char* kAXPressAction = "AXPress";
inline constexpr const char* kAXShowMenuAction = "AXShowMenu";

// Notifications.
inline constexpr const char* kAXWindowCreatedNotification = "AXWindowCreated";
inline constexpr const char* kAXUIElementDestroyedNotification = "AXUIElementDestroyed";
inline constexpr const char* kAXFocusedWindowChangedNotification = "AXFocusedWindowChanged";
inline constexpr const char* kAXMainWindowChangedNotification = "AXMainWindowChanged";
inline constexpr const char* kAXWindowMovedNotification = "AXWindowMoved";
inline constexpr const char* kAXWindowResizedNotification = "AXWindowResized";
inline constexpr const char* kAXWindowMiniaturizedNotification = "AXWindowMiniaturized";
inline constexpr const char* kAXWindowDeminiaturizedNotification = "AXWindowDeminiaturized";
inline constexpr const char* kAXTitleChangedNotification = "AXTitleChanged";
inline constexpr const char* kAXApplicationActivatedNotification = "AXApplicationActivated";
inline constexpr const char* kAXApplicationDeactivatedNotification = "AXApplicationDeactivated";
inline constexpr const char* kAXApplicationHiddenNotification = "AXApplicationHidden";
inline constexpr const char* kAXApplicationShownNotification = "AXApplicationShown";

// -------- elements

AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXUIElementRef AXUIElementCreateSystemWide();

AXError AXUIElementCopyAttributeValue(const AXUIElementRef& element, std::string_view attribute, ns::Value* value);
AXError AXUIElementCopyAttributeNames(const AXUIElementRef& element, std::vector<std::string>* names);
AXError AXUIElementSetAttributeValue(const AXUIElementRef& element, std::string_view attribute, const ns::Value& value);
AXError AXUIElementIsAttributeSettable(const AXUIElementRef& element, std::string_view attribute, bool* settable);
AXError AXUIElementPerformAction(const AXUIElementRef& element, std::string_view action);
AXError AXUIElementCopyActionNames(const AXUIElementRef& element, std::vector<std::string>* names);
AXError AXUIElementGetPid(const AXUIElementRef& element, pid_t* pid);
// The window server's number of a window element.
AXError _AXUIElementGetWindow(const AXUIElementRef& element, CGWindowID* window);
// The element at a top-left point, searched from the system-wide element or
// from one application's element.
AXError AXUIElementCopyElementAtPosition(const AXUIElementRef& application, float x, float y,
                                         AXUIElementRef* element);

// CFEqual and CFHash on elements: the same element of the same process.
bool CFEqual(const AXUIElementRef& a, const AXUIElementRef& b);
CFHashCode CFHash(const AXUIElementRef& element);

// Checked conversions of attribute values: nullptr / nullopt for a value of
// another type.
AXUIElementRef elementFromValue(const ns::Value& value);
ns::Value valueFromElement(const AXUIElementRef& element);
std::optional<std::vector<AXUIElementRef>> elementsFromValue(const ns::Value& value);
std::optional<ns::URL> urlFromValue(const ns::Value& value);
AXValueRef axValueFromValue(const ns::Value& value);

// -------- AXValue

// valuePtr points at a CGPoint, CGSize, CGRect, CFRange or AXError as the type says.
AXValueRef AXValueCreate(AXValueType type, const void* valuePtr);
AXValueType AXValueGetType(const AXValueRef& value);
// False, leaving *valuePtr alone, when the value is of another type.
bool AXValueGetValue(const AXValueRef& value, AXValueType type, void* valuePtr);

// -------- trust

inline constexpr const char* kAXTrustedCheckOptionPrompt = "AXTrustedCheckOptionPrompt";
bool AXIsProcessTrusted();
// With kAXTrustedCheckOptionPrompt true, an untrusted process asks the user.
bool AXIsProcessTrustedWithOptions(const ns::Dictionary* options);

}  // namespace ax
