#pragma once
// One frame of a stack: an instruction address with the symbol text the
// crash log formatter made for it, or the parts of a call-stack symbol line.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACStackFrame : public DVACSerializableObject {
 public:
  std::optional<std::string> address;
  std::optional<std::string> code;
  std::optional<std::string> className_;
  std::optional<std::string> methodName;
  std::optional<int64_t> lineNumber;
  std::optional<std::string> fileName;

  // "address", "code", "className", "methodName", "lineNumber", "fileName"
  // for the fields that are set.
  ns::Value serializeToDictionary() const override;
  bool isEqual(const ns::Object& other) const override;
  std::string description() const override;

  static std::shared_ptr<DVACStackFrame> initWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACStackFrame"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACStackFrame", "NSObject"}; }
};

using DVACStackFrames = std::vector<std::shared_ptr<DVACStackFrame>>;

namespace dvac {

// Element-wise equality of two optional arrays of records.
template <typename T>
bool objectArraysEqual(const std::optional<std::vector<std::shared_ptr<T>>>& a,
                       const std::optional<std::vector<std::shared_ptr<T>>>& b) {
  if (!a || !b) return !a && !b;
  if (a->size() != b->size()) return false;
  for (size_t i = 0; i < a->size(); ++i) {
    if (!objectsEqual((*a)[i], (*b)[i])) return false;
  }
  return true;
}

// The records' dictionaries, in order.
template <typename T>
ns::Value serializedArray(const std::vector<std::shared_ptr<T>>& records) {
  ns::Array array;
  array.reserve(records.size());
  for (const auto& record : records) {
    if (record) array.push_back(record->serializeToDictionary());
  }
  return ns::Value(std::move(array));
}

// The records themselves as an array value, for keyed coding.
template <typename T>
ns::Value objectArray(const std::vector<std::shared_ptr<T>>& records) {
  ns::Array array;
  array.reserve(records.size());
  for (const auto& record : records) array.push_back(ns::Value(record));
  return ns::Value(std::move(array));
}

// An archived array of records; nil when absent. An element of another
// class fails the whole decoding.
template <typename T>
std::optional<std::vector<std::shared_ptr<T>>> decodeObjectArray(ns::KeyedUnarchiver& coder, std::string_view key) {
  auto array = coder.decodeArray(key);
  if (!array) return std::nullopt;
  std::vector<std::shared_ptr<T>> records;
  records.reserve(array->size());
  for (const auto& element : *array) {
    auto record = element.objectAs<T>();
    if (!record) {
      coder.failWithDescription("an element of \"" + std::string(key) + "\" is not of the expected class");
      return std::nullopt;
    }
    records.push_back(std::move(record));
  }
  return records;
}

// A number field, read back whatever number kind it was stored as.
std::optional<int64_t> decodeSignedNumber(ns::KeyedUnarchiver& coder, std::string_view key);
std::optional<uint64_t> decodeUnsignedNumber(ns::KeyedUnarchiver& coder, std::string_view key);

}  // namespace dvac
