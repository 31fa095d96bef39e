#pragma once
// libplist plumbing shared by PropertyListSerialization and the keyed
// archiver. Not part of the module's public interface.

#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/foundation/Error.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"

namespace ns::detail {

struct PlistDeleter {
    void operator()(void* node) const {
        if (node) plist_free(static_cast<plist_t>(node));
    }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// Limits applied to untrusted input before libplist parses it.
inline constexpr size_t kMaxPlistDepth = PropertyListSerialization::kMaxNestingDepth;
inline constexpr uint64_t kMaxPlistExpandedNodes = 2'000'000;

// Structural check of a "bplist00" document: trailer, offset table, object
// markers and lengths inside the buffer, references in range, dictionary keys
// that are strings, no reference cycles, nesting depth and expanded node count
// within the limits. False with a reason on the first problem.
bool checkBinaryPlist(const uint8_t* bytes, size_t size, std::string* reason);

// Nesting depth of array and dict elements in an XML document within the limit.
bool checkXmlPlistNesting(const uint8_t* bytes, size_t size, std::string* reason);

// Parses either format after the checks above. nullptr plus an error in
// NSCocoaErrorDomain (NSPropertyListReadCorruptError) on failure.
PlistPtr parsePlist(const uint8_t* bytes, size_t size, Error* error, PropertyListFormat* format = nullptr);

std::optional<Data> writePlist(plist_t root, PropertyListFormat format, Error* error);
// "bplist00" straight from a value; nullopt with a reason for what a property
// list cannot hold, as valueToPlist.
std::optional<Data> writeBinaryPlist(const Value& root, std::string* reason);

// Signed view of an integer node (libplist keeps every integer as uint64 bits).
int64_t plistInt64(plist_t node);
std::optional<std::string> plistString(plist_t node);
// The bytes of a data node.
Data plistData(plist_t node);
std::optional<std::string> plistKey(plist_t node);

// Date node <-> seconds since 1970. toPlistDate is nullptr outside the range a
// libplist date can hold.
plist_t newPlistDate(const Date& date);
// The whole seconds and microseconds since 2001 a date is kept as.
std::optional<std::pair<int32_t, int32_t>> plistDateParts(const Date& date);
Date plistDate(plist_t node);

// Strings a property list can carry: valid UTF-8 without NUL.
bool isPlistString(const std::string& s);

// Why a property list can't hold the value itself (containers are not looked
// into); nullopt when it can.
std::optional<std::string> plistRefusal(const Value& value);
// Value -> node; nullptr with a reason for what a property list cannot hold.
plist_t valueToPlist(const Value& value, std::string* reason, size_t depth = 0);
// Node -> value; nullopt for UIDs or unknown kinds, or beyond the depth limit.
std::optional<Value> plistToValue(plist_t node, std::string* reason, size_t depth = 0);

void setError(Error* error, int64_t code, const std::string& description);

}  // namespace ns::detail
