#include "platform/appkit/NSAnimationContext.h"

#include <atomic>
#include <memory>
#include <vector>

#include "platform/dispatch/Dispatch.h"

namespace appkit {
namespace {

thread_local std::vector<std::unique_ptr<NSAnimationContext>> tlsGroups;
std::atomic<unsigned long> ended{0};

}  // namespace

void NSAnimationContext::beginGrouping() { tlsGroups.push_back(std::make_unique<NSAnimationContext>()); }

void NSAnimationContext::endGrouping() {
  if (tlsGroups.empty()) return;  // unbalanced: nothing to end
  auto group = std::move(tlsGroups.back());
  tlsGroups.pop_back();
  ++ended;
  if (group->completionHandler_) {
    dispatch::Queue::main()->asyncAfterDelay(group->duration_, std::move(group->completionHandler_));
  }
}

NSAnimationContext& NSAnimationContext::currentContext() {
  if (tlsGroups.empty()) {
    thread_local NSAnimationContext implicitContext;
    return implicitContext;
  }
  return *tlsGroups.back();
}

void NSAnimationContext::runAnimationGroup(const std::function<void(NSAnimationContext&)>& changes,
                                           std::function<void()> completionHandler) {
  beginGrouping();
  auto& ctx = *tlsGroups.back();
  ctx.setCompletionHandler(std::move(completionHandler));
  try {
    if (changes) changes(ctx);
  } catch (...) {
    endGrouping();
    throw;
  }
  endGrouping();
}

unsigned long NSAnimationContext::groupsEnded() { return ended.load(); }

}  // namespace appkit
