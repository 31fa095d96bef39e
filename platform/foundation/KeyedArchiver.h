#pragma once
// Keyed archiving (NSKeyedArchiver / NSKeyedUnarchiver stand-ins) in the
// platform's keyed-archive layout, written as a binary property list:
//
//   { "$version": 100000, "$archiver": "NSKeyedArchiver",
//     "$top": { "root": UID }, "$objects": [ "$null", ... ] }
//
// Strings, data, and bool/int/double numbers sit directly in "$objects";
// containers and objects are dictionaries with a "$class" UID pointing at
// { "$classname": ..., "$classes": [...] }. Built-in classes: NSArray
// ("NS.objects"), NSDictionary ("NS.keys"/"NS.objects"), NSDate ("NS.time",
// seconds since 2001 as a real), NSUUID ("NS.uuidbytes"), NSNull.
//
// Kinds are kept exactly. Property lists only have signed 64-bit integers
// (and libplist 2.2 writes every integer that way), so negative values are
// stored as such, while unsigned values - which a reader could otherwise
// not tell from negative ones above INT64_MAX - are stored as an NSNumber
// object with the key "NS.uintval". Ordered dictionaries are stored as
// "NSOrderedDictionary" objects (NSDictionary's keys and objects, in order).
//
// Reading never trusts the bytes: property-list structure, UID ranges, kinds,
// reference cycles, nesting depth and the total decoded size are checked, and
// any problem ends the decoding with nullopt/nullptr and an error in
// NSCocoaErrorDomain (NSCoderReadCorruptError) - never a crash or an
// exception reaching the caller.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace ns::detail {
struct ArchiveValue;
}

namespace ns {

class KeyedArchiver;
class KeyedUnarchiver;

// A class whose instances can be archived (NSCoding). Subclasses call their
// base's encodeWithCoder first, as in Objective-C.
class Coding : public Object {
public:
    virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
    // Written as "$classes": the class, its superclasses, then "NSObject".
    virtual std::vector<std::string> classHierarchy() const { return {className(), "NSObject"}; }
};

// Makes an instance from the object the unarchiver is positioned on (the
// counterpart of initWithCoder:). Returns nullptr, or calls
// coder.failWithError(), when the object cannot be decoded.
using CodingFactory = std::function<std::shared_ptr<Coding>(KeyedUnarchiver& coder)>;

class KeyedArchiver {
public:
    static constexpr int64_t kVersion = 100000;

    // The archive of root (nil when root is null), or nullopt and an error in
    // NSCocoaErrorDomain (NSCoderInvalidValueError) when something in it
    // cannot be archived: an object that is not Coding, a string that is not
    // UTF-8 or contains NUL, a reference cycle, nesting deeper than the unarchiver reads (kMaxDepth).
    static std::optional<Data> archivedDataWithRootObject(const Value& root, Error* error = nullptr);

    // For encodeWithCoder. Keys starting with "$" are escaped as the platform does.
    // A null value is written as nil.
    void encodeObject(const Value& value, std::string_view key);
    void encodeObject(const std::optional<Value>& value, std::string_view key);
    void encodeObject(const std::shared_ptr<const Coding>& object, std::string_view key);
    // Unkeyed object (encodeRootObject: / encodeObject: on a keyed archiver),
    // stored under "$0", "$1", ... of the current object.
    void encodeObject(const Value& value);
    void encodeRootObject(const Value& value) { encodeObject(value); }
    void encodeBool(bool value, std::string_view key);
    void encodeInt64(int64_t value, std::string_view key);
    void encodeInteger(int64_t value, std::string_view key) { encodeInt64(value, key); }
    void encodeInt32(int32_t value, std::string_view key) { encodeInt64(value, key); }
    void encodeUInt64(uint64_t value, std::string_view key);
    void encodeDouble(double value, std::string_view key);

    // Aborts the archive with this error.
    void failWithError(const Error& error);
    bool hasFailed() const { return failed_; }

    KeyedArchiver(const KeyedArchiver&) = delete;
    KeyedArchiver& operator=(const KeyedArchiver&) = delete;
    ~KeyedArchiver();

    struct Impl;  // opaque

private:
    explicit KeyedArchiver(std::unique_ptr<Impl> impl);
    void setInCurrentObject(std::string_view key, bool escape, const detail::ArchiveValue& value);

    std::unique_ptr<Impl> impl_;
    bool failed_ = false;
};

class KeyedUnarchiver {
public:
    // Maps archived class names to registered classes for this unarchiver
    // (NSKeyedUnarchiver's setClass:forClassName:), e.g. setClass("DVACDevice",
    // "DVDevice") decodes old "DVDevice" objects with DVACDevice's factory.
    void setClass(std::string className, std::string forClassName);
    // The same for every unarchiver of the process.
    static void setGlobalClass(std::string className, std::string forClassName);
    static void removeGlobalClassMappings();

