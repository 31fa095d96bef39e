#pragma once
// Views of the windowing layer: responders, views with tracking areas,
// hosting views that show a ui view tree, and the visual effect view.
//
// A view is either a window's content view, or bridged into a ui view tree
// (a representable): then the tree lays it out, sends it the tracking events
// of its tracking areas, and offers it right clicks and scroll events that
// reach it. A view's frame is in its container's coordinates with the
// origin at the top left (views are flipped).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSGeometry.h"
#include "platform/ui/Host.h"
#include "platform/ui/PlatformView.h"
#include "platform/ui/View.h"

namespace appkit {

class NSWindow;
class NSView;

class NSResponder {
 public:
  virtual ~NSResponder() = default;

  std::shared_ptr<NSResponder> nextResponder() const { return next_.lock(); }
  void setNextResponder(std::weak_ptr<NSResponder> next) { next_ = std::move(next); }

  // Each passes the event to the next responder; the last marks it unhandled.
  virtual void mouseEntered(const NSEvent& event);
  virtual void mouseMoved(const NSEvent& event);
  virtual void mouseExited(const NSEvent& event);
  virtual void mouseDown(const NSEvent& event);
  virtual void mouseUp(const NSEvent& event);
  virtual void rightMouseDown(const NSEvent& event);
  virtual void rightMouseUp(const NSEvent& event);
  virtual void scrollWheel(const NSEvent& event);

 private:
  std::weak_ptr<NSResponder> next_;
};

// NSTrackingArea.Options raw values.
enum NSTrackingAreaOptions : std::uint64_t {
  NSTrackingMouseEnteredAndExited = 0x01,
  NSTrackingMouseMoved = 0x02,
  NSTrackingCursorUpdate = 0x04,
  NSTrackingActiveWhenFirstResponder = 0x10,
  NSTrackingActiveInKeyWindow = 0x20,
  NSTrackingActiveInActiveApp = 0x40,
  NSTrackingActiveAlways = 0x80,
  NSTrackingAssumeInside = 0x100,
  NSTrackingInVisibleRect = 0x200,
  NSTrackingEnabledDuringMouseDrag = 0x400,
};

// A region of a view that reports the pointer to its owner. Every area
// reports whether or not the application is active (there is no activity
// to gate on here).
class NSTrackingArea : public std::enable_shared_from_this<NSTrackingArea> {
 public:
  static std::shared_ptr<NSTrackingArea> make(NSRect rect, std::uint64_t options, std::weak_ptr<NSResponder> owner);

  NSRect rect() const { return rect_; }
  std::uint64_t options() const { return options_; }
  std::shared_ptr<NSResponder> owner() const { return owner_.lock(); }
  std::uint64_t identifier() const { return id_; }

 private:
  NSTrackingArea(NSRect rect, std::uint64_t options, std::weak_ptr<NSResponder> owner);
  NSRect rect_;
  std::uint64_t options_;
  std::weak_ptr<NSResponder> owner_;
  std::uint64_t id_;
};

class NSView : public NSResponder, public ui::PlatformView {
 public:
  NSView() = default;
  explicit NSView(NSRect frame) : frame_(frame) {}

  NSRect frame() const { return frame_; }
  NSRect bounds() const { return NSRect(0, 0, frame_.size.width, frame_.size.height); }
  virtual void setFrame(NSRect frame);
  void setFrameSize(NSSize size) { setFrame(NSRect(frame_.origin, size)); }
  bool isFlipped() const { return true; }

  std::shared_ptr<NSWindow> window() const { return window_.lock(); }
  // Set by the window whose content view this is.
  void setWindow(std::weak_ptr<NSWindow> window) { window_ = std::move(window); }

  void addTrackingArea(std::shared_ptr<NSTrackingArea> area);
  void removeTrackingArea(const std::shared_ptr<NSTrackingArea>& area);
  const std::vector<std::shared_ptr<NSTrackingArea>>& trackingAreas() const { return trackingAreas_; }
  // Called when the view's geometry changed; subclasses replace their areas here.
  virtual void updateTrackingAreas() {}

  // ui::PlatformView
  void hostDidLayout(ui::Rect frameInHost) override;
  std::vector<TrackingRegion> trackingRegions() const override;
  void trackingEvent(std::uint64_t regionId, ui::TrackingEventKind kind, ui::Point hostPoint) override;
  bool takeRightMouseDown(ui::Point hostPoint) override;
  bool takeScrollWheel(const ui::ScrollEvent& event) override;

  // The view as a responder (the owner of its own tracking areas); the
  // view must be owned by a shared_ptr.
  std::weak_ptr<NSResponder> weakResponder();

 private:
  NSRect frame_;
  bool placed_ = false;
  std::weak_ptr<NSWindow> window_;
  std::vector<std::shared_ptr<NSTrackingArea>> trackingAreas_;
};

// A view that shows a ui view tree. As a window's content it owns a host
// that lays the tree out in its frame; bridged into another tree, its root
// view becomes part of that tree.
class NSHostingView : public NSView {
 public:
  explicit NSHostingView(ui::View rootView);
  // Shows a tree that an existing host already runs (a sheet's).
  explicit NSHostingView(std::shared_ptr<ui::Host> host);
  static std::shared_ptr<NSHostingView> make(ui::View rootView) {
    return std::make_shared<NSHostingView>(std::move(rootView));
  }

  const ui::View& rootView() const { return rootView_; }
  virtual void setRootView(ui::View rootView);

  // The content's ideal size (nothing proposed).
  NSSize intrinsicContentSize();
  NSSize fittingSize() { return intrinsicContentSize(); }
  NSSize sizeThatFits(ui::ProposedSize proposal);

  // The host that runs the tree while this view is top-level (made on demand).
  std::shared_ptr<ui::Host> host();
  void setFrame(NSRect frame) override;

  std::optional<ui::View> hostedContent() const override { return rootView_; }

 private:
  ui::View rootView_;
  std::shared_ptr<ui::Host> host_;
};

class NSVisualEffectView : public NSView {
 public:
  using Material = ui::Material;
  using BlendingMode = ui::BlendingMode;
  using State = ui::VisualEffectState;

  Material material() const { return material_; }
  void setMaterial(Material m) { material_ = m; }
  BlendingMode blendingMode() const { return blendingMode_; }
  void setBlendingMode(BlendingMode b) { blendingMode_ = b; }
  State state() const { return state_; }
  void setState(State s) { state_ = s; }
  bool isEmphasized() const { return emphasized_; }
  void setEmphasized(bool e) { emphasized_ = e; }

  // Drawn as the material's tint over its whole frame.
  std::optional<ui::View> hostedContent() const override {
    return ui::VisualEffect(material_, blendingMode_, state_);
  }

 private:
  // The defaults of a new view.
  Material material_ = Material::windowBackground;
  BlendingMode blendingMode_ = BlendingMode::behindWindow;
  State state_ = State::followsWindowActiveState;
  bool emphasized_ = false;
};

}  // namespace appkit
