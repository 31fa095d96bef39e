#pragma once
// Helpers for the model's tests: run a coroutine on the main actor and keep
// its result.

#include <functional>
#include <memory>
#include <optional>

#include "platform/concurrency/Task.h"
#include "platform/dispatch/Dispatch.h"

namespace modeltest {

// Starts make() on the main actor; the result appears once the scheduler ran it.
template <class T>
std::shared_ptr<std::optional<T>> start(std::function<conc::Task<T>()> make) {
  auto result = std::make_shared<std::optional<T>>();
  conc::spawnOnMain([make, result]() -> conc::Task<void> {
    auto task = make();
    auto value = co_await std::move(task);
    result->emplace(std::move(value));
  });
  return result;
}

inline void drain() { dispatch::Scheduler::shared().runUntilIdle(); }

}  // namespace modeltest
