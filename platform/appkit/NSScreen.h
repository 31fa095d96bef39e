#pragma once
// NSScreen over the simulated desktop: bottom-left frames and visible frames,
// the device description with "NSScreenNumber", the screen under the
// pointer, and the one conversion between bottom-left and top-left screen
// coordinates. The objects stay the same until the displays are
// reconfigured; then screens() hands out new ones.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/foundation/Value.h"

namespace appkit {

// Posted on the default notification centre, on the main queue, after the
// displays changed (added, removed, moved or resized).
inline constexpr const char* NSApplicationDidChangeScreenParametersNotification =
    "NSApplicationDidChangeScreenParametersNotification";

class NSScreen : public ns::Object {
 public:
  // The first is the primary display (the one whose frame starts at 0, 0).
  static std::vector<std::shared_ptr<NSScreen>> screens();
  // The screen that holds the keyboard focus; nullptr without screens.
  static std::shared_ptr<NSScreen> mainScreen();
  // The first screen whose frame holds the pointer (NSMouseInRect, not
  // flipped); nullptr when none does.
  static std::shared_ptr<NSScreen> screenWithMouse();

  // (x, H - y), H the greatest frame height among the screens (0 without
  // screens): converts a point between AppKit's bottom-left and the
  // Accessibility API's top-left coordinates, in either direction.
  static CGPoint flippedPoint(CGPoint point);
  // A rectangle: its origin converted, then moved down by its height.
  static CGRect flippedRect(const CGRect& rect);

  const CGRect& frame() const { return frame_; }
  const CGRect& visibleFrame() const { return visibleFrame_; }
  double backingScaleFactor() const { return scale_; }
  const std::string& localizedName() const { return name_; }
  // "NSScreenNumber" (the display id), "NSDeviceSize", "NSDeviceResolution".
  const ns::Dictionary& deviceDescription() const { return deviceDescription_; }
  // "NSScreenNumber" as a display number; nothing when missing or not a number.
  std::optional<std::uint32_t> displayNumber() const;

  std::string className() const override { return "NSScreen"; }
  std::string description() const override;

  NSScreen(std::uint32_t displayID, CGRect frame, CGRect visibleFrame, double scale, std::string name,
           bool hasScreenNumber);

 private:
  std::uint32_t displayID_;
  CGRect frame_;
  CGRect visibleFrame_;
  double scale_;
  std::string name_;
  ns::Dictionary deviceDescription_;
};

}  // namespace appkit
