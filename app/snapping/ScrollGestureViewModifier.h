#pragma once
// ScrollGestureViewModifier: reports the swipe gestures made over a view.
// The content is hosted in a hosting view whose scroll events feed its own
// ScrollGestureProcessor and are never passed on, so scroll views behind the
// content do not scroll.

#include <functional>
#include <memory>

#include "app/snapping/ScrollGestureProcessor.h"
#include "platform/appkit/NSView.h"
#include "platform/ui/View.h"

struct ScrollGestureViewModifier {
  ScrollGestureProcessor::TriggerCallback onTriggeringScrollGesture;

  class HostingView : public appkit::NSHostingView {
   public:
    HostingView(ScrollGestureProcessor::TriggerCallback onTriggeringScrollGesture, ui::View rootView);
    // Only the initializer with the callback is supported.
    explicit HostingView(ui::View rootView) = delete;

    void scrollWheel(const appkit::NSEvent& event) override;

    std::shared_ptr<ScrollGestureProcessor> scrollGestureProcessor;
  };

  struct Representable {
    ScrollGestureProcessor::TriggerCallback onTriggeringScrollGesture;
    ui::View content;

    std::shared_ptr<HostingView> makeNSView() const;
    // Only the hosted content is replaced; the processor keeps its callback.
    void updateNSView(HostingView& view) const;
  };

  ui::View body(ui::View content) const;
};
