#include "platform/foundation/Value.h"

#include <sys/random.h>
#include <sys/types.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <random>

namespace ns {

// ---------------------------------------------------------------- Date

Date Date::now() {
    using namespace std::chrono;
    const auto since = system_clock::now().time_since_epoch();
    return Date(static_cast<double>(duration_cast<microseconds>(since).count()) / 1e6);
}

std::string Date::description() const {
    if (!std::isfinite(secondsSince1970)) return secondsSince1970 > 0 ? "distant future" : "distant past";
    const double floored = std::floor(secondsSince1970);
    if (floored < -6.0e13 || floored > 6.0e13) return "out-of-range date";
    const time_t t = static_cast<time_t>(floored);
    struct tm tm {};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d +0000", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

// ---------------------------------------------------------------- UUID

UUID UUID::random() {
    // Straight from the kernel: no per-process state to repeat after a fork.
    std::array<uint8_t, 16> b{};
    size_t got = 0;
    while (got < b.size()) {
        const ssize_t n = ::getrandom(b.data() + got, b.size() - got, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            break;
        }
    }
    if (got < b.size()) {
        // No getrandom (very old kernel): fall back to a seeded engine.
        thread_local std::mt19937_64 engine = [] {
            std::random_device rd;
            std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
            return std::mt19937_64(seq);
        }();
        for (size_t i = 0; i < 16; i += 8) {
            const uint64_t r = engine();
            for (size_t j = 0; j < 8; ++j) b[i + j] = static_cast<uint8_t>(r >> (8 * j));
        }
    }
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
    return UUID(b);
}

static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<UUID> UUID::fromString(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::array<uint8_t, 16> b{};
    size_t byte = 0;
    for (size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        const int hi = hexDigit(text[i]);
        const int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        b[byte++] = static_cast<uint8_t>(hi * 16 + lo);
        i += 2;
    }
    return UUID(b);
}

std::string UUID::UUIDString() const {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    s.reserve(36);
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) s.push_back('-');
        s.push_back(digits[bytes_[i] >> 4]);
        s.push_back(digits[bytes_[i] & 0x0F]);
    }
    return s;
}

size_t UUID::hash() const {
    uint64_t h = 1469598103934665603ULL;
    for (uint8_t b : bytes_) h = (h ^ b) * 1099511628211ULL;
    return static_cast<size_t>(h);
}

// ---------------------------------------------------------------- Object

std::string Object::description() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(this));
    return "<" + className() + ": " + buf + ">";
}

// ---------------------------------------------------------------- OrderedDictionary

OrderedDictionary::OrderedDictionary(std::initializer_list<Entry> entries) {
    for (const auto& e : entries) set(e.first, e.second);
}

void OrderedDictionary::set(std::string key, Value value) {
    auto it = index_.find(key);
    if (it != index_.end()) {
        entries_[it->second].second = std::move(value);
        return;
    }
    index_.emplace(key, entries_.size());
    entries_.emplace_back(std::move(key), std::move(value));
}

const Value* OrderedDictionary::find(std::string_view key) const {
    auto it = index_.find(std::string(key));
    return it == index_.end() ? nullptr : &entries_[it->second].second;
}

Value* OrderedDictionary::find(std::string_view key) {
    auto it = index_.find(std::string(key));
    return it == index_.end() ? nullptr : &entries_[it->second].second;
}

bool OrderedDictionary::erase(std::string_view key) {
    auto it = index_.find(std::string(key));
    if (it == index_.end()) return false;
    const size_t pos = it->second;
    index_.erase(it);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(pos));
    for (auto& [k, i] : index_) {
        if (i > pos) --i;
    }
    return true;
}

void OrderedDictionary::clear() {
    entries_.clear();
    index_.clear();
}

std::vector<std::string> OrderedDictionary::keys() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const auto& e : entries_) out.push_back(e.first);
    return out;
}

