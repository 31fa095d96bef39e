#include "platform/accessibility/CFRunLoop.h"

#include <algorithm>

#include "platform/dispatch/Dispatch.h"

namespace ax {

bool CFRunLoopSource::isValid() const {
  std::lock_guard lock(deliveryMutex_);
  return valid_;
}

void CFRunLoopSource::invalidate() {
  std::lock_guard lock(deliveryMutex_);
  valid_ = false;
  schedules_.clear();
}

bool CFRunLoopSource::isScheduledOnMainRunLoop() const {
  std::lock_guard lock(deliveryMutex_);
  if (!valid_) return false;
  return std::any_of(schedules_.begin(), schedules_.end(), [](const Schedule& s) {
    auto loop = s.runLoop.lock();
    return loop && loop->isMain() && (s.mode == kCFRunLoopDefaultMode || s.mode == kCFRunLoopCommonModes);
  });
}

bool CFRunLoopSource::isScheduledOn(const CFRunLoopRef& runLoop, std::string_view mode) const {
  std::lock_guard lock(deliveryMutex_);
  return std::any_of(schedules_.begin(), schedules_.end(),
                     [&](const Schedule& s) { return s.runLoop.lock() == runLoop && s.mode == mode; });
}

void CFRunLoopSource::add(const CFRunLoopRef& runLoop, std::string_view mode) {
  std::lock_guard lock(deliveryMutex_);
  if (!valid_ || !runLoop) return;
  for (const auto& s : schedules_) {
    if (s.runLoop.lock() == runLoop && s.mode == mode) return;
  }
  schedules_.push_back(Schedule{runLoop, std::string(mode)});
}

void CFRunLoopSource::remove(const CFRunLoopRef& runLoop, std::string_view mode) {
  std::lock_guard lock(deliveryMutex_);
  std::erase_if(schedules_, [&](const Schedule& s) { return s.runLoop.lock() == runLoop && s.mode == mode; });
}

CFRunLoopRef CFRunLoopGetMain() {
  static const CFRunLoopRef main = std::make_shared<CFRunLoop>(true);
  return main;
}

CFRunLoopRef CFRunLoopGetCurrent() {
  if (dispatch::isMainThread()) return CFRunLoopGetMain();
  thread_local const CFRunLoopRef own = std::make_shared<CFRunLoop>(false);
  return own;
}

void CFRunLoopAddSource(const CFRunLoopRef& runLoop, const CFRunLoopSourceRef& source, std::string_view mode) {
  if (source) source->add(runLoop, mode);
}

void CFRunLoopRemoveSource(const CFRunLoopRef& runLoop, const CFRunLoopSourceRef& source, std::string_view mode) {
  if (source) source->remove(runLoop, mode);
}

bool CFRunLoopContainsSource(const CFRunLoopRef& runLoop, const CFRunLoopSourceRef& source, std::string_view mode) {
  return source && source->isScheduledOn(runLoop, mode);
}

void CFRunLoopSourceInvalidate(const CFRunLoopSourceRef& source) {
  if (source) source->invalidate();
}

bool CFRunLoopSourceIsValid(const CFRunLoopSourceRef& source) { return source && source->isValid(); }

}  // namespace ax
