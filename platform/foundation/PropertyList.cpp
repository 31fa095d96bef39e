#include "platform/foundation/PropertyList.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/foundation/Utf16.h"
#include "platform/foundation/detail/BinaryPlist.h"
#include "platform/foundation/detail/Plist.h"

namespace ns::detail {

void setError(Error* error, int64_t code, const std::string& description) {
    if (error) *error = Error::withDescription(NSCocoaErrorDomain, code, description);
}

// ---------------------------------------------------------------- binary structure check

namespace {

uint64_t readBigEndian(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

struct BinaryObject {
    uint8_t type = 0;  // high nibble of the marker
    size_t refsAt = 0;  // offset of the reference list (arrays, dicts)
    uint64_t count = 0;  // elements (arrays) or entries (dicts)
    bool parsed = false;
};

class BinaryChecker {
public:
    BinaryChecker(const uint8_t* bytes, size_t size) : b_(bytes), size_(size) {}

    bool run(std::string* reason) {
        if (size_ < 8 + 32) return fail(reason, "too short for a binary property list");
        if (std::memcmp(b_, "bplist00", 8) != 0) return fail(reason, "not a binary property list");
        const uint8_t* trailer = b_ + size_ - 32;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        numObjects_ = readBigEndian(trailer + 8, 8);
        const uint64_t top = readBigEndian(trailer + 16, 8);
        tableAt_ = readBigEndian(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8)
            return fail(reason, "bad integer sizes in the trailer");
        if (numObjects_ == 0 || top >= numObjects_) return fail(reason, "bad object count or top object");
        const uint64_t end = size_ - 32;
        if (tableAt_ < 9 || tableAt_ > end) return fail(reason, "offset table outside the data");
        if (numObjects_ > (end - tableAt_) / offsetSize_) return fail(reason, "offset table runs past the data");
        objects_.assign(static_cast<size_t>(numObjects_), BinaryObject{});
        return walk(top, reason);
    }

private:
    static bool fail(std::string* reason, const char* text) {
        if (reason) *reason = text;
        return false;
    }

    // Length of a data, string or container object: the low nibble, or an
    // integer object after the marker when the nibble is 0xF.
    bool lengthOf(size_t& pos, uint8_t low, uint64_t& length) {
        if (low != 0x0F) {
            length = low;
            return true;
        }
        if (pos >= tableAt_) return false;
        const uint8_t marker = b_[pos];
        if ((marker >> 4) != 0x1) return false;
        const size_t n = size_t{1} << (marker & 0x0F);
        if (n > 8 || pos + 1 + n > tableAt_) return false;
        length = readBigEndian(b_ + pos + 1, n);
        pos += 1 + n;
        return true;
    }

    bool parse(uint64_t index, std::string* reason) {
        BinaryObject& o = objects_[static_cast<size_t>(index)];
        if (o.parsed) return true;
        const uint64_t offset = readBigEndian(b_ + tableAt_ + index * offsetSize_, offsetSize_);
        if (offset < 8 || offset >= tableAt_) return fail(reason, "object offset outside the data");
        size_t pos = static_cast<size_t>(offset);
        const uint8_t marker = b_[pos++];
        const uint8_t high = marker >> 4, low = marker & 0x0F;
        auto fits = [&](uint64_t n) { return n <= tableAt_ - pos; };
        switch (high) {
            case 0x0:
                if (low != 0x8 && low != 0x9) return fail(reason, "unsupported simple object");
                break;
            case 0x1:
                if (low > 4 || !fits(uint64_t{1} << low)) return fail(reason, "bad integer object");
                break;
            case 0x2:
                if ((low != 2 && low != 3) || !fits(uint64_t{1} << low)) return fail(reason, "bad real object");
                break;
            case 0x3:
                if (low != 3 || !fits(8)) return fail(reason, "bad date object");
                break;
            case 0x4:
            case 0x5:
            case 0x6: {
                uint64_t length = 0;
                if (!lengthOf(pos, low, length)) return fail(reason, "bad length");
                if (high == 0x6) {
                    if (length > std::numeric_limits<uint64_t>::max() / 2) return fail(reason, "bad string length");
                    length *= 2;
                }
                if (!fits(length)) return fail(reason, "data or string runs past the data");
                // libplist hands strings out as C strings (and asserts on an embedded NUL).
                if (high == 0x5 && std::memchr(b_ + pos, 0, static_cast<size_t>(length)) != nullptr)
                    return fail(reason, "string contains NUL");
                if (high == 0x6) {
                    for (uint64_t i = 0; i < length; i += 2) {
                        if (b_[pos + i] == 0 && b_[pos + i + 1] == 0) return fail(reason, "string contains NUL");
                    }
                }
                break;
            }
            case 0x8:
                if (low > 7 || !fits(uint64_t{low} + 1)) return fail(reason, "bad UID object");
                break;
            case 0xA:
            case 0xD: {
                uint64_t count = 0;
                if (!lengthOf(pos, low, count)) return fail(reason, "bad container length");
                const uint64_t refs = high == 0xD ? 2 : 1;
                if (count > (tableAt_ - pos) / refSize_ / refs) return fail(reason, "container runs past the data");
                o.refsAt = pos;
                o.count = count;
                break;
            }
            default: return fail(reason, "unsupported object type");
        }
        o.type = high;
        o.parsed = true;
        return true;
    }

    uint64_t ref(const BinaryObject& o, uint64_t i) const {
        return readBigEndian(b_ + o.refsAt + i * refSize_, refSize_);
    }

    bool isStringObject(uint64_t index, std::string* reason) {
        if (!parse(index, reason)) return false;
        const uint8_t t = objects_[static_cast<size_t>(index)].type;
        return t == 0x5 || t == 0x6;
    }

    // Depth-first over what the top object reaches, without recursion.
    bool walk(uint64_t top, std::string* reason) {
        enum : uint8_t { White, Grey, Black };
        std::vector<uint8_t> colour(objects_.size(), White);
        std::vector<uint64_t> expanded(objects_.size(), 0);
        struct Frame {
            uint64_t index;
            uint64_t next;  // next reference to visit
        };
        std::vector<Frame> stack;
        if (!parse(top, reason)) return false;
        stack.push_back({top, 0});
        colour[static_cast<size_t>(top)] = Grey;
        while (!stack.empty()) {
            Frame& f = stack.back();
            const BinaryObject& o = objects_[static_cast<size_t>(f.index)];
            const uint64_t refs = o.type == 0xA ? o.count : (o.type == 0xD ? o.count * 2 : 0);
            if (f.next < refs) {
                const uint64_t child = ref(o, f.next);
                const bool isKey = o.type == 0xD && f.next < o.count;
                ++f.next;
                if (child >= numObjects_) return fail(reason, "object reference out of range");
                if (isKey && !isStringObject(child, reason)) {
                    if (reason && reason->empty()) *reason = "dictionary key is not a string";
                    return false;
                }
                if (!parse(child, reason)) return false;
                const size_t c = static_cast<size_t>(child);
                if (colour[c] == Grey) return fail(reason, "reference cycle");
                if (colour[c] == White) {
                    if (stack.size() >= kMaxPlistDepth) return fail(reason, "nesting too deep");
                    colour[c] = Grey;
                    stack.push_back({child, 0});
                }
                continue;
            }
            // All children done: the expanded size counts shared objects once per reference,
            // as the parser copies them.
            uint64_t total = 1;
            for (uint64_t i = 0; i < refs; ++i) {
                total += expanded[static_cast<size_t>(ref(o, i))];
                if (total > kMaxPlistExpandedNodes) return fail(reason, "too many objects once expanded");
            }
            expanded[static_cast<size_t>(f.index)] = total;
            colour[static_cast<size_t>(f.index)] = Black;
            stack.pop_back();
        }
        return true;
    }

    const uint8_t* b_;
    size_t size_;
    uint8_t offsetSize_ = 0, refSize_ = 0;
    uint64_t numObjects_ = 0, tableAt_ = 0;
    std::vector<BinaryObject> objects_;
};

}  // namespace

bool checkBinaryPlist(const uint8_t* bytes, size_t size, std::string* reason) {
    if (reason) reason->clear();
    BinaryChecker checker(bytes, size);
    return checker.run(reason);
}

bool checkXmlPlistNesting(const uint8_t* bytes, size_t size, std::string* reason) {
    size_t depth = 0;
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != '<') continue;
        size_t j = i + 1;
        const bool closing = j < size && bytes[j] == '/';
        if (closing) ++j;
        size_t nameStart = j;
        while (j < size && std::isalpha(bytes[j])) ++j;
        const std::string_view name(reinterpret_cast<const char*>(bytes + nameStart), j - nameStart);
        if (name != "array" && name != "dict") continue;
        size_t k = j;
        while (k < size && bytes[k] != '>') ++k;
        const bool selfClosing = k > j && k < size && bytes[k - 1] == '/';
        if (closing) {
            if (depth > 0) --depth;
        } else if (!selfClosing) {
            if (++depth > kMaxPlistDepth) {
                if (reason) *reason = "nesting too deep";
                return false;
            }
        }
    }
    return true;
}

