#pragma once
// What every log and model record of the client offers: its JSON object
// (serializeToDictionary), keyed coding, and a validity check. Also the small
// helpers the records share for building JSON and comparing fields.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/Value.h"

// JSON-serialisable and keyed-archivable.
class DVACSerializableObject : public ns::Coding {
 public:
  // The object's JSON object: a dictionary (plain or insertion-ordered) holding
  // a key for every field that is set, or a null value where the record says
  // it serialises to nothing.
  virtual ns::Value serializeToDictionary() const = 0;
};

// A record that can tell whether it may be sent.
class DVACModel {
 public:
  virtual ~DVACModel() = default;
  virtual bool isValid() const = 0;
};

// Logs at verbose level that a required field of a record is missing; the
// line names the record's class and the field.
#define DVACLogInvalidField(className, fieldName) \
  DVACLogVerbose(kDVACLogTag, std::string(className) + ": \"" + (fieldName) + "\" is not valid.")

namespace dvac {

// Adds or replaces a key in a dictionary value of either kind; a null value
// becomes a plain dictionary first.
void setJSONValue(ns::Value& dictionary, std::string key, ns::Value value);

// Sets the key only when the field is present.
inline void setJSONValue(ns::Value& dictionary, std::string key, const std::optional<std::string>& value) {
  if (value) setJSONValue(dictionary, std::move(key), ns::Value(*value));
}

// Both absent, or both present and equal by the objects' own equality.
template <typename T>
bool objectsEqual(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
  if (!a || !b) return !a && !b;
  return a == b || a->isEqual(*b);
}

// Encodes an optional text field; absent fields write nothing.
inline void encodeString(ns::KeyedArchiver& coder, const std::optional<std::string>& value, std::string_view key) {
  if (value) coder.encodeObject(ns::Value(*value), key);
}

// A list of strings as an array value, and back (non-string elements are
// dropped).
ns::Value stringArrayValue(const std::vector<std::string>& strings);
std::optional<std::vector<std::string>> stringArrayFromValue(const std::optional<ns::Value>& value);

}  // namespace dvac
