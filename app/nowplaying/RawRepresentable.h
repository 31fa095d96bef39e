#pragma once
// Enumerations with raw values (four-character codes, class names): the
// conversion both ways, driven by one table per enumeration. Construction
// from a raw value accepts exactly the table's values.

#include <optional>
#include <utility>

// Specialised per enumeration with `static constexpr std::array table` of
// (case, raw value) pairs.
template <class E>
struct RawValues;

template <class E>
constexpr auto rawValue(E value) {
  for (const auto& [c, raw] : RawValues<E>::table) {
    if (c == value) return raw;
  }
  return decltype(RawValues<E>::table[0].second){};
}

template <class E, class Raw>
constexpr std::optional<E> fromRawValue(const Raw& raw) {
  for (const auto& [c, r] : RawValues<E>::table) {
    if (r == raw) return c;
  }
  return std::nullopt;
}