PlistPtr parsePlist(const uint8_t* bytes, size_t size, Error* error, PropertyListFormat* format) {
    if (!bytes || size == 0) {
        setError(error, NSPropertyListReadCorruptError, "The data is empty.");
        return nullptr;
    }
    if (size > std::numeric_limits<uint32_t>::max()) {
        setError(error, NSPropertyListReadCorruptError, "The data is too large for a property list.");
        return nullptr;
    }
    std::string reason;
    plist_t root = nullptr;
    if (size >= 8 && std::memcmp(bytes, "bplist00", 8) == 0) {
        if (!checkBinaryPlist(bytes, size, &reason)) {
            setError(error, NSPropertyListReadCorruptError, "Damaged binary property list: " + reason + ".");
            return nullptr;
        }
        plist_from_bin(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(size), &root);
        if (format) *format = PropertyListFormat::Binary;
    } else {
        size_t i = 0;
        if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) i = 3;
        while (i < size && std::isspace(bytes[i])) ++i;
        if (i >= size || bytes[i] != '<') {
            setError(error, NSPropertyListReadCorruptError, "The data is not a property list.");
            return nullptr;
        }
        // No XML document holds a NUL character, and libplist would assert on one in a string.
        if (std::memchr(bytes, 0, size) != nullptr) {
            setError(error, NSPropertyListReadCorruptError, "Damaged XML property list: NUL character.");
            return nullptr;
        }
        if (!checkXmlPlistNesting(bytes, size, &reason)) {
            setError(error, NSPropertyListReadCorruptError, "Damaged XML property list: " + reason + ".");
            return nullptr;
        }
        plist_from_xml(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(size), &root);
        if (format) *format = PropertyListFormat::XML;
    }
    if (!root) {
        setError(error, NSPropertyListReadCorruptError, "The data couldn\u2019t be read because it isn\u2019t in the correct format.");
        return nullptr;
    }
    return PlistPtr(root);
}

