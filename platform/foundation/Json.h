#pragma once
// NSJSONSerialization stand-in over nlohmann-json.
//
// Writing: dictionaries come out in key order, ordered dictionaries in their
// insertion order; "/" is never escaped as "\/"; non-ASCII text is written as
// UTF-8 (ill-formed bytes become U+FFFD). Integers keep their kind and doubles
// are written in their shortest exact form ("1.0" for one, so they read back
// as doubles); bools stay true/false. Data, dates, UUIDs, objects, NaN and
// infinities are not JSON and give an error.
//
// Reading: objects become dictionaries (or ordered dictionaries on request),
// integers Int (UInt above INT64_MAX), other numbers Double, null Value::null().
// Nesting is limited to 512 levels. Errors are NSCocoaErrorDomain 3840.

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace ns::json {

struct WriteOptions {
    bool prettyPrinted = false;  // two-space indent, one member per line
};

struct ReadOptions {
    bool keepObjectOrder = false;  // objects as OrderedDictionary
};

inline constexpr size_t kMaxNestingDepth = 512;

// Any value may be the top level (fragments allowed).
std::optional<std::string> write(const Value& value, WriteOptions options = {}, Error* error = nullptr);
std::optional<Value> parse(std::string_view text, ReadOptions options = {}, Error* error = nullptr);
inline std::optional<Value> parse(std::string_view text, Error* error) { return parse(text, ReadOptions{}, error); }

// True when the top level is an array or dictionary and write() would succeed.
bool isValidJSONObject(const Value& value);

// Conversions for code that works with nlohmann directly.
std::optional<nlohmann::ordered_json> toJson(const Value& value, Error* error = nullptr);
std::optional<Value> fromJson(const nlohmann::ordered_json& json, ReadOptions options = {}, Error* error = nullptr);

}  // namespace ns::json
