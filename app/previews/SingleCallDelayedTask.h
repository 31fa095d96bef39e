#pragma once
// A one-shot delayed action on the main queue whose latest scheduling replaces
// every earlier one. Each scheduling posts one closure and the task keeps no
// timer handle: a posted closure knows whether it is still the current one by
// the scheduling it carries.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

#include "platform/dispatch/Dispatch.h"

namespace detail {
template <class T>
struct DelayedTaskTypes {
  using Argument = T;
  using Block = std::function<void(const T&)>;
};
template <>
struct DelayedTaskTypes<void> {
  using Argument = std::monostate;
  using Block = std::function<void()>;
};
}  // namespace detail

template <class T = void>
class SingleCallDelayedTask {
 public:
  using Argument = typename detail::DelayedTaskTypes<T>::Argument;
  using Block = typename detail::DelayedTaskTypes<T>::Block;

  SingleCallDelayedTask(double defaultDelayInSeconds, Block taskBlock)
      : defaultDelayInSeconds(defaultDelayInSeconds), core_(std::make_shared<Core>(std::move(taskBlock))) {}
  virtual ~SingleCallDelayedTask() = default;
  SingleCallDelayedTask(const SingleCallDelayedTask&) = delete;
  SingleCallDelayedTask& operator=(const SingleCallDelayedTask&) = delete;

  const double defaultDelayInSeconds;

  // The moment of the pending run, absent while idle.
  std::optional<dispatch::Time> deadline() const { return core_->deadline; }

  template <class U = T>
    requires(!std::is_void_v<U>)
  void schedule(U value) {
    arm(Argument(std::move(value)));
  }
  template <class U = T>
    requires std::is_void_v<U>
  void schedule() {
    arm(Argument{});
  }

  virtual void cancel() { core_->deadline.reset(); }
  virtual bool isPending() const { return core_->deadline.has_value(); }

 private:
  struct Core {
    explicit Core(Block b) : taskBlock(std::move(b)) {}
    Block taskBlock;
    std::optional<dispatch::Time> deadline;
    // Identifies the latest scheduling; two schedulings may share a deadline
    // under a clock that stands still.
    std::uint64_t generation = 0;
  };

  void arm(Argument value) {
    const dispatch::Time deadline = dispatch::after(defaultDelayInSeconds);
    core_->deadline = deadline;
    const std::uint64_t generation = ++core_->generation;
    std::weak_ptr<Core> weak = core_;
    dispatch::Queue::main()->asyncAfter(deadline, [weak, generation, value = std::move(value)] {
      auto core = weak.lock();
      if (!core || !core->deadline || core->generation != generation) return;
      // Keep the block alive even if it releases the task.
      auto block = core->taskBlock;
      if constexpr (std::is_void_v<T>) {
        block();
      } else {
        block(value);
      }
      core->deadline.reset();
    });
  }

  std::shared_ptr<Core> core_;
};