// ---------------------------------------------------------------- binary writer

namespace {

// Writes a value as "bplist00" in time linear in the number of objects
// (libplist's writer, and its dictionaries, slow down with the square of the
// size: seconds for a 200,000-key preferences file). Objects are not shared;
// every reader accepts that. What valueToPlist refuses is refused here too.
class BinaryWriter {
public:
    std::optional<Data> write(const Value& root, std::string* reason) {
        out_.assign({'b', 'p', 'l', 'i', 's', 't', '0', '0'});
        if (!emit(root, 0, reason)) return std::nullopt;
        const unsigned refWidth = bplist::widthOf(offsets_.size() - 1);
        for (const Container& c : containers_) {
            offsets_[c.index] = out_.size();
            bplist::marker(out_, c.marker, c.keys.empty() ? c.refs.size() : c.keys.size());
            for (uint64_t ref : c.keys) bplist::bigEndian(out_, ref, refWidth);
            for (uint64_t ref : c.refs) bplist::bigEndian(out_, ref, refWidth);
        }
        bplist::finish(out_, offsets_, refWidth);
        return std::move(out_);
    }

private:
    // Written once every object it refers to has its number.
    struct Container {
        uint64_t index;
        uint8_t marker;               // 0xA array, 0xD dictionary
        std::vector<uint64_t> keys;   // dictionaries
        std::vector<uint64_t> refs;   // elements, or values
    };