bool operator==(const OrderedDictionary& a, const OrderedDictionary& b) {
    if (a.entries_.size() != b.entries_.size()) return false;
    for (size_t i = 0; i < a.entries_.size(); ++i) {
        if (a.entries_[i].first != b.entries_[i].first) return false;
        if (!(a.entries_[i].second == b.entries_[i].second)) return false;
    }
    return true;
}

// ---------------------------------------------------------------- Value numbers

namespace {

constexpr double kTwoPow63 = 9223372036854775808.0;
constexpr double kTwoPow64 = 18446744073709551616.0;

int64_t saturatingInt64(double d) {
    if (std::isnan(d)) return 0;
    if (d >= kTwoPow63) return std::numeric_limits<int64_t>::max();
    if (d < -kTwoPow63) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);  // truncates toward zero
}

uint64_t saturatingUInt64(double d) {
    if (std::isnan(d) || d <= -1.0) return 0;
    if (d >= kTwoPow64) return std::numeric_limits<uint64_t>::max();
    if (d < 0) return 0;
    return static_cast<uint64_t>(d);
}

// Exact comparison of an integer with a double, without the rounding that a
// plain conversion of the integer would bring.
bool equalIntDouble(int64_t i, double d) {
    if (std::isnan(d) || d < -kTwoPow63 || d >= kTwoPow63) return false;
    if (std::trunc(d) != d) return false;
    return static_cast<int64_t>(d) == i;
}

bool equalUIntDouble(uint64_t u, double d) {
    if (std::isnan(d) || d < 0 || d >= kTwoPow64) return false;
    if (std::trunc(d) != d) return false;
    return static_cast<uint64_t>(d) == u;
}

}  // namespace

std::optional<bool> Value::asBool() const {
    switch (kind()) {
        case Kind::Bool: return std::get<bool>(v_);
        case Kind::Int: return std::get<int64_t>(v_) != 0;
        case Kind::UInt: return std::get<uint64_t>(v_) != 0;
        case Kind::Double: return std::get<double>(v_) != 0.0;
        default: return std::nullopt;
    }
}

std::optional<int64_t> Value::asInt64() const {
    switch (kind()) {
        case Kind::Bool: return std::get<bool>(v_) ? 1 : 0;
        case Kind::Int: return std::get<int64_t>(v_);
        case Kind::UInt: {
            const uint64_t u = std::get<uint64_t>(v_);
            return u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                                  : static_cast<int64_t>(u);
        }
        case Kind::Double: return saturatingInt64(std::get<double>(v_));
        default: return std::nullopt;
    }
}

std::optional<uint64_t> Value::asUInt64() const {
    switch (kind()) {
        case Kind::Bool: return std::get<bool>(v_) ? 1u : 0u;
        case Kind::Int: {
            const int64_t i = std::get<int64_t>(v_);
            return i < 0 ? 0u : static_cast<uint64_t>(i);
        }
        case Kind::UInt: return std::get<uint64_t>(v_);
        case Kind::Double: return saturatingUInt64(std::get<double>(v_));
        default: return std::nullopt;
    }
}

std::optional<double> Value::asDouble() const {
    switch (kind()) {
        case Kind::Bool: return std::get<bool>(v_) ? 1.0 : 0.0;
        case Kind::Int: return static_cast<double>(std::get<int64_t>(v_));
        case Kind::UInt: return static_cast<double>(std::get<uint64_t>(v_));
        case Kind::Double: return std::get<double>(v_);
        default: return std::nullopt;
    }
}

std::optional<Date> Value::date() const {
    if (auto p = std::get_if<ns::Date>(&v_)) return *p;
    return std::nullopt;
}

std::optional<UUID> Value::uuid() const {
    if (auto p = std::get_if<ns::UUID>(&v_)) return *p;
    return std::nullopt;
}

