#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

namespace dvac {

void setJSONValue(ns::Value& dictionary, std::string key, ns::Value value) {
  if (auto* ordered = dictionary.orderedDictionary()) {
    ordered->set(std::move(key), std::move(value));
    return;
  }
  if (!dictionary.isDictionary()) dictionary = ns::Value(ns::Dictionary{});
  (*dictionary.dictionary())[std::move(key)] = std::move(value);
}

ns::Value stringArrayValue(const std::vector<std::string>& strings) {
  ns::Array array;
  array.reserve(strings.size());
  for (const auto& string : strings) array.emplace_back(string);
  return ns::Value(std::move(array));
}

std::optional<std::vector<std::string>> stringArrayFromValue(const std::optional<ns::Value>& value) {
  if (!value || !value->isArray()) return std::nullopt;
  std::vector<std::string> strings;
  for (const auto& element : *value->array()) {
    if (const auto* string = element.string()) strings.push_back(*string);
  }
  return strings;
}

}  // namespace dvac
