#include "platform/appkit/NSView.h"

#include <algorithm>
#include <atomic>

namespace appkit {

// ---- NSResponder ----

#define PASS_ON(method)                                 \
  void NSResponder::method(const NSEvent& event) {      \
    if (auto next = nextResponder()) {                  \
      next->method(event);                              \
    } else {                                            \
      event.markUnhandled();                            \
    }                                                   \
  }
PASS_ON(mouseEntered)
PASS_ON(mouseMoved)
PASS_ON(mouseExited)
PASS_ON(mouseDown)
PASS_ON(mouseUp)
PASS_ON(rightMouseDown)
PASS_ON(rightMouseUp)
PASS_ON(scrollWheel)
#undef PASS_ON

// ---- NSTrackingArea ----

std::shared_ptr<NSTrackingArea> NSTrackingArea::make(NSRect rect, std::uint64_t options,
                                                     std::weak_ptr<NSResponder> owner) {
  return std::shared_ptr<NSTrackingArea>(new NSTrackingArea(rect, options, std::move(owner)));
}

NSTrackingArea::NSTrackingArea(NSRect rect, std::uint64_t options, std::weak_ptr<NSResponder> owner)
    : rect_(rect), options_(options), owner_(std::move(owner)) {
  static std::atomic<std::uint64_t> next{1};
  id_ = next++;
}

// ---- NSView ----

std::weak_ptr<NSResponder> NSView::weakResponder() {
  auto self = std::dynamic_pointer_cast<NSView>(shared_from_this());
  return std::weak_ptr<NSResponder>(std::static_pointer_cast<NSResponder>(self));
}

void NSView::setFrame(NSRect frame) {
  bool changed = !placed_ || frame != frame_;
  frame_ = frame;
  placed_ = true;
  if (changed) updateTrackingAreas();
}

void NSView::addTrackingArea(std::shared_ptr<NSTrackingArea> area) {
  if (!area) return;
  if (std::find(trackingAreas_.begin(), trackingAreas_.end(), area) == trackingAreas_.end()) {
    trackingAreas_.push_back(std::move(area));
  }
}

void NSView::removeTrackingArea(const std::shared_ptr<NSTrackingArea>& area) {
  auto keep = area;  // the argument may be an element of the list itself
  std::erase(trackingAreas_, keep);
}

void NSView::hostDidLayout(ui::Rect f) { setFrame(NSRect(f.x, f.y, f.width, f.height)); }

std::vector<ui::PlatformView::TrackingRegion> NSView::trackingRegions() const {
  std::vector<TrackingRegion> out;
  for (const auto& area : trackingAreas_) {
    NSRect r = (area->options() & NSTrackingInVisibleRect) ? bounds() : area->rect();
    TrackingRegion region;
    region.id = area->identifier();
    region.rect = {frame_.origin.x + r.origin.x, frame_.origin.y + r.origin.y, r.size.width, r.size.height};
    region.enteredAndExited = (area->options() & NSTrackingMouseEnteredAndExited) != 0;
    region.moved = (area->options() & NSTrackingMouseMoved) != 0;
    out.push_back(region);
  }
  return out;
}

void NSView::trackingEvent(std::uint64_t regionId, ui::TrackingEventKind kind, ui::Point p) {
  auto it = std::find_if(trackingAreas_.begin(), trackingAreas_.end(),
                         [&](const auto& a) { return a->identifier() == regionId; });
  if (it == trackingAreas_.end()) return;
  auto area = *it;
  auto owner = area->owner();
  if (!owner) return;
  NSEventType type = kind == ui::TrackingEventKind::entered ? NSEventType::mouseEntered
                     : kind == ui::TrackingEventKind::moved ? NSEventType::mouseMoved
                                                            : NSEventType::mouseExited;
  NSEvent event(type, CGPoint{p.x, p.y});
  event.setTrackingArea(area);
  switch (kind) {
    case ui::TrackingEventKind::entered: owner->mouseEntered(event); break;
    case ui::TrackingEventKind::moved: owner->mouseMoved(event); break;
    case ui::TrackingEventKind::exited: owner->mouseExited(event); break;
  }
}

bool NSView::takeRightMouseDown(ui::Point p) {
  NSEvent event(NSEventType::rightMouseDown, CGPoint{p.x, p.y});
  event.setClickCount(1);
  rightMouseDown(event);
  return !event.wasUnhandled();
}

bool NSView::takeScrollWheel(const ui::ScrollEvent& e) {
  NSEvent event(NSEventType::scrollWheel, CGPoint{e.location.x, e.location.y});
  event.setScrollingDeltas(e.scrollingDeltaX, e.scrollingDeltaY, e.hasPreciseScrollingDeltas)
      .setPhases(static_cast<NSEventPhase>(e.phase), static_cast<NSEventPhase>(e.momentumPhase))
      .setDirectionInvertedFromDevice(e.isDirectionInvertedFromDevice);
  scrollWheel(event);
  return !event.wasUnhandled();
}

// ---- NSHostingView ----

NSHostingView::NSHostingView(ui::View rootView) : rootView_(std::move(rootView)) {}

NSHostingView::NSHostingView(std::shared_ptr<ui::Host> host) : host_(std::move(host)) {
  if (host_) rootView_ = host_->rootView();
}

void NSHostingView::setRootView(ui::View rootView) {
  rootView_ = std::move(rootView);
  if (host_) host_->setRootView(rootView_);
}

std::shared_ptr<ui::Host> NSHostingView::host() {
  if (!host_) {
    host_ = ui::Host::make(rootView_);
    NSRect f = frame();
    if (f.size.width > 0 || f.size.height > 0) host_->setProposedSize(ui::Size{f.size.width, f.size.height});
  }
  return host_;
}

void NSHostingView::setFrame(NSRect frame) {
  NSView::setFrame(frame);
  if (host_) host_->setProposedSize(ui::Size{frame.size.width, frame.size.height});
}

NSSize NSHostingView::intrinsicContentSize() {
  ui::Size s = host()->fittingSize();
  return NSSize{s.width, s.height};
}

NSSize NSHostingView::sizeThatFits(ui::ProposedSize proposal) {
  ui::Size s = host()->sizeThatFits(proposal);
  return NSSize{s.width, s.height};
}

}  // namespace appkit
