#pragma once
// Run loops and run-loop sources, as far as observers and taps need them.
//
// The main run loop is the main dispatch queue: a source added to it in the
// default or the common modes has its events delivered by blocks on the main
// queue. Every other thread's run loop never runs, so a source added there
// delivers nothing. A source delivers nothing once it is invalidated or
// removed; delivery and removal exclude each other, so once removal returns
// no callback of that source is running or will run.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ax {

inline constexpr const char* kCFRunLoopDefaultMode = "kCFRunLoopDefaultMode";
inline constexpr const char* kCFRunLoopCommonModes = "kCFRunLoopCommonModes";

class CFRunLoop {
 public:
  explicit CFRunLoop(bool isMain) : isMain_(isMain) {}
  bool isMain() const { return isMain_; }

 private:
  const bool isMain_;
};
using CFRunLoopRef = std::shared_ptr<CFRunLoop>;

class CFRunLoopSource {
 public:
  bool isValid() const;
  void invalidate();
  bool isScheduledOnMainRunLoop() const;
  bool isScheduledOn(const CFRunLoopRef& runLoop, std::string_view mode) const;

  void add(const CFRunLoopRef& runLoop, std::string_view mode);
  void remove(const CFRunLoopRef& runLoop, std::string_view mode);

  // Held while a callback of the source runs; removal and invalidation take
  // it too, so they wait for a running callback (on another thread) to end.
  std::recursive_mutex& deliveryMutex() const { return deliveryMutex_; }

 private:
  struct Schedule {
    std::weak_ptr<CFRunLoop> runLoop;
    std::string mode;
  };
  mutable std::recursive_mutex deliveryMutex_;
  bool valid_ = true;
  std::vector<Schedule> schedules_;
};
using CFRunLoopSourceRef = std::shared_ptr<CFRunLoopSource>;

CFRunLoopRef CFRunLoopGetMain();
// The main run loop on the main thread, else the calling thread's own.
CFRunLoopRef CFRunLoopGetCurrent();
void CFRunLoopAddSource(const CFRunLoopRef& runLoop, const CFRunLoopSourceRef& source, std::string_view mode);
void CFRunLoopRemoveSource(const CFRunLoopRef& runLoop, const CFRunLoopSourceRef& source, std::string_view mode);
bool CFRunLoopContainsSource(const CFRunLoopRef& runLoop, const CFRunLoopSourceRef& source, std::string_view mode);
void CFRunLoopSourceInvalidate(const CFRunLoopSourceRef& source);
bool CFRunLoopSourceIsValid(const CFRunLoopSourceRef& source);

}  // namespace ax
