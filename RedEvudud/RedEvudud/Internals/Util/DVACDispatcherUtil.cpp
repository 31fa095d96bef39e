#include "RedEvudud/RedEvudud/Internals/Util/DVACDispatcherUtil.h"

void DVACDispatcherUtil::performBlockOnMainThread(std::function<void()> block) {
  if (!block) return;
  dispatch::Queue::main()->async([block = std::move(block)] { runBlock(block); });
}

void DVACDispatcherUtil::runBlock(const std::function<void()>& block) {
  if (block) block();
}

bool DVACDispatcherUtil::dispatchSyncWithTimeout(double timeoutSeconds, const std::shared_ptr<dispatch::Queue>& queue,
                                                 std::function<void()> block) {
  if (!queue) return false;
  // Shared with the block, which may outlive this wait.
  auto semaphore = std::make_shared<dispatch::Semaphore>(0);
  queue->async([semaphore, block = std::move(block)] {
    if (block) block();
    semaphore->signal();
  });
  return semaphore->wait(timeoutSeconds < 0 ? 0 : timeoutSeconds);
}
