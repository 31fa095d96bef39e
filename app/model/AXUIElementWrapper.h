#pragma once
// The Accessibility element types of the model and the single entry to the
// Accessibility queue:
//
// - AXUIElementWrapper: the identity of a window, an application or a Dock
//   item; equal when the elements are equal (CFEqual), hashed by CFHash.
// - AXUIElementController: reads and writes one element's attributes; made
//   for one job on the Accessibility queue and dropped after it.
// - AXUIElementData: a snapshot of one element's attributes.
// - AXUIElementContext: queues work on the Accessibility queue and hit-tests
//   the screen.
//
// Callers on the main thread never touch an element directly: they hand a
// body to the queue and, for a result, suspend until it comes back on the
// main queue. Every read that fails, or answers a value of another type than
// the attribute's, gives an absent value, never a made-up one.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/model/AXUIElementDispatchQueue.h"
#include "platform/accessibility/AXUIElement.h"
#include "platform/concurrency/Task.h"
#include "platform/foundation/Geometry.h"
#include "platform/foundation/URL.h"

class AXUIElementController;
struct AXUIElementData;

class AXUIElementWrapper {
 public:
  explicit AXUIElementWrapper(ax::AXUIElementRef element) : element(std::move(element)) {}

  // The wrapped element; set at creation and never changed.
  ax::AXUIElementRef element;

  // The element's snapshot, read on the Accessibility queue; never fails.
  conc::Task<AXUIElementData> getData() const;

  // Queued on the Accessibility queue without waiting:
  void raise() const;                                 // the action "AXRaise"
  void close() const;                                 // presses the close button, when there is one
  void unminimize() const;                            // minimized := false
  void setSize(std::optional<CGSize> size) const;     // nothing when absent
  void setFrame(std::optional<CGRect> frame) const;   // position, then size; nothing when absent

  // Runs `body` with a controller of the element on the Accessibility queue
  // and resumes the caller on the main queue with its value.
  template <class R>
  conc::Task<R> retrieve(std::function<R(AXUIElementController&)> body) const {
    return retrieveOn<R>(*this, std::move(body));
  }

  // On the Accessibility queue: the element's window ("AXWindow"), or absent.
  std::optional<AXUIElementWrapper> windowElement() const;

  friend bool operator==(const AXUIElementWrapper& a, const AXUIElementWrapper& b) {
    return ax::CFEqual(a.element, b.element);
  }
  std::size_t hash() const { return static_cast<std::size_t>(ax::CFHash(element)); }

 private:
  template <class R>
  static conc::Task<R> retrieveOn(AXUIElementWrapper self, std::function<R(AXUIElementController&)> body);
};

template <>
struct std::hash<AXUIElementWrapper> {
  std::size_t operator()(const AXUIElementWrapper& w) const { return w.hash(); }
};

// The first wrapper of the list equal to the element (a linear search).
bool containsElement(const std::vector<AXUIElementWrapper>& list, const AXUIElementWrapper& element);

struct AXUIElementData {
  AXUIElementWrapper wrapper;
  std::optional<pid_t> pid{};
  std::optional<std::string> title{};
  std::optional<ns::URL> url{};
  std::optional<std::string> subrole{};
  std::optional<std::uint32_t> windowID{};
  std::optional<bool> minimized{};
  std::optional<bool> isMain{};
  std::optional<CGPoint> position{};
  std::optional<CGSize> size{};
  std::optional<CGRect> frame{};  // top-left, absent when position or size is
  std::optional<bool> resizable{};
  std::optional<bool> hidden{};
};

class AXUIElementController {
 public:
  explicit AXUIElementController(ax::AXUIElementRef element) : element_(std::move(element)) {}

  // On the Accessibility queue: wraps the wrapper's element in a new
  // controller and runs the body with it.
  static void withController(const AXUIElementWrapper& element, const std::function<void(AXUIElementController&)>& body);

  const ax::AXUIElementRef& element() const { return element_; }

  // Typed attribute reads: absent on any error, and for a value of another type.
  std::optional<std::string> stringAttribute(std::string_view attribute) const;
  std::optional<ns::URL> urlAttribute(std::string_view attribute) const;
  std::optional<std::string> subroleAttribute(std::string_view attribute) const;
  std::optional<bool> boolAttribute(std::string_view attribute) const;
  std::optional<AXUIElementWrapper> elementAttribute(std::string_view attribute) const;
  std::optional<std::vector<AXUIElementWrapper>> elementsAttribute(std::string_view attribute) const;
  std::optional<CGPoint> pointAttribute(std::string_view attribute) const;
  std::optional<CGSize> sizeAttribute(std::string_view attribute) const;

  std::optional<bool> isAttributeSettable(std::string_view attribute) const;

  // Position and size read together; absent when either is.
  std::optional<CGRect> frame() const;
  // Writes the position, then the size; an absent frame writes nothing.
  // Failures are ignored.
  void setFrame(std::optional<CGRect> frame) const;
  void setSize(std::optional<CGSize> size) const;
  void setMinimized(bool minimized) const;
  void raise() const;
  // Presses the close button, when there is one; reports nothing.
  void pressCloseButton() const;

  // The element's windows attribute, in the application's order; empty when
  // missing or unreadable.
  std::vector<AXUIElementWrapper> windows() const;

  AXUIElementData data() const;

 private:
  std::optional<ns::Value> attribute(std::string_view name) const;
  ax::AXUIElementRef element_;
};

class AXUIElementContext {
 public:
  // Handed to each body run on the queue; makes the controllers it works with.
  class ControllerFactory {
   public:
    AXUIElementController controller(const AXUIElementWrapper& wrapper) const {
      return AXUIElementController(wrapper.element);
    }
    AXUIElementController controller(const ax::AXUIElementRef& element) const { return AXUIElementController(element); }
  };

  static AXUIElementContext& shared();

  // Queues the body on the Accessibility queue behind everything queued
  // before it; returns at once.
  void perform(std::function<void(ControllerFactory&)> body) const;

  // The element at a top-left point, hit-tested on the queue (so after the
  // work queued before it).
  conc::Task<std::optional<AXUIElementWrapper>> find(CGPoint at) const;

  // The synchronous hit test behind find(at:); on the Accessibility queue only.
  std::optional<AXUIElementWrapper> element(CGPoint at) const;

  // From a body on the queue: hands `block` to the main queue once the job's
  // time is up (see AXUIElementDispatchQueue).
  static void returnToMain(std::function<void()> block);

 private:
  AXUIElementContext() = default;
};

// ---------------------------------------------------------------- templates

template <class R>
conc::Task<R> AXUIElementWrapper::retrieveOn(AXUIElementWrapper self, std::function<R(AXUIElementController&)> body) {
  auto awaiter = conc::withCheckedContinuation<R>([self, body](conc::CheckedContinuation<R> continuation) {
    AXUIElementContext::shared().perform([self, body, continuation](AXUIElementContext::ControllerFactory& factory) {
      AXUIElementController controller = factory.controller(self);
      R value = body(controller);
      AXUIElementContext::returnToMain([continuation, value] { continuation.resume(value); });
    });
  });
  co_return co_await awaiter;
}
