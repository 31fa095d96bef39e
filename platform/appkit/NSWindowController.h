#pragma once
// NSWindowController: owns a window for as long as the controller lives.

#include <memory>

#include "platform/appkit/NSWindow.h"

namespace appkit {

class NSWindowController : public NSResponder, public std::enable_shared_from_this<NSWindowController> {
 public:
  explicit NSWindowController(std::shared_ptr<NSWindow> window) : window_(std::move(window)) {}
  ~NSWindowController() override = default;

  std::shared_ptr<NSWindow> window() const { return window_; }
  void setWindow(std::shared_ptr<NSWindow> window) { window_ = std::move(window); }
  // Orders the window front and makes it key.
  void showWindow() {
    if (window_) window_->makeKeyAndOrderFront();
  }
  void close() {
    if (window_) window_->close();
  }

 private:
  std::shared_ptr<NSWindow> window_;
};

}  // namespace appkit
