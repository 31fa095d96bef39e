#include "platform/sim/InputDriver.h"

#include <algorithm>
#include <cmath>

#include "platform/sim/World.h"

namespace sim {

namespace {

// The close, minimize and zoom buttons: a press there does not grab the window.
constexpr double kButtonsLeft = 7;
constexpr double kButtonsRight = 61;
constexpr double kButtonsTop = 6;
constexpr double kButtonsBottom = 22;

bool isMoveType(InputEventType t) { return t == InputEventType::mouseMoved; }

std::uint64_t bit(InputEventType t) {
  const auto raw = static_cast<std::uint32_t>(t);
  return raw < 64 ? (1ull << raw) : 0;
}

// The frontmost drawn window of another process under a top-left point, when
// that process is the one the window server sends events there to.
std::optional<WindowInfo> windowAt(World& world, CGPoint p) {
  const std::optional<pid_t> target = world.processAtPoint(p);
  if (!target || *target == world.selfPid() || (world.dockPid() && *target == *world.dockPid())) return std::nullopt;
  for (WindowID id : world.zOrder()) {
    std::optional<WindowInfo> w = world.window(id);
    if (!w || !w->onScreen || !w->frame.contains(p)) continue;
    if (w->pid != *target) return std::nullopt;
    return w;
  }
  return std::nullopt;
}

bool inTitleBarOutsideButtons(const WindowInfo& w, CGPoint p) {
  const CGRect& f = w.frame;
  if (p.y < f.origin.y || p.y >= f.origin.y + std::min(kTitleBarHeight, f.size.height)) return false;
  const bool onButtons = p.x >= f.origin.x + kButtonsLeft && p.x < f.origin.x + kButtonsRight &&
                         p.y >= f.origin.y + kButtonsTop && p.y < f.origin.y + kButtonsBottom;
  return !onButtons;
}

// The lowest y a window's top may take at a pointer position: the bottom of
// the menu bar of the display under the pointer.
std::optional<double> menuBarBottom(World& world, CGPoint pointer) {
  for (const DisplayInfo& d : world.displays()) {
    if (!world.flippedRect(d.frame).contains(pointer)) continue;
    return world.flippedRect(d.visibleFrame).origin.y;
  }
  return std::nullopt;
}

}  // namespace

InputDriver& InputDriver::shared() {
  static InputDriver* driver = new InputDriver();  // never destroyed, like the world
  return *driver;
}

InputDriver::InputDriver() {
  worldToken_ = World::shared().addObserver([this](const Event& event) {
    if (event.kind == Event::Kind::WorldReset) reset();
  });
}

// ---------------------------------------------------------------- sinks

ns::ObserverToken InputDriver::addSink(SinkEntry entry, Sink sink) {
  auto registration = std::make_shared<ns::detail::Registration<Sink>>(std::move(sink));
  entry.registration = registration;
  {
    std::lock_guard lock(mutex_);
    sinks_.push_back(std::move(entry));
  }
  std::weak_ptr<ns::detail::Registration<Sink>> weak = registration;
  return ns::ObserverToken([this, weak] {
    auto r = weak.lock();
    if (!r) return;
    r->deactivate();
    std::lock_guard lock(mutex_);
    std::erase_if(sinks_, [&](const SinkEntry& e) { return e.registration == r; });
  });
}

ns::ObserverToken InputDriver::addTapSink(std::optional<pid_t> pid, std::uint64_t mask, Sink sink) {
  SinkEntry e;
  e.route = SinkEntry::Route::tap;
  e.pid = pid;
  e.mask = mask;
  return addSink(std::move(e), std::move(sink));
}

ns::ObserverToken InputDriver::addGlobalMonitorSink(Sink sink) {
  SinkEntry e;
  e.route = SinkEntry::Route::globalMonitor;
  return addSink(std::move(e), std::move(sink));
}

ns::ObserverToken InputDriver::addApplicationSink(Sink sink) {
  SinkEntry e;
  e.route = SinkEntry::Route::application;
  return addSink(std::move(e), std::move(sink));
}

void InputDriver::dispatchToSinks(const InputEvent& event) {
  std::vector<SinkEntry> entries;
  {
    std::lock_guard lock(mutex_);
    entries = sinks_;
  }
  // Taps see an event before any application gets it.
  std::stable_partition(entries.begin(), entries.end(),
                        [](const SinkEntry& e) { return e.route == SinkEntry::Route::tap; });
  for (const SinkEntry& e : entries) {
    bool wants = false;
    switch (e.route) {
      case SinkEntry::Route::tap:
        wants = (e.mask & bit(event.type)) != 0 && (!e.pid || (event.targetPid && *event.targetPid == *e.pid));
        break;
      case SinkEntry::Route::globalMonitor:
        wants = !event.boundForSelf;
        break;
      case SinkEntry::Route::application:
        wants = event.boundForSelf || isMoveType(event.type);
        break;
    }
    if (wants) e.registration->invoke(event);
  }
}

// ---------------------------------------------------------------- timing and settings

void InputDriver::setPump(std::function<void(double)> pump) {
  std::lock_guard lock(mutex_);
  pump_ = std::move(pump);
}

void InputDriver::setStepInterval(double seconds) {
  std::lock_guard lock(mutex_);
  stepInterval_ = std::max(0.0, seconds);
}

double InputDriver::stepInterval() const {
  std::lock_guard lock(mutex_);
  return stepInterval_;
}

void InputDriver::pump(double seconds) {
  std::function<void(double)> p;
  {
    std::lock_guard lock(mutex_);
    p = pump_;
  }
  if (p) p(std::max(0.0, seconds));
}

void InputDriver::wait(double seconds) { pump(seconds); }

void InputDriver::setNaturalScrolling(bool natural) {
  std::lock_guard lock(mutex_);
  naturalScrolling_ = natural;
}

bool InputDriver::naturalScrolling() const {
  std::lock_guard lock(mutex_);
  return naturalScrolling_;
}

void InputDriver::reset() {
  std::lock_guard lock(mutex_);
  left_.reset();
  right_.reset();
  other_.reset();
  grab_.reset();
}

// ---------------------------------------------------------------- events

void InputDriver::emit(InputEvent event) {
  World& world = World::shared();
  {
    std::lock_guard lock(mutex_);
    event.number = nextNumber_++;
  }
  event.unflippedLocation = world.flippedPoint(event.location);
  event.boundForSelf = event.targetPid && *event.targetPid == world.selfPid();
  dispatchToSinks(event);
}

CGPoint InputDriver::location() const { return World::shared().mouseLocationTopLeft(); }

bool InputDriver::isPressed(MouseButton button) const {
  std::lock_guard lock(mutex_);
  switch (button) {
    case MouseButton::left: return left_.has_value();
    case MouseButton::right: return right_.has_value();
    case MouseButton::other: return other_.has_value();
  }
  return false;
}

void InputDriver::step(CGPoint to) {
  World& world = World::shared();
  world.setMouseLocationTopLeft(to);

  std::optional<Press> left, right, other;
  std::optional<Grab> grab;
  {
    std::lock_guard lock(mutex_);
    left = left_;
    right = right_;
    other = other_;
    grab = grab_;
  }

  // The first dragged event of a press only starts the drag; the window
  // follows the pointer from the next one on, catching up at once.
  if (grab && grab->started) {
    if (std::optional<WindowInfo> w = world.window(grab->window); w && w->movable) {
      CGPoint origin{to.x - grab->offset.x, to.y - grab->offset.y};
      if (std::optional<double> top = menuBarBottom(world, to)) origin.y = std::max(origin.y, *top);
      world.setWindowFrame(w->id, CGRect(origin, w->frame.size));
    }
  }

  InputEvent e;
  e.location = to;
  if (left) {
    e.type = InputEventType::leftMouseDragged;
    e.targetPid = left->target;
  } else if (right) {
    e.type = InputEventType::rightMouseDragged;
    e.targetPid = right->target;
  } else if (other) {
    e.type = InputEventType::otherMouseDragged;
    e.targetPid = other->target;
  } else {
    e.type = InputEventType::mouseMoved;
    e.targetPid = world.processAtPoint(to);
  }
  emit(e);
  if (grab && !grab->started) {
    std::lock_guard lock(mutex_);
    if (grab_ && grab_->window == grab->window) grab_->started = true;
  }
}

void InputDriver::moveTo(CGPoint to, int steps) {
  steps = std::max(1, steps);
  const CGPoint from = location();
  const double interval = stepInterval();
  for (int i = 1; i <= steps; ++i) {
    const double t = static_cast<double>(i) / steps;
    step(CGPoint{from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t});
    pump(interval);
  }
}

void InputDriver::press(MouseButton button) {
  World& world = World::shared();
  const CGPoint p = location();
  Press press;
  press.target = world.processAtPoint(p);

  InputEvent e;
  e.location = p;
  e.targetPid = press.target;
  e.clickCount = press.clickCount;
  switch (button) {
    case MouseButton::left: e.type = InputEventType::leftMouseDown; break;
    case MouseButton::right: e.type = InputEventType::rightMouseDown; break;
    case MouseButton::other: e.type = InputEventType::otherMouseDown; break;
  }

  std::optional<Grab> grab;
  if (button == MouseButton::left) {
    if (std::optional<WindowInfo> w = windowAt(world, p)) {
      // The click brings the application and that window forward.
      world.activateApplication(w->pid);
      world.focusWindow(w->id);
      world.raiseWindow(w->id);
      if (w->movable && inTitleBarOutsideButtons(*w, p)) {
        grab = Grab{w->id, CGPoint{p.x - w->frame.origin.x, p.y - w->frame.origin.y}};
      }
    }
  }
  {
    std::lock_guard lock(mutex_);
    switch (button) {
      case MouseButton::left:
        left_ = press;
        grab_ = grab;
        break;
      case MouseButton::right: right_ = press; break;
      case MouseButton::other: other_ = press; break;
    }
  }
  emit(e);
  pump(stepInterval());
}

void InputDriver::release(MouseButton button) {
  std::optional<Press> press;
  {
    std::lock_guard lock(mutex_);
    std::optional<Press>* slot = button == MouseButton::left ? &left_ : button == MouseButton::right ? &right_ : &other_;
    press = std::exchange(*slot, std::nullopt);
    if (button == MouseButton::left) grab_.reset();
  }
  InputEvent e;
  e.location = location();
  // A release goes where the press went; a release without a press to
  // whatever lies under the pointer.
  e.targetPid = press ? press->target : World::shared().processAtPoint(e.location);
  e.clickCount = press ? press->clickCount : 0;
  switch (button) {
    case MouseButton::left: e.type = InputEventType::leftMouseUp; break;
    case MouseButton::right: e.type = InputEventType::rightMouseUp; break;
    case MouseButton::other: e.type = InputEventType::otherMouseUp; break;
  }
  emit(e);
  pump(stepInterval());
}

void InputDriver::click(CGPoint at, MouseButton button) {
  if (!(location() == at)) moveTo(at, 1);
  press(button);
  release(button);
}

std::optional<CGPoint> InputDriver::titleBarPoint(WindowID window, std::optional<double> grabX) const {
  std::optional<WindowInfo> w = World::shared().window(window);
  if (!w || !w->onScreen) return std::nullopt;
  const CGRect& f = w->frame;
  const double x = grabX ? std::clamp(*grabX, 0.0, f.size.width) : f.size.width / 2;
  return CGPoint{f.origin.x + x, f.origin.y + std::min(kTitleBarHeight, f.size.height) / 2};
}

bool InputDriver::dragWindowByTitleBar(WindowID window, CGPoint to, DragOptions options) {
  World& world = World::shared();
  const std::optional<CGPoint> grabPoint = titleBarPoint(window, options.grabX);
  if (!grabPoint) return false;
  const std::optional<WindowInfo> under = windowAt(world, *grabPoint);
  if (!under || under->id != window) return false;
  if (!(location() == *grabPoint)) moveTo(*grabPoint, 1);
  press(MouseButton::left);
  // A drag begins with a nudge of a point towards its end, which the window
  // does not follow yet.
  const double dx = to.x - grabPoint->x;
  const double dy = to.y - grabPoint->y;
  const double length = std::hypot(dx, dy);
  if (length > 1) {
    step(CGPoint{grabPoint->x + dx / length, grabPoint->y + dy / length});
    pump(stepInterval());
  }
  moveTo(to, options.steps);
  if (options.release) release(MouseButton::left);
  return true;
}

// ---------------------------------------------------------------- scrolling

void InputDriver::scrollWheel(CGPoint at, double dx, double dy, int notches, double interval) {
  if (!(location() == at)) moveTo(at, 1);
  const bool natural = naturalScrolling();
  for (int i = 0; i < notches; ++i) {
    InputEvent e;
    e.type = InputEventType::scrollWheel;
    e.location = location();
    e.targetPid = World::shared().processAtPoint(e.location);
    e.continuous = false;
    e.directionInvertedFromDevice = natural;
    e.scrollDeltaX = natural ? dx : -dx;
    e.scrollDeltaY = natural ? dy : -dy;
    emit(e);
    pump(interval);
  }
}

void InputDriver::trackpadScroll(CGPoint at, const std::vector<Delta>& fingers, const std::vector<Delta>& momentum,
                                 double interval) {
  if (!(location() == at)) moveTo(at, 1);
  const bool natural = naturalScrolling();
  auto send = [&](Delta d, ScrollPhase phase, ScrollPhase momentumPhase) {
    InputEvent e;
    e.type = InputEventType::scrollWheel;
    e.location = location();
    e.targetPid = World::shared().processAtPoint(e.location);
    e.continuous = true;
    e.directionInvertedFromDevice = natural;
    e.scrollDeltaX = natural ? d.x : -d.x;
    e.scrollDeltaY = natural ? d.y : -d.y;
    e.phase = phase;
    e.momentumPhase = momentumPhase;
    emit(e);
    pump(interval);
  };
  for (std::size_t i = 0; i < fingers.size(); ++i) {
    send(fingers[i], i == 0 ? ScrollPhase::began : ScrollPhase::changed, ScrollPhase::none);
  }
  if (!fingers.empty()) send(Delta{}, ScrollPhase::ended, ScrollPhase::none);
  for (std::size_t i = 0; i < momentum.size(); ++i) {
    send(momentum[i], ScrollPhase::none, i == 0 ? ScrollPhase::began : ScrollPhase::changed);
  }
  if (!momentum.empty()) send(Delta{}, ScrollPhase::none, ScrollPhase::ended);
}

void InputDriver::swipe(CGPoint at, SwipeDirection direction, bool fast, double distance) {
  Delta unit;
  switch (direction) {
    case SwipeDirection::left: unit = {-1, 0}; break;
    case SwipeDirection::right: unit = {1, 0}; break;
    case SwipeDirection::up: unit = {0, -1}; break;
    case SwipeDirection::down: unit = {0, 1}; break;
  }
  auto scaled = [&](double amount) { return Delta{unit.x * amount, unit.y * amount}; };
  std::vector<Delta> fingers;
  const double first = fast ? 4 : 1;
  const double each = fast ? 14 : 3;
  fingers.push_back(scaled(std::min(first, distance)));
  for (double done = first; done < distance; done += each) fingers.push_back(scaled(std::min(each, distance - done)));
  const std::vector<Delta> momentum = fast ? std::vector<Delta>{scaled(8), scaled(5), scaled(2)}
                                           : std::vector<Delta>{scaled(1), scaled(0.5)};
  trackpadScroll(at, fingers, momentum);
}

}  // namespace sim
