#pragma once
// A small publish/subscribe kit in the manner of Combine: subjects, published
// properties, observable objects and cancellables that end a subscription
// when they go away.

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace conc {

// Ends its subscription when cancelled or destroyed.
class AnyCancellable {
 public:
  AnyCancellable() = default;
  explicit AnyCancellable(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  AnyCancellable(AnyCancellable&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  AnyCancellable& operator=(AnyCancellable&& other) noexcept {
    if (this != &other) {
      cancel();
      cancel_ = std::exchange(other.cancel_, nullptr);
    }
    return *this;
  }
  AnyCancellable(const AnyCancellable&) = delete;
  AnyCancellable& operator=(const AnyCancellable&) = delete;
  ~AnyCancellable() { cancel(); }

  void cancel() {
    if (auto c = std::exchange(cancel_, nullptr)) c();
  }
  void store(std::vector<AnyCancellable>& set) && { set.push_back(std::move(*this)); }

 private:
  std::function<void()> cancel_;
};

namespace detail {

// Subscribers in subscription order. Sending copies the list first, so a
// subscriber may subscribe or cancel (itself or others) while being called;
// one cancelled during a send is not called afterwards.
template <class Fn>
class SubscriberList {
 public:
  struct Subscriber {
    Fn fn;
    bool active = true;
  };

  AnyCancellable add(Fn fn) {
    auto sub = std::make_shared<Subscriber>(Subscriber{std::move(fn)});
    {
      std::lock_guard lock(core_->mutex);
      core_->subscribers.push_back(sub);
    }
    std::weak_ptr<Core> weakCore = core_;
    std::weak_ptr<Subscriber> weakSub = sub;
    return AnyCancellable([weakCore, weakSub] {
      auto core = weakCore.lock();
      auto s = weakSub.lock();
      if (!core || !s) return;
      std::lock_guard lock(core->mutex);
      s->active = false;
      std::erase(core->subscribers, s);
    });
  }

  template <class... Args>
  void send(const Args&... args) {
    std::vector<std::shared_ptr<Subscriber>> copy;
    {
      std::lock_guard lock(core_->mutex);
      copy = core_->subscribers;
    }
    for (auto& s : copy) {
      bool active;
      {
        std::lock_guard lock(core_->mutex);
        active = s->active;
      }
      if (active) s->fn(args...);
    }
  }

  std::size_t count() const {
    std::lock_guard lock(core_->mutex);
    return core_->subscribers.size();
  }

 private:
  struct Core {
    std::mutex mutex;
    std::vector<std::shared_ptr<Subscriber>> subscribers;
  };
  std::shared_ptr<Core> core_ = std::make_shared<Core>();
};

}  // namespace detail

template <class T>
class PassthroughSubject {
 public:
  using Output = T;
  AnyCancellable sink(std::function<void(const T&)> receive) { return subscribers_.add(std::move(receive)); }
  void send(const T& value) { subscribers_.send(value); }
  std::size_t subscriberCount() const { return subscribers_.count(); }

 private:
  detail::SubscriberList<std::function<void(const T&)>> subscribers_;
};

template <>
class PassthroughSubject<void> {
 public:
  using Output = void;
  AnyCancellable sink(std::function<void()> receive) { return subscribers_.add(std::move(receive)); }
  void send() { subscribers_.send(); }
  std::size_t subscriberCount() const { return subscribers_.count(); }

 private:
  detail::SubscriberList<std::function<void()>> subscribers_;
};

// ObservableObject: announces every change before it happens.
class ObservableObject {
 public:
  virtual ~ObservableObject() = default;
  PassthroughSubject<void> objectWillChange;
};

// A published property. Like @Published: a store announces the owner's
// objectWillChange, then hands the new value to subscribers, then stores it
// (subscribers that read the property see the old value). Subscribing sends
// the current value first.
template <class T>
class Published {
 public:
  explicit Published(ObservableObject* owner = nullptr, T initial = T{}) : owner_(owner), value_(std::move(initial)) {}

  const T& get() const { return value_; }
  const T& operator*() const { return value_; }
  const T* operator->() const { return &value_; }

  void set(T value) {
    if (owner_) owner_->objectWillChange.send();
    subject_.send(value);
    value_ = std::move(value);
  }
  Published& operator=(T value) {
    set(std::move(value));
    return *this;
  }
  // In-place change, announced like a store.
  template <class F>
  void modify(F&& change) {
    T copy = value_;
    change(copy);
    set(std::move(copy));
  }

  // The projected publisher ($property).
  AnyCancellable sink(std::function<void(const T&)> receive) {
    receive(value_);
    return subject_.sink(std::move(receive));
  }
  PassthroughSubject<T>& willSetPublisher() { return subject_; }

 private:
  ObservableObject* owner_;
  T value_;
  PassthroughSubject<T> subject_;
};

}  // namespace conc
