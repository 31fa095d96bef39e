#pragma once
// Turns a stream of scroll events into discrete swipe gestures (left, right,
// up, down) with a fast-swipe flag. Fed by the snapping engine's global
// monitor and by the preview thumbnails' hosting views; main thread only.

#include <functional>
#include <memory>
#include <optional>

#include "platform/appkit/NSEvent.h"
#include "platform/dispatch/Dispatch.h"

class ScrollGestureProcessor : public std::enable_shared_from_this<ScrollGestureProcessor> {
 public:
  enum class Direction { left, right, up, down };

  struct Distance {
    double x = 0;
    double y = 0;
    bool operator==(const Distance&) const = default;
  };

  // inProgress carries the sums so far; triggered ignores the rest of a
  // gesture that fired on a single precise event.
  struct Phase {
    enum class Kind { inProgress, none, triggered };
    Kind kind = Kind::none;
    Distance distance{};  // meaningful for inProgress only

    static Phase inProgress(Distance d) { return Phase{Kind::inProgress, d}; }
    static Phase none() { return Phase{Kind::none, {}}; }
    static Phase triggered() { return Phase{Kind::triggered, {}}; }
    friend bool operator==(const Phase& a, const Phase& b) {
      if (a.kind != b.kind) return false;
      return a.kind != Kind::inProgress || a.distance == b.distance;
    }
  };

  using TriggerCallback = std::function<void(Direction, bool isFastSwipe, const std::shared_ptr<appkit::NSEvent>&)>;
  using EndCallback = std::function<void()>;

  // A gesture is over once no scroll event came for this long, whatever the
  // device: a trackpad swipe whose fingers stopped before lifting sends no
  // momentum end, and must not stay open until some later scroll.
  static constexpr double kQuietTime = 1.0;

  // Held in a shared_ptr: the end check keeps the processor alive.
  static std::shared_ptr<ScrollGestureProcessor> create(TriggerCallback onTriggeringScrollGesture,
                                                        EndCallback onScrollGestureEnded);

  TriggerCallback onTriggeringScrollGesture;
  EndCallback onScrollGestureEnded;
  Phase phase = Phase::none();
  std::shared_ptr<appkit::NSEvent> lastMouseWheelEvent{};

  // Trackpad and Magic Mouse events; calls back synchronously.
  virtual void processPreciseScroll(const std::shared_ptr<appkit::NSEvent>& event);
  // Mouse wheel events; triggers synchronously, ends 1.0 s after the last notch.
  virtual void processMouseWheel(const std::shared_ptr<appkit::NSEvent>& event);

  virtual ~ScrollGestureProcessor() = default;

 protected:
  ScrollGestureProcessor(TriggerCallback onTrigger, EndCallback onEnded)
      : onTriggeringScrollGesture(std::move(onTrigger)), onScrollGestureEnded(std::move(onEnded)) {}

 private:
  enum class Device { precise, wheel };
  // Ends an open gesture of the other device, then keeps this event's gesture
  // open until kQuietTime passes without a scroll event.
  void noteEvent(Device device);
  void endGesture();
  void checkQuiet();

  bool open_ = false;
  Device device_ = Device::precise;
  dispatch::Time quietDeadline_ = 0;  // kQuietTime after the last event
  bool quietCheckPending_ = false;
};

const char* toString(ScrollGestureProcessor::Direction direction);
