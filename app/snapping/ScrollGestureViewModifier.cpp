#include "app/snapping/ScrollGestureViewModifier.h"

ScrollGestureViewModifier::HostingView::HostingView(ScrollGestureProcessor::TriggerCallback onTriggeringScrollGesture,
                                                    ui::View rootView)
    : appkit::NSHostingView(std::move(rootView)),
      scrollGestureProcessor(ScrollGestureProcessor::create(std::move(onTriggeringScrollGesture), [] {})) {}

void ScrollGestureViewModifier::HostingView::scrollWheel(const appkit::NSEvent& event) {
  // Not passed on to the superclass: the event stops here.
  auto shared = std::make_shared<appkit::NSEvent>(event);
  if (event.hasPreciseScrollingDeltas()) {
    scrollGestureProcessor->processPreciseScroll(shared);
  } else {
    scrollGestureProcessor->processMouseWheel(shared);
  }
}

std::shared_ptr<ScrollGestureViewModifier::HostingView> ScrollGestureViewModifier::Representable::makeNSView() const {
  return std::make_shared<HostingView>(onTriggeringScrollGesture, content);
}

void ScrollGestureViewModifier::Representable::updateNSView(HostingView& view) const { view.setRootView(content); }

ui::View ScrollGestureViewModifier::body(ui::View content) const {
  return ui::View(Representable{onTriggeringScrollGesture, std::move(content)});
}
