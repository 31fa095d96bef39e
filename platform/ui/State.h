#pragma once
// Property wrappers of views: State, Binding, ObservedObject,
// EnvironmentObject.
//
// A State member keeps its value in the host's store under the identity of
// the view that holds it (and the member's place inside the view), so the
// value survives every re-render of the same view and starts afresh when the
// view leaves the tree and comes back. It binds to that storage the first
// time the body reads it, or when it is copied during the body (a closure
// capturing `self = *this`); after that every copy shares the storage. Outside
// a host it is a plain local value.

#include <concepts>
#include <functional>
#include <memory>
#include <string>
#include <typeindex>
#include <utility>

#include "platform/concurrency/Publisher.h"
#include "platform/ui/Environment.h"
#include "platform/ui/detail/Context.h"

namespace ui {

template <class T>
class Binding {
 public:
  Binding() : Binding(constant(T{})) {}
  Binding(std::function<T()> get, std::function<void(T)> set)
      : access_(std::make_shared<const Access>(Access{std::move(get), std::move(set)})) {}

  T get() const { return access_->get(); }
  void set(T value) const { access_->set(std::move(value)); }
  T operator*() const { return get(); }

  // A binding that always reads `value` and ignores writes.
  static Binding constant(T value) {
    return Binding([value] { return value; }, [](T) {});
  }

 private:
  // Shared by copies: a binding is copied into every view that passes it on.
  struct Access {
    std::function<T()> get;
    std::function<void(T)> set;
  };
  std::shared_ptr<const Access> access_;
};

template <class T>
class State {
 public:
  State() : initial_{} {}
  State(T initial) : initial_(std::move(initial)) {}  // NOLINT: `State<bool> x = false;`
  State(const State& other) : initial_(other.initial_) {
    other.bind();
    box_ = other.box_;
    local_ = other.local_;
  }
  State& operator=(const State& other) {
    if (this != &other) {
      other.bind();
      initial_ = other.initial_;
      box_ = other.box_;
      local_ = other.local_;
    }
    return *this;
  }

  const T& get() const {
    bind();
    if (box_) return box_->value;
    return local_ ? local_->value : initial_;
  }
  const T& operator*() const { return get(); }
  const T* operator->() const { return &get(); }

  // Stores a new value and re-renders the host (when the value changed).
  void set(T value) const {
    bind();
    auto box = storage();
    if constexpr (std::equality_comparable<T>) {
      if (box->value == value) return;
    }
    box->value = std::move(value);
    box->changed();
  }

  // The projected value ($state).
  Binding<T> binding() const {
    bind();
    auto box = storage();
    return Binding<T>([box] { return box->value; },
                      [box](T v) {
                        if constexpr (std::equality_comparable<T>) {
                          if (box->value == v) return;
                        }
                        box->value = std::move(v);
                        box->changed();
                      });
  }

  bool isBound() const { return box_ != nullptr; }

 private:
  void bind() const {
    if (box_) return;
    auto* ctx = detail::currentContext();
    if (!ctx || !ctx->contains(this)) return;
    auto initial = local_ ? local_->value : initial_;
    auto base = ctx->slot(ctx->offsetOf(this), std::type_index(typeid(T)),
                          [&] { return std::make_shared<detail::StateBox<T>>(initial); });
    box_ = std::static_pointer_cast<detail::StateBox<T>>(base);
  }

  // The host's storage once bound, else a local one made on the first write.
  std::shared_ptr<detail::StateBox<T>> storage() const {
    if (box_) return box_;
    if (!local_) local_ = std::make_shared<detail::StateBox<T>>(initial_);
    return local_;
  }

  T initial_;
  mutable std::shared_ptr<detail::StateBox<T>> box_;
  mutable std::shared_ptr<detail::StateBox<T>> local_;
};

// An observable object owned elsewhere; the view re-renders when its
// objectWillChange fires (once the body has read it).
template <class T>
class ObservedObject {
 public:
  ObservedObject() = default;
  ObservedObject(std::shared_ptr<T> object) : object_(std::move(object)) {}  // NOLINT

  T* get() const {
    observe(object_);
    return object_.get();
  }
  T* operator->() const { return get(); }
  T& operator*() const { return *get(); }
  const std::shared_ptr<T>& pointer() const { return object_; }

 private:
  template <class U>
  friend class EnvironmentObject;
  static void observe(const std::shared_ptr<T>& object) {
    auto* ctx = detail::currentContext();
    if (!ctx || !object) return;
    std::weak_ptr<T> weak = object;
    ctx->observeOnce("object:" + std::to_string(reinterpret_cast<std::uintptr_t>(object.get())),
                     [weak](std::function<void()> invalidate) -> std::shared_ptr<void> {
                       auto o = weak.lock();
                       if (!o) return nullptr;
                       conc::ObservableObject& observable = *o;
                       return std::make_shared<conc::AnyCancellable>(
                           observable.objectWillChange.sink(std::move(invalidate)));
                     });
  }
  std::shared_ptr<T> object_;
};

// An observable object taken from the environment by its type. Reading it
// where no ancestor provided one is a programming error (it yields null).
template <class T>
class EnvironmentObject {
 public:
  EnvironmentObject() = default;
  EnvironmentObject(const EnvironmentObject& other) {
    other.bind();
    object_ = other.object_;
  }
  EnvironmentObject& operator=(const EnvironmentObject& other) {
    other.bind();
    object_ = other.object_;
    return *this;
  }

  T* get() const {
    bind();
    ObservedObject<T>::observe(object_);
    return object_.get();
  }
  T* operator->() const { return get(); }
  std::shared_ptr<T> pointer() const {
    bind();
    return object_;
  }

 private:
  void bind() const {
    if (object_) return;
    auto* ctx = detail::currentContext();
    if (!ctx || !ctx->contains(this)) return;
    object_ = ctx->environment().template object<T>();
  }
  mutable std::shared_ptr<T> object_;
};

// The environment of the body being evaluated (defaults outside a body).
const EnvironmentValues& currentEnvironment();

}  // namespace ui
