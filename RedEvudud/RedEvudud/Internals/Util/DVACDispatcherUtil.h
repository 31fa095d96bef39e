#pragma once
// Running blocks on the main thread, or on a queue with a bounded wait.

#include <functional>
#include <memory>

#include "platform/dispatch/Dispatch.h"

class DVACDispatcherUtil {
 public:
  DVACDispatcherUtil() = delete;

  // Runs the block on a later turn of the main queue, even when called from
  // the main thread; does not wait for it.
  static void performBlockOnMainThread(std::function<void()> block);
  static void runBlock(const std::function<void()>& block);
  // Submits the block to the queue and waits until it has run or the timeout
  // has passed, whichever comes first; a block still pending then runs later.
  // Returns whether it ran in time.
  static bool dispatchSyncWithTimeout(double timeoutSeconds, const std::shared_ptr<dispatch::Queue>& queue,
                                      std::function<void()> block);
};