    // Process-wide registry of archivable classes, by class name.
    static void registerClass(std::string className, CodingFactory factory);
    template <typename T>
    static void registerClass(std::string className) {
        registerClass(std::move(className), [](KeyedUnarchiver& coder) -> std::shared_ptr<Coding> {
            return T::initWithCoder(coder);
        });
    }
    static bool isClassRegistered(std::string_view className);

    // The root object of an archive. A nil root gives a null Value. nullopt and
    // an error for anything else that is wrong. `migrations` maps old class
    // names to registered ones for this call.
    static std::optional<Value> unarchivedObjectWithData(const Data& data, Error* error = nullptr,
                                                         const std::map<std::string, std::string>& migrations = {});
    // The root as an instance of T (nullptr plus an error for another kind).
    template <typename T>
    static std::shared_ptr<T> unarchivedObjectOfClass(const Data& data, Error* error = nullptr,
                                                      const std::map<std::string, std::string>& migrations = {});

    // Opens an archive; check error() before decoding anything.
    explicit KeyedUnarchiver(const Data& data);
    ~KeyedUnarchiver();
    KeyedUnarchiver(const KeyedUnarchiver&) = delete;
    KeyedUnarchiver& operator=(const KeyedUnarchiver&) = delete;

    // For factories (and for "root" at the top level). Absent keys read as
    // nil/0/false. A value of the wrong kind records an error and reads as
    // nil/0/false; once an error is recorded everything reads as nil/0/false
    // and the whole unarchiving fails.
    bool containsValueForKey(std::string_view key) const;
    // nullopt for nil; NSNull gives a null Value.
    std::optional<Value> decodeObject(std::string_view key);
    // Next unkeyed object ("$0", "$1", ... of the current object).
    std::optional<Value> decodeObject();
    std::optional<std::string> decodeString(std::string_view key);
    std::optional<Data> decodeData(std::string_view key);
    std::optional<Date> decodeDate(std::string_view key);
    std::optional<UUID> decodeUUID(std::string_view key);
    std::optional<Array> decodeArray(std::string_view key);
    // Plain or ordered dictionaries, as a plain dictionary.
    std::optional<Dictionary> decodeDictionary(std::string_view key);
    template <typename T>
    std::shared_ptr<T> decodeObjectOfClass(std::string_view key);
    bool decodeBool(std::string_view key);
    int64_t decodeInt64(std::string_view key);
    int64_t decodeInteger(std::string_view key) { return decodeInt64(key); }
    int32_t decodeInt32(std::string_view key);
    uint64_t decodeUInt64(std::string_view key);
    double decodeDouble(std::string_view key);

    void failWithError(const Error& error);
    void failWithDescription(const std::string& description);
    const std::optional<Error>& error() const { return error_; }

    // Limits on what one archive may make.
    static constexpr size_t kMaxDepth = 256;
    static constexpr uint64_t kMaxDecodedUnits = 4'000'000;  // one per value, plus one per 64 bytes of text or data

private:
    struct Impl;
    std::optional<Value> decodeReference(uint64_t uid);
    std::optional<Value> decodeNode(void* node);
    std::optional<Value> decodeObjectDictionary(void* node, bool& isObject);
    void kindMismatch(std::string_view key, const char* expected, const Value& got);
    // The value for the key as `read` finds it in the decoded value; a kind
    // mismatch (naming `expected`) when it finds nothing.
    template <typename T, typename Read>
    std::optional<T> decodeKind(std::string_view key, const char* expected, Read read);

    std::unique_ptr<Impl> impl_;
    std::optional<Error> error_;
};

template <typename T>
std::shared_ptr<T> KeyedUnarchiver::decodeObjectOfClass(std::string_view key) {
    auto v = decodeObject(key);
    if (!v || error_) return nullptr;
    auto object = v->objectAs<T>();
    if (!object) kindMismatch(key, "an object of the expected class", *v);
    return object;
}

template <typename T>
std::shared_ptr<T> KeyedUnarchiver::unarchivedObjectOfClass(const Data& data, Error* error,
                                                            const std::map<std::string, std::string>& migrations) {
    auto root = unarchivedObjectWithData(data, error, migrations);
    if (!root) return nullptr;
    auto object = root->objectAs<T>();
    if (!object && error) {
        *error = Error::withDescription(NSCocoaErrorDomain, NSCoderReadCorruptError,
                                        "The archive's root object is not of the expected class.");
    }
    return object;
}

}  // namespace ns