    static bool refuse(std::string* reason, std::string why) {
        if (reason) *reason = std::move(why);
        return false;
    }
    uint64_t begin() {
        offsets_.push_back(out_.size());
        return offsets_.size() - 1;
    }
    void real(uint8_t marker, double d) {
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        out_.push_back(marker);
        bplist::bigEndian(out_, bits, 8);
    }

    bool emit(const Value& value, size_t depth, std::string* reason) {
        if (depth > kMaxPlistDepth) return refuse(reason, "nesting too deep");
        if (auto why = plistRefusal(value)) return refuse(reason, std::move(*why));
        const uint64_t index = begin();
        switch (value.kind()) {
            case Value::Kind::Bool: out_.push_back(*value.asBool() ? 0x09 : 0x08); return true;
            case Value::Kind::Int: bplist::integer(out_, static_cast<uint64_t>(*value.asInt64())); return true;
            case Value::Kind::UInt: bplist::integer(out_, *value.asUInt64()); return true;
            case Value::Kind::Double: real(0x23, *value.asDouble()); return true;
            case Value::Kind::String: bplist::string(out_, *value.string()); return true;
            case Value::Kind::Data:
                bplist::marker(out_, 0x4, value.data()->size());
                out_.insert(out_.end(), value.data()->begin(), value.data()->end());
                return true;
            case Value::Kind::Date: {
                // Seconds since 2001, as libplist keeps a date.
                const auto [sec, usec] = *plistDateParts(*value.date());
                real(0x33, static_cast<double>(sec) + static_cast<double>(usec) / 1e6);
                return true;
            }
            case Value::Kind::Array: {
                Container c{index, 0xA, {}, {}};
                for (const Value& item : *value.array()) {
                    c.refs.push_back(offsets_.size());
                    if (!emit(item, depth + 1, reason)) return false;
                }
                containers_.push_back(std::move(c));
                return true;
            }
            case Value::Kind::Dictionary:
            case Value::Kind::OrderedDictionary: {
                Container c{index, 0xD, {}, {}};
                for (const auto& [key, item] : value.dictionaryEntries()) {
                    if (!isPlistString(key)) return refuse(reason, "dictionary key is not valid UTF-8 or contains NUL");
                    c.keys.push_back(begin());
                    bplist::string(out_, key);
                    c.refs.push_back(offsets_.size());
                    if (!emit(item, depth + 1, reason)) return false;
                }
                containers_.push_back(std::move(c));
                return true;
            }
            default: return refuse(reason, "unknown value kind");
        }
    }

    Data out_;
    std::vector<uint64_t> offsets_;
    std::vector<Container> containers_;
};

}  // namespace

std::optional<Data> writeBinaryPlist(const Value& root, std::string* reason) {
    return BinaryWriter().write(root, reason);
}

std::optional<Data> writePlist(plist_t root, PropertyListFormat format, Error* error) {
    char* out = nullptr;
    uint32_t length = 0;
    if (format == PropertyListFormat::Binary) {
        plist_to_bin(root, &out, &length);
    } else {
        plist_to_xml(root, &out, &length);
    }
    if (!out) {
        setError(error, NSPropertyListWriteInvalidError, "The property list could not be written.");
        return std::nullopt;
    }
    Data data(reinterpret_cast<uint8_t*>(out), reinterpret_cast<uint8_t*>(out) + length);
    if (format == PropertyListFormat::Binary) {
        plist_to_bin_free(out);
    } else {
        plist_to_xml_free(out);
    }
    return data;
}

