#pragma once
// Observable boxes through which window-side code hands a changing value to a
// view: every assignment, even of an equal value, announces a change first.

#include <optional>
#include <utility>

#include "platform/concurrency/Publisher.h"

template <class T>
class ObservableValue : public conc::ObservableObject {
 public:
  explicit ObservableValue(T value) : value(this, std::move(value)) {}

  conc::Published<T> value;

  friend bool operator==(const ObservableValue& a, const ObservableValue& b)
    requires std::equality_comparable<T>
  {
    return *a.value == *b.value;
  }
};

template <class T>
class NullableObservableValue : public conc::ObservableObject {
 public:
  NullableObservableValue() : value(this, std::nullopt) {}
  explicit NullableObservableValue(T v) : value(this, std::optional<T>(std::move(v))) {}

  conc::Published<std::optional<T>> value;

  friend bool operator==(const NullableObservableValue& a, const NullableObservableValue& b)
    requires std::equality_comparable<T>
  {
    return *a.value == *b.value;
  }
};
