#pragma once
// The input driver of the simulated desktop: the user's mouse, wheel and
// trackpad. It moves the pointer, presses and releases buttons, drags windows
// by their title bars, scrolls and swipes, and hands every event it makes to
// the sinks the platform layer registers:
//
// - event taps: a session tap sees every event; a tap on one process sees
//   only the events the window server sends to that process (the one whose
//   window or Dock is under the pointer, or, for drags and releases, the one
//   that got the press);
// - global monitors: the events bound for any process but this program;
// - this program's own event stream: the events bound for it, plus every
//   pointer move (tracking areas follow the pointer whatever lies under it).
//
// Sinks are called synchronously on the driving thread, taps first, in the
// order they were added; the platform layer posts the events on to the main
// run loop. Between events the driver calls its pump with the time the user
// takes (tests advance the virtual clock there); without a pump the events
// follow each other at once.
//
// Points are top-left (the coordinates of event locations). Scroll deltas
// are given in the direction the fingers or the wheel move (positive x to the
// right, positive y down); the event carries them as the device reports them
// under the natural-scrolling setting.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/foundation/ObserverToken.h"
#include "platform/sim/Types.h"

namespace sim {

// The event types the driver makes, with the window server's raw values.
enum class InputEventType : std::uint32_t {
  leftMouseDown = 1,
  leftMouseUp = 2,
  rightMouseDown = 3,
  rightMouseUp = 4,
  mouseMoved = 5,
  leftMouseDragged = 6,
  rightMouseDragged = 7,
  scrollWheel = 22,
  otherMouseDown = 25,
  otherMouseUp = 26,
  otherMouseDragged = 27,
};

enum class MouseButton { left, right, other };

// The phase of a continuous scroll, and of its momentum, by name; the event
// layers above give them their own raw values.
enum class ScrollPhase { none, mayBegin, began, changed, ended, cancelled };

struct InputEvent {
  std::uint64_t number = 0;  // increasing, one per event
  InputEventType type = InputEventType::mouseMoved;
  CGPoint location{};           // top-left
  CGPoint unflippedLocation{};  // bottom-left, with the displays of the moment
  int clickCount = 0;
  // Scrolling: points for a continuous (trackpad) scroll, lines for a wheel.
  double scrollDeltaX = 0;
  double scrollDeltaY = 0;
  bool continuous = false;
  ScrollPhase phase = ScrollPhase::none;
  ScrollPhase momentumPhase = ScrollPhase::none;
  bool directionInvertedFromDevice = true;  // natural scrolling
  // The process the window server sends the event to; none over the bare desktop.
  std::optional<pid_t> targetPid{};
  bool boundForSelf = false;  // targetPid is this program's process
};

class InputDriver {
 public:
  using Sink = std::function<void(const InputEvent&)>;

  static InputDriver& shared();

  // -------- sinks
  // A tap: on one process, or on the whole session (no pid). `mask` has bit
  // n set for event type n.
  ns::ObserverToken addTapSink(std::optional<pid_t> pid, std::uint64_t mask, Sink sink);
  ns::ObserverToken addGlobalMonitorSink(Sink sink);
  ns::ObserverToken addApplicationSink(Sink sink);

  // -------- timing
  // Called after each event with the seconds until the next one.
  void setPump(std::function<void(double seconds)> pump);
  // Seconds between the steps of a move or drag (default 1/60).
  void setStepInterval(double seconds);
  double stepInterval() const;
  // Waits as the user would, through the pump.
  void wait(double seconds);

  // -------- settings
  void setNaturalScrolling(bool natural);  // default true
  bool naturalScrolling() const;

  // -------- the pointer and buttons
  CGPoint location() const;  // the world's pointer, top-left
  // Moves in `steps` equal steps from the current location: moved events,
  // or dragged events while a button is down (a grabbed window follows from
  // the second dragged event of its press on).
  void moveTo(CGPoint to, int steps = 1);
  // At the current location. A left press on the title bar of a movable
  // window (outside its buttons) grabs the window; a left press on another
  // application's window activates it and raises that window.
  void press(MouseButton button = MouseButton::left);
  void release(MouseButton button = MouseButton::left);
  void click(CGPoint at, MouseButton button = MouseButton::left);
  bool isPressed(MouseButton button = MouseButton::left) const;

  // Presses on the window's title bar (at `grabX` points from its left edge,
  // its middle by default), drags the pointer to `to` in `steps` steps and,
  // unless told to hold, releases there. The drag begins with a nudge of one
  // point that only starts it; from the next dragged event on the window
  // follows the pointer, keeping its title bar below the menu bar. False (and nothing happens) when
  // the window is not drawn or another window covers the grab point.
  struct DragOptions {
    int steps = 10;
    bool release = true;
    std::optional<double> grabX{};
  };
  bool dragWindowByTitleBar(WindowID window, CGPoint to, DragOptions options);
  bool dragWindowByTitleBar(WindowID window, CGPoint to) { return dragWindowByTitleBar(window, to, DragOptions{}); }
  // The point on the window's title bar that a drag grabs; none when the
  // window is not drawn.
  std::optional<CGPoint> titleBarPoint(WindowID window, std::optional<double> grabX = std::nullopt) const;

  // -------- scrolling
  // `notches` wheel events of (dx, dy) lines each, `interval` seconds apart,
  // at `at` (the pointer moves there first).
  void scrollWheel(CGPoint at, double dx, double dy, int notches = 1, double interval = 0.05);

  // One continuous (trackpad) scroll: the finger events (began, changed...,
  // ended with no delta) and then, when given, the momentum events (began,
  // changed..., ended with no delta), `interval` seconds apart.
  struct Delta {
    double x = 0;
    double y = 0;
  };
  void trackpadScroll(CGPoint at, const std::vector<Delta>& fingers, const std::vector<Delta>& momentum = {},
                      double interval = 1.0 / 60);

  // A two-finger swipe on the trackpad, `distance` points along one axis,
  // ending with a short momentum. A fast swipe moves more than 10 points in
  // one event; a slow one never more than 3.
  enum class SwipeDirection { left, right, up, down };
  void swipe(CGPoint at, SwipeDirection direction, bool fast, double distance = 60);

  // Forgets buttons and grabs (the world's reset does this too); sinks and
  // settings stay.
  void reset();

 private:
  InputDriver();
  void emit(InputEvent event);
  void dispatchToSinks(const InputEvent& event);
  void pump(double seconds);
  void step(CGPoint to);

  struct SinkEntry {
    enum class Route { tap, globalMonitor, application };
    Route route = Route::tap;
    std::optional<pid_t> pid{};
    std::uint64_t mask = ~0ull;
    std::shared_ptr<ns::detail::Registration<Sink>> registration;
  };
  ns::ObserverToken addSink(SinkEntry entry, Sink sink);

  mutable std::mutex mutex_;
  std::vector<SinkEntry> sinks_;
  std::function<void(double)> pump_;
  double stepInterval_ = 1.0 / 60;
  bool naturalScrolling_ = true;
  std::uint64_t nextNumber_ = 1;

  // Button state: the process that got each press (drags and releases go there).
  struct Press {
    std::optional<pid_t> target{};
    int clickCount = 1;
  };
  std::optional<Press> left_;
  std::optional<Press> right_;
  std::optional<Press> other_;
  struct Grab {
    WindowID window = 0;
    CGPoint offset{};  // pointer minus the window's origin
    bool started = false;  // a dragged event has been sent
  };
  std::optional<Grab> grab_;
  ns::ObserverToken worldToken_;
};

}  // namespace sim
