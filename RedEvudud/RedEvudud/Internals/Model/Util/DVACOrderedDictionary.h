#pragma once
// A mutable dictionary that enumerates its keys in first-insertion order, so
// JSON written from it keeps that order. Single entries cannot be removed.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

class DVACOrderedDictionary {
 public:
  DVACOrderedDictionary() = default;
  explicit DVACOrderedDictionary(std::size_t capacity);

  // A new key goes to the end; an existing key keeps its place.
  void setObject(ns::Value value, std::string key);
  // Nullptr when absent.
  const ns::Value* objectForKey(std::string_view key) const;
  std::size_t count() const { return dictionary_.size(); }
  // Keys in first-insertion order.
  std::vector<std::string> keyEnumerator() const { return dictionary_.keys(); }
  void removeAllObjects() { dictionary_.clear(); }
  DVACOrderedDictionary mutableCopy() const { return *this; }

  // Only another ordered dictionary with the same entries in the same order.
  bool isEqualToDictionary(const DVACOrderedDictionary& other) const;
  bool isEqualToDictionary(const ns::Value& other) const;

  const ns::OrderedDictionary& dictionary() const { return dictionary_; }
  // The entries as a value, for JSON writing and nesting.
  ns::Value toValue() const { return ns::Value(dictionary_); }

 private:
  ns::OrderedDictionary dictionary_;
};