int64_t plistInt64(plist_t node) {
    uint64_t bits = 0;
    plist_get_uint_val(node, &bits);
    int64_t v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::optional<std::string> plistString(plist_t node) {
    if (plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    char* s = nullptr;
    plist_get_string_val(node, &s);
    if (!s) return std::string();
    std::string out(s);
    std::free(s);
    return out;
}

Data plistData(plist_t node) {
    char* bytes = nullptr;
    uint64_t length = 0;
    plist_get_data_val(node, &bytes, &length);
    Data d;
    if (bytes) {
        d.assign(reinterpret_cast<uint8_t*>(bytes), reinterpret_cast<uint8_t*>(bytes) + length);
        std::free(bytes);
    }
    return d;
}

std::optional<std::string> plistKey(plist_t node) {
    if (plist_get_node_type(node) != PLIST_KEY) return std::nullopt;
    char* s = nullptr;
    plist_get_key_val(node, &s);
    if (!s) return std::string();
    std::string out(s);
    std::free(s);
    return out;
}

std::optional<std::pair<int32_t, int32_t>> plistDateParts(const Date& date) {
    const double t = date.timeIntervalSinceReferenceDate();
    if (!std::isfinite(t)) return std::nullopt;
    constexpr double kMin = std::numeric_limits<int32_t>::min();
    constexpr double kMax = std::numeric_limits<int32_t>::max();
    double sec;
    long usec = 0;
    if (t >= 0) {
        sec = std::floor(t);
        usec = std::lround((t - sec) * 1e6);
        if (usec >= 1000000) {
            sec += 1;
            usec = 0;
        }
    } else {
        // libplist 2.2 loses the sign of a fraction below zero when it reads a
        // date back, so dates before 2001 are kept to the second.
        sec = std::round(t);
    }
    if (sec < kMin || sec > kMax) return std::nullopt;
    return std::make_pair(static_cast<int32_t>(sec), static_cast<int32_t>(usec));
}

plist_t newPlistDate(const Date& date) {
    const auto parts = plistDateParts(date);
    return parts ? plist_new_date(parts->first, parts->second) : nullptr;
}

Date plistDate(plist_t node) {
    int32_t sec = 0, usec = 0;
    plist_get_date_val(node, &sec, &usec);
    return Date::fromTimeIntervalSinceReferenceDate(static_cast<double>(sec) + static_cast<double>(usec) / 1e6);
}

bool isPlistString(const std::string& s) { return s.find('\0') == std::string::npos && isValidUtf8(s); }

std::optional<std::string> plistRefusal(const Value& value) {
    switch (value.kind()) {
        case Value::Kind::Null: return "null cannot be stored in a property list";
        case Value::Kind::UInt: {
            const uint64_t u = *value.asUInt64();
            if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
                return "unsigned integer " + std::to_string(u) + " is too large for a property list";
            return std::nullopt;
        }
        case Value::Kind::String:
            if (!isPlistString(*value.string())) return "string is not valid UTF-8 or contains NUL";
            return std::nullopt;
        case Value::Kind::Date:
            if (!plistDateParts(*value.date())) return "date is outside the range a property list can hold";
            return std::nullopt;
        case Value::Kind::UUID: return "UUID cannot be stored in a property list";
        case Value::Kind::Object:
            return "object of class " + value.object()->className() + " cannot be stored in a property list";
        default: return std::nullopt;
    }
}

plist_t valueToPlist(const Value& value, std::string* reason, size_t depth) {
    auto refuse = [&](std::string why) -> plist_t {
        if (reason) *reason = std::move(why);
        return nullptr;
    };
    if (depth > kMaxPlistDepth) return refuse("nesting too deep");
    if (auto why = plistRefusal(value)) return refuse(std::move(*why));
    switch (value.kind()) {
        case Value::Kind::Bool: return plist_new_bool(*value.asBool() ? 1 : 0);
        case Value::Kind::Int: return plist_new_uint(static_cast<uint64_t>(*value.asInt64()));
        case Value::Kind::UInt: return plist_new_uint(*value.asUInt64());
        case Value::Kind::Double: return plist_new_real(*value.asDouble());
        case Value::Kind::String: return plist_new_string(value.string()->c_str());
        case Value::Kind::Data: {
            const Data& d = *value.data();
            static const char empty = 0;
            return plist_new_data(d.empty() ? &empty : reinterpret_cast<const char*>(d.data()), d.size());
        }
        case Value::Kind::Date: return newPlistDate(*value.date());
        case Value::Kind::Array: {
            PlistPtr array(plist_new_array());
            for (const Value& item : *value.array()) {
                plist_t child = valueToPlist(item, reason, depth + 1);
                if (!child) return nullptr;
                plist_array_append_item(array.get(), child);
            }
            return array.release();
        }
        case Value::Kind::Dictionary:
        case Value::Kind::OrderedDictionary: {
            PlistPtr dict(plist_new_dict());
            for (const auto& [key, item] : value.dictionaryEntries()) {
                if (!isPlistString(key)) return refuse("dictionary key is not valid UTF-8 or contains NUL");
                plist_t child = valueToPlist(item, reason, depth + 1);
                if (!child) return nullptr;
                plist_dict_set_item(dict.get(), key.c_str(), child);
            }
            return dict.release();
        }
        case Value::Kind::Null:
        case Value::Kind::UUID:
        case Value::Kind::Object: break;  // refused above
    }
    return refuse("unknown value kind");
}

std::optional<Value> plistToValue(plist_t node, std::string* reason, size_t depth) {
    auto refuse = [&](const char* why) -> std::optional<Value> {
        if (reason) *reason = why;
        return std::nullopt;
    };
    if (!node) return refuse("missing node");
    if (depth > kMaxPlistDepth) return refuse("nesting too deep");
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: return Value(plistInt64(node));
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING: return Value(sanitizeUtf8(*plistString(node)));
        case PLIST_DATA: return Value(plistData(node));
        case PLIST_DATE: return Value(plistDate(node));
        case PLIST_ARRAY: {
            Array out;
            const uint32_t n = plist_array_get_size(node);
            out.reserve(n);
            for (uint32_t i = 0; i < n; ++i) {
                auto item = plistToValue(plist_array_get_item(node, i), reason, depth + 1);
                if (!item) return std::nullopt;
                out.push_back(std::move(*item));
            }
            return Value(std::move(out));
        }
        case PLIST_DICT: {
            Dictionary out;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            if (!it) return Value(std::move(out));
            for (;;) {
                char* key = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, it, &key, &item);
                if (!item) {
                    std::free(key);
                    break;
                }
                std::string k = key ? sanitizeUtf8(key) : std::string();
                std::free(key);
                auto v = plistToValue(item, reason, depth + 1);
                if (!v) {
                    std::free(it);
                    return std::nullopt;
                }
                out.insert_or_assign(std::move(k), std::move(*v));
            }
            std::free(it);
            return Value(std::move(out));
        }
        case PLIST_UID: return refuse("keyed-archive reference in a plain property list");
        default: return refuse("unknown property list element");
    }
}

}  // namespace ns::detail

