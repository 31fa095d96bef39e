#pragma once
// View modifiers that bring AppKit mouse events into the view tree.
//
// TrackinAreaViewModifier (spelled so, without the g) reports whether the
// pointer is inside a view: true on entering and on every move inside, false
// on leaving, whether or not the application is active. It puts an empty
// hosting view with one tracking area behind the content, so the content
// keeps every click and scroll.

#include <functional>
#include <memory>

#include "platform/appkit/NSView.h"
#include "platform/ui/View.h"

struct TrackinAreaViewModifier {
  std::function<void(bool)> onMove;

  // The hosting view that owns the tracking area.
  class HostingView : public appkit::NSHostingView {
   public:
    // Stores the callback; the tracking area is made only when AppKit asks
    // for the tracking areas to be updated. There is no initializer without
    // a callback.
    HostingView(std::function<void(bool)> onMove, ui::View rootView);
    explicit HostingView(ui::View rootView) = delete;

    const std::shared_ptr<appkit::NSTrackingArea>& trackingArea() const { return trackingArea_; }
    void setTrackingArea(std::shared_ptr<appkit::NSTrackingArea> area) { trackingArea_ = std::move(area); }
    // Replaces the view's tracking area by one over its current bounds.
    void resetTrackingArea();

    void updateTrackingAreas() override;
    void mouseEntered(const appkit::NSEvent& event) override;
    void mouseMoved(const appkit::NSEvent& event) override;
    void mouseExited(const appkit::NSEvent& event) override;

   private:
    std::function<void(bool)> onMove_;
    std::shared_ptr<appkit::NSTrackingArea> trackingArea_;
  };

  struct Representable {
    std::function<void(bool)> onMove;
    ui::View content;

    std::shared_ptr<HostingView> makeNSView() const;
    // The callback given at creation stays; only the content is replaced.
    void updateNSView(HostingView& view) const;
  };

  ui::View body(ui::View content) const;
};

// The name of the modifier's file.
using TrackingAreaViewModifier = TrackinAreaViewModifier;