std::shared_ptr<Object> Value::object() const {
    if (auto p = std::get_if<std::shared_ptr<ns::Object>>(&v_)) return *p;
    return nullptr;
}

std::optional<std::string> Value::asString() const {
    if (auto p = string()) return *p;
    return std::nullopt;
}

const Value* Value::find(std::string_view key) const {
    if (auto d = dictionary()) {
        auto it = d->find(key);
        return it == d->end() ? nullptr : &it->second;
    }
    if (auto o = orderedDictionary()) return o->find(key);
    return nullptr;
}

const Value* Value::at(size_t index) const {
    auto a = array();
    if (!a || index >= a->size()) return nullptr;
    return &(*a)[index];
}

std::vector<std::pair<std::string, Value>> Value::dictionaryEntries() const {
    std::vector<std::pair<std::string, Value>> out;
    if (auto d = dictionary()) {
        out.assign(d->begin(), d->end());
    } else if (auto o = orderedDictionary()) {
        out.assign(o->begin(), o->end());
    }
    return out;
}

std::optional<Dictionary> Value::asDictionary() const {
    if (auto d = dictionary()) return *d;
    if (auto o = orderedDictionary()) {
        Dictionary out;
        for (const auto& [k, v] : *o) out.insert_or_assign(k, v);
        return out;
    }
    return std::nullopt;
}

size_t Value::count() const {
    if (auto a = array()) return a->size();
    if (auto d = dictionary()) return d->size();
    if (auto o = orderedDictionary()) return o->size();
    return 0;
}

// ---------------------------------------------------------------- equality

namespace {

bool numbersEqual(const Value& a, const Value& b) {
    using K = Value::Kind;
    auto normal = [](const Value& v) { return v.kind() == K::Bool ? K::Int : v.kind(); };
    const K ka = normal(a), kb = normal(b);
    if (ka == K::Double && kb == K::Double) return *a.asDouble() == *b.asDouble();
    if (ka == K::Double || kb == K::Double) {
        const Value& dv = ka == K::Double ? a : b;
        const Value& iv = ka == K::Double ? b : a;
        const double d = *dv.asDouble();
        if (normal(iv) == K::UInt) return equalUIntDouble(*iv.asUInt64(), d);
        return equalIntDouble(*iv.asInt64(), d);
    }
    if (ka == K::Int && kb == K::Int) return *a.asInt64() == *b.asInt64();
    if (ka == K::UInt && kb == K::UInt) return *a.asUInt64() == *b.asUInt64();
    // One signed, one unsigned: equal only when the signed one is not negative.
    const Value& sv = ka == K::Int ? a : b;
    const Value& uv = ka == K::Int ? b : a;
    const int64_t s = *sv.asInt64();
    return s >= 0 && static_cast<uint64_t>(s) == *uv.asUInt64();
}

bool entriesEqual(const Value& a, const Value& b) {
    if (a.count() != b.count()) return false;
    for (const auto& [k, v] : a.dictionaryEntries()) {
        const Value* other = b.find(k);
        if (!other || !(v == *other)) return false;
    }
    return true;
}

}  // namespace

bool operator==(const Value& a, const Value& b) {
    using K = Value::Kind;
    if (a.isNumber() && b.isNumber()) return numbersEqual(a, b);
    if (a.isAnyDictionary() && b.isAnyDictionary()) {
        if (a.isOrderedDictionary() && b.isOrderedDictionary()) return *a.orderedDictionary() == *b.orderedDictionary();
        return entriesEqual(a, b);
    }
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case K::Null: return true;
        case K::String: return *a.string() == *b.string();
        case K::Data: return *a.data() == *b.data();
        case K::Date: return *a.date() == *b.date();
        case K::UUID: return *a.uuid() == *b.uuid();
        case K::Array: return *a.array() == *b.array();
        case K::Object: {
            auto oa = a.object(), ob = b.object();
            return oa == ob || oa->isEqual(*ob);
        }
        default: return false;
    }
}

