#pragma once
// The bridge to views of the windowing layer placed inside a view tree (the
// representable views). The windowing layer implements this interface; the
// host lays the view out, routes tracking, right-click and scroll events to it
// and draws whatever view tree it hosts.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/Events.h"
#include "platform/ui/Geometry.h"

namespace ui {

class View;

enum class TrackingEventKind { entered, moved, exited };

class PlatformView : public std::enable_shared_from_this<PlatformView> {
 public:
  virtual ~PlatformView() = default;

  // The view tree shown inside this view (a hosting view's root view, or
  // the drawing of a visual effect view); none draws nothing and takes the
  // proposed size.
  virtual std::optional<View> hostedContent() const;

  // Called after every layout with the view's frame in host coordinates.
  virtual void hostDidLayout(Rect frameInHost) = 0;

  // Regions that want pointer tracking, in host coordinates. `id` stays the
  // same for the life of one tracking area.
  struct TrackingRegion {
    std::uint64_t id = 0;
    Rect rect;
    bool enteredAndExited = true;
    bool moved = true;
  };
  virtual std::vector<TrackingRegion> trackingRegions() const { return {}; }
  virtual void trackingEvent(std::uint64_t /*regionId*/, TrackingEventKind /*kind*/, Point /*hostPoint*/) {}

  // Event delivery; false passes the event on to the next candidate outward.
  virtual bool takeRightMouseDown(Point /*hostPoint*/) { return false; }
  virtual bool takeScrollWheel(const ScrollEvent& /*event*/) { return false; }
};

}  // namespace ui
