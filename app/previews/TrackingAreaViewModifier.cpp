#include "app/previews/TrackingAreaViewModifier.h"

namespace {
// Mouse entered and exited (1), mouse moved (2), active always (0x80).
constexpr std::uint64_t kTrackingOptions =
    appkit::NSTrackingMouseEnteredAndExited | appkit::NSTrackingMouseMoved | appkit::NSTrackingActiveAlways;
}  // namespace

TrackinAreaViewModifier::HostingView::HostingView(std::function<void(bool)> onMove, ui::View rootView)
    : appkit::NSHostingView(std::move(rootView)), onMove_(std::move(onMove)) {}

void TrackinAreaViewModifier::HostingView::resetTrackingArea() {
  if (trackingArea_) removeTrackingArea(trackingArea_);
  trackingArea_ = appkit::NSTrackingArea::make(bounds(), kTrackingOptions, weakResponder());
  addTrackingArea(trackingArea_);
}

void TrackinAreaViewModifier::HostingView::updateTrackingAreas() {
  resetTrackingArea();
  appkit::NSHostingView::updateTrackingAreas();
}

void TrackinAreaViewModifier::HostingView::mouseEntered(const appkit::NSEvent&) {
  if (onMove_) onMove_(true);
}

void TrackinAreaViewModifier::HostingView::mouseMoved(const appkit::NSEvent&) {
  if (onMove_) onMove_(true);
}

void TrackinAreaViewModifier::HostingView::mouseExited(const appkit::NSEvent&) {
  if (onMove_) onMove_(false);
}

std::shared_ptr<TrackinAreaViewModifier::HostingView> TrackinAreaViewModifier::Representable::makeNSView() const {
  return std::make_shared<HostingView>(onMove, content);
}

void TrackinAreaViewModifier::Representable::updateNSView(HostingView& view) const { view.setRootView(content); }

ui::View TrackinAreaViewModifier::body(ui::View content) const {
  return content.background(ui::View(Representable{onMove, ui::View(ui::Color::clear())}), ui::Alignment::center);
}
