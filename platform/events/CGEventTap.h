#pragma once
// Quartz event taps over the simulated desktop.
//
// A tap is a mach port. Its events reach the callback only through the
// port's run-loop source: once the source is added to the main run loop (in
// the default or the common modes), each event of the tap's mask is posted to
// the main queue and handed to the callback there, with the user info given
// at creation. Events that arrive while the source is not scheduled, or the
// tap is disabled, are lost. Invalidating the port invalidates its source;
// once CFMachPortInvalidate returns no callback of the tap runs or will run,
// so events posted before it are discarded.
//
// A session tap (CGEventTapCreate) sees every event of the login session; a
// tap on one process (CGEventTapCreateForPid) only the events the window
// server sends to that process: those over its windows (or, for the Dock,
// over its items and strip), and drags and releases of a press it got.
//
// Every tap here listens only: the event a callback returns is not used, and
// every other receiver gets the event unchanged. Creating a tap needs the
// Accessibility permission, as it does for a listen-only tap of mouse events.

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <optional>

#include "platform/accessibility/CFRunLoop.h"
#include "platform/events/CGEvent.h"
#include "platform/foundation/ObserverToken.h"

namespace cgevent {

enum CGEventTapLocation : std::uint32_t {
  kCGHIDEventTap = 0,
  kCGSessionEventTap = 1,
  kCGAnnotatedSessionEventTap = 2,
};

enum CGEventTapPlacement : std::uint32_t { kCGHeadInsertEventTap = 0, kCGTailAppendEventTap = 1 };

enum CGEventTapOptions : std::uint32_t { kCGEventTapOptionDefault = 0, kCGEventTapOptionListenOnly = 1 };

class CFMachPort;
using CGEventTapProxy = CFMachPort*;
using CGEventTapCallBack = CGEventRef (*)(CGEventTapProxy proxy, CGEventType type, CGEventRef event, void* userInfo);

using CFAllocatorRef = const void*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;
using CFIndex = long;

class CFMachPort : public std::enable_shared_from_this<CFMachPort> {
 public:
  struct TapDescription {
    std::optional<pid_t> pid{};  // none: the session
    CGEventTapLocation location = kCGSessionEventTap;
    CGEventTapPlacement placement = kCGTailAppendEventTap;
    CGEventTapOptions options = kCGEventTapOptionListenOnly;
    CGEventMask mask = 0;
    CGEventTapCallBack callback = nullptr;
    void* userInfo = nullptr;
  };

  explicit CFMachPort(TapDescription tap);
  ~CFMachPort();
  CFMachPort(const CFMachPort&) = delete;
  CFMachPort& operator=(const CFMachPort&) = delete;

  bool isValid() const;
  void invalidate();
  const TapDescription& tap() const { return tap_; }
  bool isEnabled() const;
  void setEnabled(bool enabled);

  // The port's one run-loop source, made on first request.
  ax::CFRunLoopSourceRef runLoopSource();

  // Called on the main queue for each event of the tap.
  void deliver(CGEventType type, const CGEventRef& event);

  // Starts listening to the desktop's input (done by the tap creators).
  void startListening();

 private:
  TapDescription tap_;
  mutable std::recursive_mutex mutex_;
  bool valid_ = true;
  bool enabled_ = true;
  ax::CFRunLoopSourceRef source_;
  ns::ObserverToken sink_;
};
using CFMachPortRef = std::shared_ptr<CFMachPort>;

// A tap on the login session (or the HID level; both see the same here).
// Nothing when the Accessibility permission is missing or the callback is null.
CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place, CGEventTapOptions options,
                               CGEventMask eventsOfInterest, CGEventTapCallBack callback, void* userInfo);
// A tap on the events the window server sends to one process. Nothing for a
// process id that is not positive, and as above.
CFMachPortRef CGEventTapCreateForPid(pid_t pid, CGEventTapPlacement place, CGEventTapOptions options,
                                     CGEventMask eventsOfInterest, CGEventTapCallBack callback, void* userInfo);

void CGEventTapEnable(const CFMachPortRef& tap, bool enable);
bool CGEventTapIsEnabled(const CFMachPortRef& tap);

ax::CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef allocator, const CFMachPortRef& port,
                                                     CFIndex order);
void CFMachPortInvalidate(const CFMachPortRef& port);
bool CFMachPortIsValid(const CFMachPortRef& port);

namespace testing {
// Every tap creation fails while set.
void setTapCreationFails(bool fails);
// Disables the tap as the window server does when a callback took too long,
// and sends the callback kCGEventTapDisabledByTimeout.
void disableTapByTimeout(const CFMachPortRef& tap);
// Taps alive now (valid ports); for tests.
std::size_t liveTapCount();
}  // namespace testing

}  // namespace cgevent
