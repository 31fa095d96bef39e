#include <mutex>

#include "app/model/AXUIElementWrapper.h"

namespace {

conc::Task<std::optional<AXUIElementWrapper>> hitTest(CGPoint at) {
  auto awaiter = conc::withCheckedContinuation<std::optional<AXUIElementWrapper>>(
      [at](conc::CheckedContinuation<std::optional<AXUIElementWrapper>> continuation) {
        AXUIElementContext::shared().perform([at, continuation](AXUIElementContext::ControllerFactory&) {
          std::optional<AXUIElementWrapper> found = AXUIElementContext::shared().element(at);
          AXUIElementContext::returnToMain([continuation, found] { continuation.resume(found); });
        });
      });
  co_return co_await awaiter;
}

}  // namespace

AXUIElementContext& AXUIElementContext::shared() {
  static std::once_flag once;
  static AXUIElementContext* instance = nullptr;
  std::call_once(once, [] { instance = new AXUIElementContext(); });
  return *instance;
}

void AXUIElementContext::perform(std::function<void(ControllerFactory&)> body) const {
  AXUIElementDispatchQueue::shared().async([body = std::move(body)] {
    ControllerFactory factory;
    body(factory);
  });
}

conc::Task<std::optional<AXUIElementWrapper>> AXUIElementContext::find(CGPoint at) const { return hitTest(at); }

std::optional<AXUIElementWrapper> AXUIElementContext::element(CGPoint at) const {
  const ax::AXUIElementRef systemWide = ax::AXUIElementCreateSystemWide();
  ax::AXUIElementRef found;
  const ax::AXError error =
      ax::AXUIElementCopyElementAtPosition(systemWide, static_cast<float>(at.x), static_cast<float>(at.y), &found);
  if (error != ax::kAXErrorSuccess || !found) return std::nullopt;
  return AXUIElementWrapper(std::move(found));
}

void AXUIElementContext::returnToMain(std::function<void()> block) {
  AXUIElementDispatchQueue::handBack(
      [block = std::move(block)]() mutable { dispatch::Queue::main()->async(std::move(block)); });
}
