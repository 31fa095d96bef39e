#include "platform/appkit/NSWindow.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSViewController.h"

namespace appkit {
namespace {

struct Registry {
  std::vector<std::weak_ptr<NSWindow>> all;
  // On-screen windows are kept alive by the window list, as AppKit does.
  std::vector<std::shared_ptr<NSWindow>> visible;
  std::map<long, long long> stamps;
  long long nextStamp = 1;
  long long lowestStamp = 0;
  long nextNumber = 1;
  std::weak_ptr<NSWindow> key;
  std::weak_ptr<NSWindow> mouseDownWindow;
  conc::PassthroughSubject<void> changes;
};

Registry& registry() {
  static Registry* r = new Registry();
  return *r;
}

}  // namespace

NSRect mainScreenVisibleFrame() {
  if (auto screen = NSScreen::mainScreen()) return screen->visibleFrame();
  return NSRect(0, 0, 1440, 875);
}

// ---- NSWindow ----

std::shared_ptr<NSWindow> NSWindow::make(NSRect contentRect, std::uint64_t styleMask, NSBackingStoreType, bool) {
  std::shared_ptr<NSWindow> w(new NSWindow(contentRect, styleMask));
  registry().all.push_back(w);
  return w;
}

NSWindow::NSWindow(NSRect contentRect, std::uint64_t styleMask) : styleMask_(styleMask) {
  windowNumber_ = registry().nextNumber++;
  frame_ = frameRectForContentRect(contentRect);
}

NSWindow::~NSWindow() {
  auto& r = registry();
  std::erase_if(r.all, [](const std::weak_ptr<NSWindow>& w) { return w.expired(); });
  r.stamps.erase(windowNumber_);
}

NSRect NSWindow::contentRectForFrameRect(NSRect f) const {
  bool titleBar = (styleMask_ & NSWindowStyleMaskTitled) && !(styleMask_ & NSWindowStyleMaskFullSizeContentView);
  if (!titleBar) return f;
  return NSRect(f.origin.x, f.origin.y, f.size.width, std::max(0.0, f.size.height - kTitleBarHeight));
}

NSRect NSWindow::frameRectForContentRect(NSRect c) const {
  bool titleBar = (styleMask_ & NSWindowStyleMaskTitled) && !(styleMask_ & NSWindowStyleMaskFullSizeContentView);
  if (!titleBar) return c;
  return NSRect(c.origin.x, c.origin.y, c.size.width, c.size.height + kTitleBarHeight);
}

void NSWindow::setFrame(NSRect frame, bool, bool) {
  bool moved = frame.origin != frame_.origin;
  bool resized = frame.size != frame_.size;
  frame_ = frame;
  if (contentView_) {
    NSRect content = contentRect();
    contentView_->setFrame(NSRect(0, 0, content.size.width, content.size.height));
  }
  if (auto d = delegate()) {
    if (resized) d->windowDidResize(*this);
    if (moved) d->windowDidMove(*this);
  }
  if (moved || resized) WindowList::changed();
}

void NSWindow::setFrameOrigin(NSPoint origin) { setFrame(NSRect(origin, frame_.size)); }

void NSWindow::setContentSize(NSSize size) {
  NSRect content = contentRect();
  double top = content.origin.y + content.size.height;
  NSRect next(content.origin.x, top - size.height, size.width, size.height);
  setFrame(frameRectForContentRect(next));
}

void NSWindow::center() {
  NSRect screen = mainScreenVisibleFrame();
  double x = screen.origin.x + (screen.size.width - frame_.size.width) / 2;
  double freeHeight = screen.size.height - frame_.size.height;
  double y = screen.origin.y + freeHeight * 2 / 3;
  setFrameOrigin(NSPoint{std::floor(x), std::floor(y)});
}

void NSWindow::setTitle(std::string title) {
  title_ = std::move(title);
  WindowList::changed();
}

void NSWindow::setStyleMask(std::uint64_t mask) {
  NSRect content = contentRect();
  styleMask_ = mask;
  // The content keeps its place; the frame grows or loses the title bar.
  frame_ = frameRectForContentRect(content);
  WindowList::changed();
}

void NSWindow::setLevel(NSWindowLevel level) {
  level_ = level;
  WindowList::changed();
}

void NSWindow::setAlphaValue(double alpha) {
  if (std::isnan(alpha)) return;  // no opacity at all; keep the one it has
  alpha_ = std::clamp(alpha, 0.0, 1.0);
  WindowList::changed();
}

void NSWindow::setContentView(std::shared_ptr<NSView> view) {
  if (auto old = std::dynamic_pointer_cast<NSHostingView>(contentView_)) {
    old->host()->setOnRender(nullptr);
    old->host()->setOnSheetsChanged(nullptr);
  }
  contentView_ = std::move(view);
  if (!contentView_) return;
  contentView_->setWindow(weak_from_this());
  NSRect content = contentRect();
  contentView_->setFrame(NSRect(0, 0, content.size.width, content.size.height));
  if (auto hosting = std::dynamic_pointer_cast<NSHostingView>(contentView_)) {
    std::weak_ptr<NSWindow> weak = weak_from_this();
    auto host = hosting->host();
    host->setOnRender([weak] {
      if (auto w = weak.lock()) {
        w->fitContentToHost();
        w->syncHostedSheets();
        WindowList::changed();
      }
    });
    host->setOnSheetsChanged([weak] {
      if (auto w = weak.lock()) w->syncHostedSheets();
    });
    fitContentToHost();
  }
}

void NSWindow::setContentViewController(std::shared_ptr<NSViewController> controller) {
  contentViewController_ = std::move(controller);
  setContentView(contentViewController_ ? contentViewController_->view() : nullptr);
}

std::shared_ptr<ui::Host> NSWindow::contentHost() const {
  auto hosting = std::dynamic_pointer_cast<NSHostingView>(contentView_);
  return hosting ? hosting->host() : nullptr;
}

// The content's size limits bound the window, as a hosting view's
// constraints do: its size for a zero proposal at least, for an infinite one
// at most.
void NSWindow::fitContentToHost() {
  static thread_local bool fitting = false;
  if (fitting) return;
  auto host = contentHost();
  if (!host) return;
  fitting = true;
  ui::Size lo = host->sizeThatFits(ui::ProposedSize::zero());
  ui::Size hi = host->sizeThatFits(ui::ProposedSize::infinite());
  NSSize current = contentRect().size;
  auto clamp = [](double v, double a, double b) {
    if (b < a) b = a;
    return std::max(a, std::min(b, v));
  };
  NSSize wanted{clamp(current.width, lo.width, hi.width), clamp(current.height, lo.height, hi.height)};
  if (wanted != current) setContentSize(wanted);
  fitting = false;
}

void NSWindow::syncHostedSheets() {
  static thread_local bool syncing = false;
  if (syncing) return;
  auto host = contentHost();
  if (!host) return;
  syncing = true;
  const auto presented = host->presentedSheets();
  // Sheets the tree no longer presents end.
  for (auto it = hostedSheets_.begin(); it != hostedSheets_.end();) {
    bool still = std::any_of(presented.begin(), presented.end(),
                             [&](const ui::Host::PresentedSheet& s) { return s.host == it->first; });
    if (!still) {
      auto sheet = it->second;
      it = hostedSheets_.erase(it);
      endSheet(sheet, NSModalResponseOK);
    } else {
      ++it;
    }
  }
  // One sheet is attached at a time; later ones wait for it.
  if (!attachedSheet_) {
    for (const auto& s : presented) {
      bool known = std::any_of(hostedSheets_.begin(), hostedSheets_.end(),
                               [&](const auto& entry) { return entry.first == s.host; });
      if (known) continue;
      ui::Size size = s.host->fittingSize();
      auto sheetWindow = NSWindow::make(NSRect(0, 0, size.width, size.height), NSWindowStyleMaskBorderless);
      sheetWindow->setContentView(std::make_shared<NSHostingView>(s.host));
      hostedSheets_.emplace_back(s.host, sheetWindow);
      beginSheet(sheetWindow);
      break;
    }
  }
  syncing = false;
}

bool NSWindow::isKeyWindow() const { return registry().key.lock().get() == this; }

bool NSWindow::canBecomeKeyWindow() const { return (styleMask_ & NSWindowStyleMaskTitled) != 0 || isSheet(); }

void NSPanel::setFloatingPanel(bool f) {
  floating_ = f;
  setLevel(f ? NSFloatingWindowLevel : NSNormalWindowLevel);
}

void NSWindow::willAppear() {
  if (contentViewController_) contentViewController_->notifyWillAppear();
}
void NSWindow::didAppear() {
  if (contentViewController_) contentViewController_->notifyDidAppear();
}
void NSWindow::willDisappear() {
  if (contentViewController_) contentViewController_->notifyWillDisappear();
}
void NSWindow::didDisappear() {
  if (contentViewController_) contentViewController_->notifyDidDisappear();
}

void NSWindow::orderFront() {
  auto& r = registry();
  auto self = shared_from_this();
  bool appearing = !visible_;
  if (appearing) willAppear();
  r.stamps[windowNumber_] = r.nextStamp++;
  if (appearing) {
    visible_ = true;
    r.visible.push_back(self);
  }
  WindowList::changed();
  if (appearing) didAppear();
}

void NSWindow::orderBack() {
  auto& r = registry();
  auto self = shared_from_this();
  bool appearing = !visible_;
  if (appearing) willAppear();
  r.stamps[windowNumber_] = --r.lowestStamp;
  if (appearing) {
    visible_ = true;
    r.visible.push_back(self);
  }
  WindowList::changed();
  if (appearing) didAppear();
}

void NSWindow::orderOut() {
  if (!visible_) return;
  auto& r = registry();
  auto self = shared_from_this();  // keeps the window alive through the calls below
  willDisappear();
  visible_ = false;
  std::erase(r.visible, self);
  if (r.key.lock() == self) {
    r.key.reset();
    if (auto d = delegate()) d->windowDidResignKey(*this);
  }
  WindowList::changed();
  didDisappear();
}

void NSWindow::makeKeyWindow() {
  if (!canBecomeKeyWindow()) return;
  auto& r = registry();
  auto self = shared_from_this();
  auto previous = r.key.lock();
  if (previous == self) return;
  r.key = self;
  if (previous) {
    if (auto d = previous->delegate()) d->windowDidResignKey(*previous);
  }
  if (auto d = delegate()) d->windowDidBecomeKey(*this);
  WindowList::changed();
}

void NSWindow::makeKeyAndOrderFront() {
  orderFront();
  makeKeyWindow();
}

void NSWindow::performClose() {
  if (auto d = delegate(); d && !d->windowShouldClose(*this)) return;
  close();
}

void NSWindow::close() {
  auto self = shared_from_this();
  if (auto d = delegate()) d->windowWillClose(*this);
  if (attachedSheet_) endSheet(attachedSheet_, NSModalResponseCancel);
  orderOut();
}

void NSWindow::beginSheet(std::shared_ptr<NSWindow> sheet, std::function<void(NSModalResponse)> completion) {
  if (!sheet || attachedSheet_ || sheet.get() == this) return;
  attachedSheet_ = sheet;
  sheetCompletion_ = std::move(completion);
  sheet->sheetParent_ = weak_from_this();
  sheet->setLevel(level_);
  NSRect content = contentRect();
  NSRect sf = sheet->frame();
  double x = content.origin.x + (content.size.width - sf.size.width) / 2;
  double y = content.origin.y + content.size.height - sf.size.height;
  sheet->setFrameOrigin(NSPoint{std::floor(x), std::floor(y)});
  sheet->orderFront();
  if (isKeyWindow()) sheet->makeKeyWindow();
}

void NSWindow::endSheet(std::shared_ptr<NSWindow> sheet, NSModalResponse returnCode) {
  if (!sheet || attachedSheet_ != sheet) return;
  bool wasKey = sheet->isKeyWindow();
  attachedSheet_.reset();
  sheet->sheetParent_.reset();
  sheet->orderOut();
  if (wasKey && visible_) makeKeyWindow();
  if (auto completion = std::exchange(sheetCompletion_, nullptr)) completion(returnCode);
}

ui::Point NSWindow::contentPointFromScreen(NSPoint p) const {
  NSRect content = contentRect();
  return {p.x - content.origin.x, content.origin.y + content.size.height - p.y};
}

void NSWindow::sendMouseMoved(NSPoint p) {
  if (auto host = contentHost()) host->mouseMoved(contentPointFromScreen(p));
}

void NSWindow::sendMouseExited() {
  if (auto host = contentHost()) host->mouseExited();
}

bool NSWindow::isOnCloseButton(NSPoint p) const {
  const bool titled = (styleMask_ & NSWindowStyleMaskTitled) && !(styleMask_ & NSWindowStyleMaskFullSizeContentView);
  if (!titled || !(styleMask_ & NSWindowStyleMaskClosable)) return false;
  const double top = frame_.origin.y + frame_.size.height;
  return p.x >= frame_.origin.x + 7 && p.x < frame_.origin.x + 21 && p.y <= top - 6 && p.y > top - 22;
}

void NSWindow::sendMouseDown(NSPoint p) {
  if (attachedSheet_) return;  // a window with a sheet takes no clicks
  closeButtonPressed_ = isOnCloseButton(p);
  if (closeButtonPressed_) return;
  if (auto host = contentHost()) host->mouseDown(contentPointFromScreen(p));
}

void NSWindow::sendMouseUp(NSPoint p) {
  if (attachedSheet_) return;
  if (std::exchange(closeButtonPressed_, false)) {
    if (isOnCloseButton(p)) performClose();
    return;
  }
  if (auto host = contentHost()) host->mouseUp(contentPointFromScreen(p));
}

void NSWindow::sendRightMouseDown(NSPoint p) {
  if (attachedSheet_) return;
  if (auto host = contentHost()) host->rightMouseDown(contentPointFromScreen(p));
}

void NSWindow::sendScrollWheel(NSPoint p, ui::ScrollEvent event) {
  if (auto host = contentHost()) {
    event.location = contentPointFromScreen(p);
    host->scrollWheel(event);
  }
}

bool NSWindow::sendKeyDown(ui::Key key) {
  if (attachedSheet_) return attachedSheet_->sendKeyDown(key);
  auto host = contentHost();
  return host && host->keyDown(key);
}

std::optional<img::Bitmap> NSWindow::renderContent(double scale) const {
  auto host = contentHost();
  if (!host) return std::nullopt;
  return host->render(scale);
}

std::shared_ptr<NSPanel> NSPanel::make(NSRect contentRect, std::uint64_t styleMask, NSBackingStoreType, bool) {
  std::shared_ptr<NSPanel> p(new NSPanel(contentRect, styleMask));
  registry().all.push_back(p);
  return p;
}

// ---- WindowList ----

std::vector<WindowInfo> WindowList::visibleWindows() {
  auto& r = registry();
  std::vector<std::shared_ptr<NSWindow>> windows = r.visible;
  std::stable_sort(windows.begin(), windows.end(), [&](const auto& a, const auto& b) {
    if (a->level() != b->level()) return a->level() > b->level();
    return r.stamps[a->windowNumber()] > r.stamps[b->windowNumber()];
  });
  std::vector<WindowInfo> out;
  out.reserve(windows.size());
  for (const auto& w : windows) {
    WindowInfo info;
    info.windowNumber = w->windowNumber();
    info.frame = w->frame();
    info.level = w->level();
    info.alpha = w->alphaValue();
    info.opaque = w->isOpaque();
    info.isKey = w->isKeyWindow();
    info.ignoresMouseEvents = w->ignoresMouseEvents();
    info.title = w->title();
    info.host = w->contentHost();
    info.window = w;
    out.push_back(std::move(info));
  }
  return out;
}

std::vector<std::shared_ptr<NSWindow>> WindowList::allWindows() {
  std::vector<std::shared_ptr<NSWindow>> out;
  for (const auto& w : registry().all) {
    if (auto s = w.lock()) out.push_back(s);
  }
  return out;
}

std::shared_ptr<NSWindow> WindowList::keyWindow() { return registry().key.lock(); }

std::shared_ptr<NSWindow> WindowList::windowAtPoint(NSPoint p) {
  for (const auto& info : visibleWindows()) {
    if (info.ignoresMouseEvents || info.alpha <= 0) continue;
    if (info.frame.contains(p)) return info.window;
  }
  return nullptr;
}

conc::AnyCancellable WindowList::observe(std::function<void()> callback) {
  return registry().changes.sink(std::move(callback));
}

void WindowList::changed() { registry().changes.send(); }

void WindowList::dispatchMouseMoved(NSPoint p) {
  for (const auto& info : visibleWindows()) {
    if (!info.ignoresMouseEvents) info.window->sendMouseMoved(p);
  }
}

std::shared_ptr<NSWindow> WindowList::dispatchMouseDown(NSPoint p) {
  auto w = windowAtPoint(p);
  registry().mouseDownWindow = w;
  if (w) w->sendMouseDown(p);
  return w;
}

void WindowList::dispatchMouseUp(NSPoint p) {
  auto w = registry().mouseDownWindow.lock();
  registry().mouseDownWindow.reset();
  if (w) w->sendMouseUp(p);
}

std::shared_ptr<NSWindow> WindowList::dispatchRightMouseDown(NSPoint p) {
  auto w = windowAtPoint(p);
  if (w) w->sendRightMouseDown(p);
  return w;
}

std::shared_ptr<NSWindow> WindowList::dispatchScrollWheel(NSPoint p, ui::ScrollEvent event) {
  auto w = windowAtPoint(p);
  if (w) w->sendScrollWheel(p, event);
  return w;
}

bool WindowList::dispatchKeyDown(ui::Key key) {
  auto w = keyWindow();
  return w && w->sendKeyDown(key);
}

void WindowList::resetForTesting() {
  auto& r = registry();
  auto visible = std::move(r.visible);
  r.visible.clear();
  for (auto& w : visible) w->visible_ = false;
  r.key.reset();
  r.mouseDownWindow.reset();
  r.stamps.clear();
  r.nextStamp = 1;
  r.lowestStamp = 0;
}

}  // namespace appkit