namespace ns {

std::optional<Data> PropertyListSerialization::dataWithPropertyList(const Value& plist, PropertyListFormat format,
                                                                    Error* error) {
    std::string reason;
    if (format == PropertyListFormat::Binary) {
        auto data = detail::writeBinaryPlist(plist, &reason);
        if (!data) {
            detail::setError(error, NSPropertyListWriteInvalidError, "Property list invalid for format: " + reason + ".");
        }
        return data;
    }
    detail::PlistPtr root(detail::valueToPlist(plist, &reason));
    if (!root) {
        detail::setError(error, NSPropertyListWriteInvalidError, "Property list invalid for format: " + reason + ".");
        return std::nullopt;
    }
    return detail::writePlist(root.get(), format, error);
}

std::optional<Value> PropertyListSerialization::propertyListWithData(const uint8_t* bytes, size_t size, Error* error,
                                                                     PropertyListFormat* format) {
    detail::PlistPtr root = detail::parsePlist(bytes, size, error, format);
    if (!root) return std::nullopt;
    std::string reason;
    auto value = detail::plistToValue(root.get(), &reason);
    if (!value) {
        detail::setError(error, NSPropertyListReadCorruptError, "The property list is damaged: " + reason + ".");
    }
    return value;
}

bool PropertyListSerialization::isPropertyList(const Value& value, std::string* reason) {
    detail::PlistPtr root(detail::valueToPlist(value, reason));
    return root != nullptr;
}

}  // namespace ns
