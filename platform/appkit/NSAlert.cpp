#include "platform/appkit/NSAlert.h"

#include <mutex>

#include "platform/dispatch/Dispatch.h"

namespace appkit {
namespace {

struct AlertState {
  std::mutex mutex;
  NSAlert::Responder responder;
  std::vector<std::string> shown;
};

AlertState& state() {
  static AlertState* s = new AlertState();
  return *s;
}

}  // namespace

void NSAlert::setResponder(Responder responder) {
  std::lock_guard lock(state().mutex);
  state().responder = std::move(responder);
}

void NSAlert::resetResponder() { setResponder(nullptr); }

std::vector<std::string> NSAlert::shownMessages() {
  std::lock_guard lock(state().mutex);
  return state().shown;
}

void NSAlert::clearShownMessages() {
  std::lock_guard lock(state().mutex);
  state().shown.clear();
}

std::size_t NSAlert::addButtonWithTitle(std::string title) {
  buttons_.push_back(std::move(title));
  return buttons_.size() - 1;
}

NSModalResponse NSAlert::runModal() {
  if (buttons_.empty()) addButtonWithTitle("OK");
  Responder responder;
  {
    std::lock_guard lock(state().mutex);
    state().shown.push_back(messageText_);
    responder = state().responder;
  }
  // A response naming no button is an alert dismissed without a choice; it
  // is never read as a button, which could act on the user's behalf.
  return responder ? responder(*this) : NSAlertFirstButtonReturn;
}

void NSAlert::beginSheetModalForWindow(const std::shared_ptr<NSWindow>&,
                                       std::function<void(NSModalResponse)> completion) {
  NSModalResponse response = runModal();
  if (completion) {
    dispatch::Queue::main()->async([completion = std::move(completion), response] { completion(response); });
  }
}

}  // namespace appkit
