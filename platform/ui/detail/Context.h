#pragma once
// The link between property wrappers (State, ObservedObject, AppStorage...)
// and the host evaluating a view's body. Internal to the toolkit.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <typeindex>

namespace ui {
struct EnvironmentValues;
}

namespace ui::detail {

// Implemented by the host: marks its tree for a new render.
class Invalidator {
 public:
  virtual ~Invalidator() = default;
  virtual void setNeedsUpdate() = 0;
  // The view of that identity must evaluate its body again.
  virtual void viewChanged(const std::string& identity) {
    (void)identity;
    setNeedsUpdate();
  }
};

// What a view's state, observations and timer share: a change marks the view
// stale, and the next render evaluates its body again (the views around it
// keep theirs).
struct ViewStamp {
  std::string identity;
  bool stale = false;
};

struct StateBoxBase {
  virtual ~StateBoxBase() = default;
  std::weak_ptr<Invalidator> owner;
  std::shared_ptr<ViewStamp> view;  // the view that holds the state
  void changed() {
    if (view) view->stale = true;
    if (auto o = owner.lock()) {
      if (view) {
        o->viewChanged(view->identity);
      } else {
        o->setNeedsUpdate();
      }
    }
  }
};

template <class T>
struct StateBox : StateBoxBase {
  explicit StateBox(T v) : value(std::move(v)) {}
  T value;
};

// The body being evaluated: its stored view (so a property can tell its
// offset inside it), its state slots and its environment.
class RenderContext {
 public:
  virtual ~RenderContext() = default;

  bool contains(const void* p) const {
    auto* b = static_cast<const char*>(viewBegin);
    auto* q = static_cast<const char*>(p);
    return b && q >= b && q < b + viewSize;
  }
  std::size_t offsetOf(const void* p) const {
    return static_cast<std::size_t>(static_cast<const char*>(p) - static_cast<const char*>(viewBegin));
  }

  // The state slot at `offset` of the current view, made by `make` the first time.
  virtual std::shared_ptr<StateBoxBase> slot(std::size_t offset, std::type_index type,
                                             const std::function<std::shared_ptr<StateBoxBase>()>& make) = 0;
  // Subscribes once per key for the life of the view's identity; `subscribe`
  // gets the callback that re-renders and returns what keeps the subscription.
  virtual void observeOnce(const std::string& key,
                           const std::function<std::shared_ptr<void>(std::function<void()>)>& subscribe) = 0;
  virtual const EnvironmentValues& environment() const = 0;

  const void* viewBegin = nullptr;
  std::size_t viewSize = 0;
};

RenderContext* currentContext();

// Installs a context for the duration of a body evaluation.
class ContextScope {
 public:
  explicit ContextScope(RenderContext* ctx);
  ~ContextScope();
  ContextScope(const ContextScope&) = delete;
  ContextScope& operator=(const ContextScope&) = delete;

 private:
  RenderContext* previous_;
};

}  // namespace ui::detail