// ---------------------------------------------------------------- description

const char* Value::kindName(Kind kind) {
    switch (kind) {
        case Kind::Null: return "null";
        case Kind::Bool: return "bool";
        case Kind::Int: return "int";
        case Kind::UInt: return "uint";
        case Kind::Double: return "double";
        case Kind::String: return "string";
        case Kind::Data: return "data";
        case Kind::Date: return "date";
        case Kind::UUID: return "UUID";
        case Kind::Array: return "array";
        case Kind::Dictionary: return "dictionary";
        case Kind::OrderedDictionary: return "ordered dictionary";
        case Kind::Object: return "object";
    }
    return "?";
}

std::string dataDescription(const Data& data) {
    static const char* digits = "0123456789abcdef";
    std::string s = "<";
    for (size_t i = 0; i < data.size(); ++i) {
        if (i > 0 && i % 4 == 0) s.push_back(' ');
        s.push_back(digits[data[i] >> 4]);
        s.push_back(digits[data[i] & 0x0F]);
    }
    s.push_back('>');
    return s;
}

namespace {

std::string formatDouble(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
    char buf[40];
    // Shortest form that reads back as the same double.
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, d);
        if (std::strtod(buf, nullptr) == d) break;
    }
    return buf;
}

// Old-style property list quoting: bare words stay bare, everything else is quoted.
std::string quoteIfNeeded(const std::string& s) {
    bool bare = !s.empty();
    for (unsigned char c : s) {
        if (!(std::isalnum(c) || c == '_' || c == '.' || c == '/' || c == '-' || c == ':' || c == '$')) {
            bare = false;
            break;
        }
    }
    if (bare) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out.push_back('\\');
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

void describe(const Value& v, std::string& out, int indent, bool nested, int depth) {
    const std::string pad(static_cast<size_t>(indent) * 4, ' ');
    const std::string innerPad(static_cast<size_t>(indent + 1) * 4, ' ');
    if (depth > 64) {
        out += "...";
        return;
    }
    switch (v.kind()) {
        case Value::Kind::Null: out += "<null>"; return;
        case Value::Kind::Bool: out += *v.asBool() ? "1" : "0"; return;
        case Value::Kind::Int: out += std::to_string(*v.asInt64()); return;
        case Value::Kind::UInt: out += std::to_string(*v.asUInt64()); return;
        case Value::Kind::Double: out += formatDouble(*v.asDouble()); return;
        case Value::Kind::String: out += nested ? quoteIfNeeded(*v.string()) : *v.string(); return;
        case Value::Kind::Data: out += dataDescription(*v.data()); return;
        case Value::Kind::Date: {
            const std::string d = v.date()->description();
            out += nested ? quoteIfNeeded(d) : d;
            return;
        }
        case Value::Kind::UUID: out += v.uuid()->UUIDString(); return;
        case Value::Kind::Array: {
            const auto& a = *v.array();
            if (a.empty()) {
                out += "(\n" + pad + ")";
                return;
            }
            out += "(\n";
            for (size_t i = 0; i < a.size(); ++i) {
                out += innerPad;
                describe(a[i], out, indent + 1, true, depth + 1);
                out += i + 1 < a.size() ? ",\n" : "\n";
            }
            out += pad + ")";
            return;
        }
        case Value::Kind::Dictionary:
        case Value::Kind::OrderedDictionary: {
            out += "{\n";
            for (const auto& [k, item] : v.dictionaryEntries()) {
                out += innerPad + quoteIfNeeded(k) + " = ";
                describe(item, out, indent + 1, true, depth + 1);
                out += ";\n";
            }
            out += pad + "}";
            return;
        }
        case Value::Kind::Object: out += v.object()->description(); return;
    }
}

}  // namespace

std::string Value::description() const {
    std::string out;
    describe(*this, out, 0, false, 0);
    return out;
}

}  // namespace ns
