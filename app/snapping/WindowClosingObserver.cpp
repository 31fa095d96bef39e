#include "app/snapping/WindowClosingObserver.h"

#include <algorithm>

WindowClosingObserver::WindowClosingObserver(Handler onClose) : onClose_(std::move(onClose)) {}

WindowClosingObserver::~WindowClosingObserver() {
  for (auto& [pid, process] : processes_) stop(process);
}

bool WindowClosingObserver::watch(const AXUIElementWrapper& window) {
  pid_t pid = 0;
  if (!window.element || ax::AXUIElementGetPid(window.element, &pid) != ax::kAXErrorSuccess) return true;
  auto it = processes_.find(pid);
  if (it != processes_.end() && std::find(it->second.windows.begin(), it->second.windows.end(), window) !=
                                    it->second.windows.end()) {
    return true;
  }
  if (it == processes_.end()) {
    ax::AXObserverRef observer;
    if (ax::AXObserverCreate(pid, &WindowClosingObserver::observerCallback, &observer) != ax::kAXErrorSuccess) {
      return true;
    }
    ax::CFRunLoopAddSource(ax::CFRunLoopGetMain(), ax::AXObserverGetRunLoopSource(observer), ax::kCFRunLoopDefaultMode);
    it = processes_.emplace(pid, Process{std::move(observer), {}}).first;
  }
  const ax::AXError error =
      ax::AXObserverAddNotification(it->second.observer, window.element, ax::kAXUIElementDestroyedNotification, this);
  if (error == ax::kAXErrorSuccess) it->second.windows.push_back(window);
  if (it->second.windows.empty()) {
    stop(it->second);
    processes_.erase(it);
  }
  return error != ax::kAXErrorInvalidUIElement;
}

void WindowClosingObserver::unwatch(const AXUIElementWrapper& window) { forget(window); }

bool WindowClosingObserver::forget(const AXUIElementWrapper& window) {
  pid_t pid = 0;
  if (!window.element || ax::AXUIElementGetPid(window.element, &pid) != ax::kAXErrorSuccess) return false;
  auto it = processes_.find(pid);
  if (it == processes_.end()) return false;
  auto& windows = it->second.windows;
  const auto found = std::find(windows.begin(), windows.end(), window);
  if (found == windows.end()) return false;
  ax::AXObserverRemoveNotification(it->second.observer, found->element, ax::kAXUIElementDestroyedNotification);
  windows.erase(found);
  if (windows.empty()) {
    stop(it->second);
    processes_.erase(it);
  }
  return true;
}

void WindowClosingObserver::observerCallback(ax::AXObserverRef, ax::AXUIElementRef element,
                                             const std::string& notification, void* refcon) {
  if (!refcon || notification != ax::kAXUIElementDestroyedNotification) return;
  auto* self = static_cast<WindowClosingObserver*>(refcon);
  const AXUIElementWrapper window(std::move(element));
  if (self->forget(window) && self->onClose_) self->onClose_(window);
}

void WindowClosingObserver::stop(Process& process) {
  if (!process.observer) return;
  for (const auto& window : process.windows) {
    ax::AXObserverRemoveNotification(process.observer, window.element, ax::kAXUIElementDestroyedNotification);
  }
  auto source = ax::AXObserverGetRunLoopSource(process.observer);
  ax::CFRunLoopRemoveSource(ax::CFRunLoopGetMain(), source, ax::kCFRunLoopDefaultMode);
  ax::CFRunLoopSourceInvalidate(source);
  process.observer.reset();
}
