#pragma once
// The diagnostic logging convention: a line is the plain name of the logging
// object's dynamic type, ": " and the message. It is written only when the
// string-array preference "loggingModules" holds "_all" or that type name;
// the preference is read anew for every line and the message is built only
// once the gate has passed. Lines go to NSLog as literal text.

#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/foundation/URL.h"

namespace diagnostics {

inline constexpr const char* kLoggingModulesKey = "loggingModules";

// The plain name of a type: no namespace, no template arguments.
std::string typeName(const std::type_info& type);

// The gate, for one type name.
bool isEnabled(std::string_view typeName);
// The gate for a dynamic type; the name is worked out only when the list is not empty.
bool isEnabled(const std::type_info& type);

void write(const std::type_info& type, std::string_view message);

// Text forms of the values that lines carry.
std::string text(bool value);
std::string text(double value);
std::string text(const CGRect& rect);
std::string text(const std::vector<CGRect>& rects);
std::string text(const std::optional<ns::URL>& url);
// A bundle identifier, or "nil" when there is none.
std::string textOrNil(const std::optional<std::string>& value);

// Writes a line for `self` when the gate passes; `makeMessage` runs only then.
template <class Self, class F>
void log(const Self& self, F&& makeMessage) {
  const std::type_info& type = typeid(self);
  if (!isEnabled(type)) return;
  write(type, std::string(makeMessage()));
}

}  // namespace diagnostics

// Mixin for the types that log: gives them the general `log(_:)` form.
class DiagnosticLogging {
 public:
  virtual ~DiagnosticLogging() = default;

 protected:
  template <class F>
  void log(F&& makeMessage) const {
    diagnostics::log(*this, std::forward<F>(makeMessage));
  }
};

// The fixed messages of the application's types. Each type writes them
// through its own log operation; these build the text once the gate passed.
namespace diagnostics::messages {

// ApplicationController
std::string updateElements(const std::optional<std::string>& bundleIdentifier);
std::string getApplicationSummary(const std::optional<std::string>& bundleIdentifier);
// DockPreviewCoordinator
std::string hoverState(std::string_view hoverStateText);
std::string hoveringDockIconApplicationDidChange(const std::optional<std::string>& bundleIdentifier);
std::string enabled(bool value);
std::string presentedDockIconApplicationDidChange(const std::optional<std::string>& bundleIdentifier);
std::string presentedDockIconApplicationDidChangeDispatched(const std::optional<std::string>& bundleIdentifier);
std::string presentedDockIconApplicationDidUpdate(const std::optional<std::string>& bundleIdentifier);
std::string presenting(std::string_view summaryTitle);
std::string updating(std::string_view summaryTitle);
std::string hoverOnNewDockIcon(const std::optional<ns::URL>& bundleURL);
// The hover state's text: the case name, or "hoverOverDockIcon(bundleURL: <url>)".
std::string hoverStateText(std::string_view caseName, const std::optional<ns::URL>& bundleURL = std::nullopt);
// DockPreviewMouseTracker
std::string trackingMode(std::string_view modeName);
// ScreenResizeCorrector
std::string screenParametersDidChange(bool enabled);
std::string oldScreenRects(const std::vector<CGRect>& rects);
std::string checkingWindowsFor(std::string_view summaryTitle);
std::string windowNoFrame(const std::optional<std::string>& title);
std::string windowNoScreen(const std::optional<std::string>& title);
std::string windowMoved(const std::optional<std::string>& title, const CGRect& oldFrame, const CGRect& newFrame);
// SnapController
std::string dragWindowSnappingEnabled(bool value);
std::string scrollWindowSnappingEnabled(bool value);

}  // namespace diagnostics::messages
