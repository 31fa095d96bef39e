#pragma once
// Property-list serialization (NSPropertyListSerialization) through libplist.
//
// What a property list holds: bool, integers, double, string, data, date,
// array and dictionaries. Integers are signed 64-bit on disk (as in the binary
// format); an unsigned value above INT64_MAX cannot be told apart from a
// negative one there and is refused. Dates are kept to the microsecond, within
// the years 1933-2069; before 2001 to the second. Strings and keys must be
// valid UTF-8 without NUL characters. Null, UUID and objects are refused.
//
// Reading checks the structure before libplist sees it (offsets, references,
// nesting depth, reference cycles, the expanded size), so damaged or hostile
// bytes give an error instead of a crash or a runaway allocation.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace ns {

enum class PropertyListFormat { Binary, XML };

class PropertyListSerialization {
public:
    static constexpr size_t kMaxNestingDepth = 512;

    static std::optional<Data> dataWithPropertyList(const Value& plist, PropertyListFormat format,
                                                    Error* error = nullptr);
    // Reads either format. Dictionaries come back as plain (sorted) dictionaries,
    // integers as signed 64-bit values.
    static std::optional<Value> propertyListWithData(const uint8_t* bytes, size_t size, Error* error = nullptr,
                                                     PropertyListFormat* format = nullptr);
    static std::optional<Value> propertyListWithData(const Data& data, Error* error = nullptr,
                                                     PropertyListFormat* format = nullptr) {
        return propertyListWithData(data.data(), data.size(), error, format);
    }

    // Whether the value can be written; reason names the first offending element.
    static bool isPropertyList(const Value& value, std::string* reason = nullptr);
};

}  // namespace ns
