#pragma once
// AppStorage: a view property bound to a key of the user defaults. Every
// read goes to the store (so the view shows values changed by anyone); a
// missing key, or a value of another type, reads as the fallback. A body that
// reads it re-renders when the key changes.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/foundation/UserDefaults.h"
#include "platform/ui/State.h"

namespace ui {

namespace detail {

template <class T>
std::optional<T> decodeDefault(const ns::Value& v) {
  if constexpr (std::is_same_v<T, bool>) {
    if (!v.isNumber()) return std::nullopt;
    return v.asBool();
  } else if constexpr (std::is_enum_v<T>) {
    if (!v.isInteger() && !v.isBool()) return std::nullopt;
    auto raw = v.asInt64();
    if (!raw) return std::nullopt;
    return static_cast<T>(*raw);
  } else if constexpr (std::is_integral_v<T>) {
    if (!v.isNumber()) return std::nullopt;
    auto raw = v.asInt64();
    if (!raw) return std::nullopt;
    return static_cast<T>(*raw);
  } else if constexpr (std::is_floating_point_v<T>) {
    if (!v.isNumber()) return std::nullopt;
    auto raw = v.asDouble();
    if (!raw) return std::nullopt;
    return static_cast<T>(*raw);
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (!v.isString()) return std::nullopt;
    return *v.string();
  } else {
    static_assert(sizeof(T) == 0, "AppStorage supports bool, integers, enums, doubles and strings");
  }
}

template <class T>
ns::Value encodeDefault(const T& value) {
  if constexpr (std::is_same_v<T, bool>) {
    return ns::Value(value);
  } else if constexpr (std::is_enum_v<T>) {
    return ns::Value(static_cast<std::int64_t>(value));
  } else if constexpr (std::is_integral_v<T>) {
    return ns::Value(static_cast<std::int64_t>(value));
  } else if constexpr (std::is_floating_point_v<T>) {
    return ns::Value(static_cast<double>(value));
  } else {
    return ns::Value(value);
  }
}

}  // namespace detail

template <class T>
class AppStorage {
 public:
  // Reads a stored value into T; nothing for values that are not a T (for
  // an enumeration: a raw value outside its cases).
  using Decoder = std::function<std::optional<T>(const ns::Value&)>;

  // `store` none: the standard user defaults at the time of each access.
  AppStorage(std::string key, T fallback, std::shared_ptr<ns::UserDefaults> store = nullptr, Decoder decode = nullptr)
      : key_(std::move(key)), fallback_(std::move(fallback)), store_(std::move(store)), decode_(std::move(decode)) {}

  T get() const {
    auto store = resolvedStore();
    observe(store);
    auto stored = store->object(key_);
    if (!stored) return fallback_;
    auto value = decode_ ? decode_(*stored) : detail::decodeDefault<T>(*stored);
    return value ? *value : fallback_;
  }
  T operator*() const { return get(); }

  void set(const T& value) const { resolvedStore()->setObject(key_, detail::encodeDefault(value)); }

  // The projected value ($property).
  Binding<T> binding() const {
    auto self = *this;
    return Binding<T>([self] { return self.get(); }, [self](T v) { self.set(v); });
  }

  const std::string& key() const { return key_; }
  const T& fallback() const { return fallback_; }

 private:
  std::shared_ptr<ns::UserDefaults> resolvedStore() const { return store_ ? store_ : ns::UserDefaults::standard(); }

  void observe(const std::shared_ptr<ns::UserDefaults>& store) const {
    auto* ctx = detail::currentContext();
    if (!ctx) return;
    std::weak_ptr<ns::UserDefaults> weak = store;
    std::string key = key_;
    ctx->observeOnce("defaults:" + std::to_string(reinterpret_cast<std::uintptr_t>(store.get())) + ":" + key,
                     [weak, key](std::function<void()> invalidate) -> std::shared_ptr<void> {
                       auto s = weak.lock();
                       if (!s) return nullptr;
                       ns::ObservingOptions options;
                       options.initial = false;
                       options.newValue = true;
                       auto token = s->addObserver(
                           key, options, [invalidate](const std::optional<ns::Value>&) { invalidate(); });
                       return std::make_shared<ns::ObserverToken>(std::move(token));
                     });
  }

  std::string key_;
  T fallback_;
  std::shared_ptr<ns::UserDefaults> store_;
  Decoder decode_;
};

}  // namespace ui
