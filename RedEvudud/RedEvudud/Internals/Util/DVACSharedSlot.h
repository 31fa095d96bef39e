#pragma once

#include <memory>
#include <mutex>

// The slot holding the process-wide instance of T, and the mutex that guards
// it. The slot is never destroyed, so code that runs late at exit (atexit
// handlers, detached queues) never finds a destroyed instance.
template <class T>
struct DVACSharedSlot {
  static std::mutex& mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::shared_ptr<T>& instance() {
    static auto* slot = new std::shared_ptr<T>();
    return *slot;
  }
};
