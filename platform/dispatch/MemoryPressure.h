#pragma once
// A memory-pressure dispatch source (DISPATCH_SOURCE_TYPE_MEMORYPRESSURE):
// once resumed, its handler runs on its queue for every memory-pressure event
// whose level is in its mask, until it is cancelled. data() is the level of
// the latest event.
//
// This system has no memory-pressure notifications of its own to listen to;
// events come from notifyMemoryPressure(), called by whatever watches memory
// (and by tests).

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dispatch/Dispatch.h"

namespace dispatch {

inline constexpr unsigned long DISPATCH_MEMORYPRESSURE_NORMAL = 0x01;
inline constexpr unsigned long DISPATCH_MEMORYPRESSURE_WARN = 0x02;
inline constexpr unsigned long DISPATCH_MEMORYPRESSURE_CRITICAL = 0x04;

class MemoryPressureSource : public std::enable_shared_from_this<MemoryPressureSource> {
 public:
  static std::shared_ptr<MemoryPressureSource> make(unsigned long mask, std::shared_ptr<Queue> queue) {
    auto source = std::shared_ptr<MemoryPressureSource>(new MemoryPressureSource(mask, std::move(queue)));
    auto& all = registry();
    std::lock_guard lock(all.mutex);
    std::erase_if(all.sources, [](const auto& weak) { return weak.expired(); });
    all.sources.push_back(source);
    return source;
  }

  void setEventHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
  }
  void resume() {
    std::lock_guard lock(mutex_);
    resumed_ = true;
  }
  void cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    handler_ = nullptr;
  }
  bool isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
  }
  unsigned long mask() const { return mask_; }
  unsigned long data() const {
    std::lock_guard lock(mutex_);
    return data_;
  }

  // Delivers one event of that level to every live source that wants it.
  static void notifyMemoryPressure(unsigned long level) {
    std::vector<std::shared_ptr<MemoryPressureSource>> targets;
    {
      auto& all = registry();
      std::lock_guard lock(all.mutex);
      for (const auto& weak : all.sources) {
        if (auto source = weak.lock()) targets.push_back(std::move(source));
      }
    }
    for (const auto& source : targets) source->deliver(level);
  }

 private:
  struct Registry {
    std::mutex mutex;
    std::vector<std::weak_ptr<MemoryPressureSource>> sources;
  };
  static Registry& registry() {
    static auto* shared = new Registry();
    return *shared;
  }

  MemoryPressureSource(unsigned long mask, std::shared_ptr<Queue> queue) : mask_(mask), queue_(std::move(queue)) {}

  void deliver(unsigned long level) {
    {
      std::lock_guard lock(mutex_);
      if (!resumed_ || cancelled_ || (mask_ & level) == 0 || !handler_) return;
      data_ = level;
    }
    std::weak_ptr<MemoryPressureSource> weak = shared_from_this();
    queue_->async([weak] {
      auto source = weak.lock();
      if (!source) return;
      std::function<void()> handler;
      {
        std::lock_guard lock(source->mutex_);
        if (source->cancelled_) return;
        handler = source->handler_;
      }
      if (handler) handler();
    });
  }

  const unsigned long mask_;
  const std::shared_ptr<Queue> queue_;
  mutable std::mutex mutex_;
  std::function<void()> handler_;
  unsigned long data_ = 0;
  bool resumed_ = false;
  bool cancelled_ = false;
};

}  // namespace dispatch
