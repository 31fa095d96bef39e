#pragma once
// The object model shared by every module: a tagged value that stands in for
// the platform's property-list objects (NSNull, NSNumber, NSString, NSData,
// NSDate, NSUUID, NSArray, NSDictionary) plus arbitrary class instances.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace ns {

using Data = std::vector<uint8_t>;

// A point in time as seconds since 1970-01-01 00:00:00 UTC.
struct Date {
    // Seconds between 1970-01-01 and the platform's reference date 2001-01-01.
    static constexpr double kTimeIntervalBetween1970AndReferenceDate = 978307200.0;

    double secondsSince1970 = 0;

    constexpr Date() = default;
    constexpr explicit Date(double since1970) : secondsSince1970(since1970) {}

    static Date now();
    static constexpr Date fromTimeIntervalSince1970(double seconds) { return Date(seconds); }
    static constexpr Date fromTimeIntervalSinceReferenceDate(double seconds) {
        return Date(seconds + kTimeIntervalBetween1970AndReferenceDate);
    }
    constexpr double timeIntervalSince1970() const { return secondsSince1970; }
    constexpr double timeIntervalSinceReferenceDate() const {
        return secondsSince1970 - kTimeIntervalBetween1970AndReferenceDate;
    }
    constexpr double timeIntervalSinceDate(const Date& other) const {
        return secondsSince1970 - other.secondsSince1970;
    }
    constexpr Date addingTimeInterval(double seconds) const { return Date(secondsSince1970 + seconds); }

    friend constexpr bool operator==(const Date& a, const Date& b) { return a.secondsSince1970 == b.secondsSince1970; }
    friend constexpr bool operator<(const Date& a, const Date& b) { return a.secondsSince1970 < b.secondsSince1970; }
    friend constexpr bool operator>(const Date& a, const Date& b) { return b < a; }
    friend constexpr bool operator<=(const Date& a, const Date& b) { return !(b < a); }
    friend constexpr bool operator>=(const Date& a, const Date& b) { return !(a < b); }

    // "2001-01-01 00:00:00 +0000", the platform's description of a date.
    std::string description() const;
};

// 16 bytes, written in the canonical 8-4-4-4-12 upper-case form.
class UUID {
public:
    UUID() = default;  // all zero
    explicit UUID(const std::array<uint8_t, 16>& bytes) : bytes_(bytes) {}

    static UUID random();  // version 4, variant 1
    // Accepts the canonical hyphenated form in either case; anything else is nullopt.
    static std::optional<UUID> fromString(std::string_view text);

    std::string UUIDString() const;
    const std::array<uint8_t, 16>& bytes() const { return bytes_; }

    friend bool operator==(const UUID& a, const UUID& b) { return a.bytes_ == b.bytes_; }
    friend bool operator<(const UUID& a, const UUID& b) { return a.bytes_ < b.bytes_; }
    size_t hash() const;

private:
    std::array<uint8_t, 16> bytes_{};
};

// Base of every class instance carried by a Value.
class Object {
public:
    virtual ~Object() = default;
    virtual std::string className() const = 0;
    // Identity by default; value classes override.
    virtual bool isEqual(const Object& other) const { return this == &other; }
    virtual std::string description() const;
};

class Value;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value, std::less<>>;

// A dictionary that enumerates its keys in first-insertion order; replacing a
// value keeps the key where it first appeared.
class OrderedDictionary {
public:
    using Entry = std::pair<std::string, Value>;

    OrderedDictionary() = default;
    OrderedDictionary(std::initializer_list<Entry> entries);

    void set(std::string key, Value value);
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    bool erase(std::string_view key);
    void clear();

    // Defined after Value, which they need complete.
    size_t size() const;
    bool empty() const;
    std::vector<std::string> keys() const;
    const std::vector<Entry>& entries() const { return entries_; }
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

    // Same entries in the same order.
    friend bool operator==(const OrderedDictionary& a, const OrderedDictionary& b);

private:
    std::vector<Entry> entries_;
    std::unordered_map<std::string, size_t> index_;
};

class Value {
public:
    enum class Kind {
        Null,
        Bool,
        Int,     // signed 64-bit
        UInt,    // unsigned 64-bit
        Double,
        String,
        Data,
        Date,
        UUID,
        Array,
        Dictionary,
        OrderedDictionary,
        Object,
    };

    Value() = default;  // null (NSNull)
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                               !std::is_same_v<T, char>, int> = 0>
    Value(T n) {
        if constexpr (std::is_signed_v<T>) {
            v_ = static_cast<int64_t>(n);
        } else {
            v_ = static_cast<uint64_t>(n);
        }
    }
    Value(double d) : v_(d) {}
    Value(float f) : v_(static_cast<double>(f)) {}
    Value(const char* s) : v_(std::string(s ? s : "")) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(ns::Data d) : v_(std::move(d)) {}
    Value(ns::Date d) : v_(d) {}
    Value(ns::UUID u) : v_(u) {}
    Value(ns::Array a) : v_(std::move(a)) {}
    Value(ns::Dictionary d) : v_(std::move(d)) {}
    Value(ns::OrderedDictionary d) : v_(std::move(d)) {}
    template <typename T, std::enable_if_t<std::is_base_of_v<ns::Object, T>, int> = 0>
    Value(std::shared_ptr<T> object) : v_(fromObject(std::move(object))) {}

