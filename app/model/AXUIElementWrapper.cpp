#include "app/model/AXUIElementWrapper.h"

#include <algorithm>

namespace {

conc::Task<AXUIElementData> readData(AXUIElementWrapper self) {
  auto awaiter = conc::withCheckedContinuation<AXUIElementData>(
      [self](conc::CheckedContinuation<AXUIElementData> continuation) {
        AXUIElementContext::shared().perform([self, continuation](AXUIElementContext::ControllerFactory& factory) {
          AXUIElementData data = factory.controller(self).data();
          AXUIElementContext::returnToMain([continuation, data] { continuation.resume(data); });
        });
      });
  co_return co_await awaiter;
}

}  // namespace

conc::Task<AXUIElementData> AXUIElementWrapper::getData() const { return readData(*this); }

void AXUIElementWrapper::raise() const {
  AXUIElementContext::shared().perform(
      [self = *this](AXUIElementContext::ControllerFactory& factory) { factory.controller(self).raise(); });
}

void AXUIElementWrapper::close() const {
  AXUIElementContext::shared().perform(
      [self = *this](AXUIElementContext::ControllerFactory& factory) { factory.controller(self).pressCloseButton(); });
}

void AXUIElementWrapper::unminimize() const {
  AXUIElementContext::shared().perform(
      [self = *this](AXUIElementContext::ControllerFactory& factory) { factory.controller(self).setMinimized(false); });
}

void AXUIElementWrapper::setSize(std::optional<CGSize> size) const {
  AXUIElementContext::shared().perform([self = *this, size](AXUIElementContext::ControllerFactory& factory) {
    factory.controller(self).setSize(size);
  });
}

void AXUIElementWrapper::setFrame(std::optional<CGRect> frame) const {
  AXUIElementContext::shared().perform([self = *this, frame](AXUIElementContext::ControllerFactory& factory) {
    factory.controller(self).setFrame(frame);
  });
}

std::optional<AXUIElementWrapper> AXUIElementWrapper::windowElement() const {
  return AXUIElementController(element).elementAttribute(ax::NSAccessibilityWindowAttribute);
}

bool containsElement(const std::vector<AXUIElementWrapper>& list, const AXUIElementWrapper& element) {
  return std::find(list.begin(), list.end(), element) != list.end();
}