    static Value null() { return Value(); }

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool isNull() const { return kind() == Kind::Null; }
    bool isBool() const { return kind() == Kind::Bool; }
    bool isInt() const { return kind() == Kind::Int; }
    bool isUInt() const { return kind() == Kind::UInt; }
    bool isDouble() const { return kind() == Kind::Double; }
    bool isInteger() const { return isInt() || isUInt(); }
    // Bool, Int, UInt and Double are all numbers, as every NSNumber is.
    bool isNumber() const { return isBool() || isInt() || isUInt() || isDouble(); }
    bool isString() const { return kind() == Kind::String; }
    bool isData() const { return kind() == Kind::Data; }
    bool isDate() const { return kind() == Kind::Date; }
    bool isUUID() const { return kind() == Kind::UUID; }
    bool isArray() const { return kind() == Kind::Array; }
    bool isDictionary() const { return kind() == Kind::Dictionary; }
    bool isOrderedDictionary() const { return kind() == Kind::OrderedDictionary; }
    bool isAnyDictionary() const { return isDictionary() || isOrderedDictionary(); }
    bool isObject() const { return kind() == Kind::Object; }

    // Number conversions across kinds, nullopt for non-numbers. Doubles are
    // truncated toward zero; out-of-range values saturate instead of wrapping.
    std::optional<bool> asBool() const;
    std::optional<int64_t> asInt64() const;
    std::optional<uint64_t> asUInt64() const;
    std::optional<double> asDouble() const;

    // Typed access: a pointer to the payload, or nullptr for another kind.
    const std::string* string() const { return std::get_if<std::string>(&v_); }
    const ns::Data* data() const { return std::get_if<ns::Data>(&v_); }
    const ns::Array* array() const { return std::get_if<ns::Array>(&v_); }
    ns::Array* array() { return std::get_if<ns::Array>(&v_); }
    const ns::Dictionary* dictionary() const { return std::get_if<ns::Dictionary>(&v_); }
    ns::Dictionary* dictionary() { return std::get_if<ns::Dictionary>(&v_); }
    const ns::OrderedDictionary* orderedDictionary() const { return std::get_if<ns::OrderedDictionary>(&v_); }
    ns::OrderedDictionary* orderedDictionary() { return std::get_if<ns::OrderedDictionary>(&v_); }
    std::optional<ns::Date> date() const;
    std::optional<ns::UUID> uuid() const;
    std::shared_ptr<ns::Object> object() const;
    template <typename T>
    std::shared_ptr<T> objectAs() const {
        return std::dynamic_pointer_cast<T>(object());
    }
    std::optional<std::string> asString() const;

    // Lookup in either kind of dictionary; nullptr when absent or not a dictionary.
    const Value* find(std::string_view key) const;
    // Element of an array; nullptr when out of range or not an array.
    const Value* at(size_t index) const;
    // Entries of either kind of dictionary, in enumeration order.
    std::vector<std::pair<std::string, Value>> dictionaryEntries() const;
    // Copy of either kind of dictionary as a plain one.
    std::optional<ns::Dictionary> asDictionary() const;
    // Number of elements or entries; 0 for scalars.
    size_t count() const;

    // isEqual: semantics. Numbers compare by value across kinds (so true == 1),
    // a plain and an ordered dictionary compare by entries, two ordered ones by
    // entries and order, objects through Object::isEqual.
    friend bool operator==(const Value& a, const Value& b);
    friend bool operator!=(const Value& a, const Value& b) { return !(a == b); }

    // Readable text in the platform's old-style description format.
    std::string description() const;
    static const char* kindName(Kind kind);

private:
    using Storage = std::variant<std::monostate, bool, int64_t, uint64_t, double, std::string, ns::Data, ns::Date,
                                 ns::UUID, ns::Array, ns::Dictionary, ns::OrderedDictionary, std::shared_ptr<ns::Object>>;
    // A null pointer is NSNull; built in place so no half-made variant is ever assigned.
    template <typename T>
    static Storage fromObject(std::shared_ptr<T> object) {
        if (!object) return Storage();
        return Storage(std::in_place_index<12>, std::shared_ptr<ns::Object>(std::move(object)));
    }
    Storage v_;
};

inline size_t OrderedDictionary::size() const { return entries_.size(); }
inline bool OrderedDictionary::empty() const { return entries_.empty(); }
inline std::vector<OrderedDictionary::Entry>::const_iterator OrderedDictionary::begin() const {
    return entries_.begin();
}
inline std::vector<OrderedDictionary::Entry>::const_iterator OrderedDictionary::end() const { return entries_.end(); }

// Hex form of data, as the platform describes NSData: "<01020304 05>".
std::string dataDescription(const Data& data);

}  // namespace ns

template <>
struct std::hash<ns::UUID> {
    size_t operator()(const ns::UUID& u) const noexcept { return u.hash(); }
};
