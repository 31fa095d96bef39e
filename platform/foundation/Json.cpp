#include "platform/foundation/Json.h"

#include <cmath>
#include <limits>

#include "platform/foundation/Utf16.h"

namespace ns::json {

namespace {

using ojson = nlohmann::ordered_json;

void setError(Error* error, int64_t code, const std::string& description) {
    if (error) *error = Error::withDescription(NSCocoaErrorDomain, code, description);
}

bool convert(const Value& v, ojson& out, std::string& why, size_t depth) {
    if (depth > kMaxNestingDepth) {
        why = "nesting too deep";
        return false;
    }
    switch (v.kind()) {
        case Value::Kind::Null: out = nullptr; return true;
        case Value::Kind::Bool: out = *v.asBool(); return true;
        case Value::Kind::Int: out = *v.asInt64(); return true;
        case Value::Kind::UInt: out = *v.asUInt64(); return true;
        case Value::Kind::Double: {
            const double d = *v.asDouble();
            if (!std::isfinite(d)) {
                why = "Invalid number value (NaN or infinity) in JSON write";
                return false;
            }
            out = d;
            return true;
        }
        case Value::Kind::String: out = *v.string(); return true;
        case Value::Kind::Array: {
            out = ojson::array();
            for (const Value& item : *v.array()) {
                ojson child;
                if (!convert(item, child, why, depth + 1)) return false;
                out.push_back(std::move(child));
            }
            return true;
        }
        case Value::Kind::Dictionary:
        case Value::Kind::OrderedDictionary: {
            out = ojson::object();
            for (const auto& [key, item] : v.dictionaryEntries()) {
                ojson child;
                if (!convert(item, child, why, depth + 1)) return false;
                out[key] = std::move(child);
            }
            return true;
        }
        default:
            why = std::string("Invalid type in JSON write (") +
                  (v.isObject() ? v.object()->className() : Value::kindName(v.kind())) + ")";
            return false;
    }
}

bool convertBack(const ojson& j, Value& out, const ReadOptions& options, std::string& why, size_t depth) {
    if (depth > kMaxNestingDepth) {
        why = "nesting too deep";
        return false;
    }
    switch (j.type()) {
        case ojson::value_t::null: out = Value(); return true;
        case ojson::value_t::boolean: out = Value(j.get<bool>()); return true;
        case ojson::value_t::number_integer: out = Value(j.get<int64_t>()); return true;
        case ojson::value_t::number_unsigned: {
            const uint64_t u = j.get<uint64_t>();
            if (u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
                out = Value(static_cast<int64_t>(u));
            } else {
                out = Value(u);
            }
            return true;
        }
        case ojson::value_t::number_float: out = Value(j.get<double>()); return true;
        case ojson::value_t::string: out = Value(j.get<std::string>()); return true;
        case ojson::value_t::array: {
            Array a;
            a.reserve(j.size());
            for (const auto& item : j) {
                Value child;
                if (!convertBack(item, child, options, why, depth + 1)) return false;
                a.push_back(std::move(child));
            }
            out = Value(std::move(a));
            return true;
        }
        case ojson::value_t::object: {
            if (options.keepObjectOrder) {
                OrderedDictionary d;
                for (auto it = j.begin(); it != j.end(); ++it) {
                    Value child;
                    if (!convertBack(it.value(), child, options, why, depth + 1)) return false;
                    d.set(it.key(), std::move(child));
                }
                out = Value(std::move(d));
            } else {
                Dictionary d;
                for (auto it = j.begin(); it != j.end(); ++it) {
                    Value child;
                    if (!convertBack(it.value(), child, options, why, depth + 1)) return false;
                    d.insert_or_assign(it.key(), std::move(child));
                }
                out = Value(std::move(d));
            }
            return true;
        }
        default: why = "unsupported JSON element"; return false;
    }
}

// Stops the parser at a depth where the conversion and the destructors stay
// comfortably within the stack.
struct DepthLimit {
    size_t depth = 0;
    bool exceeded = false;
    bool operator()(int /*depth*/, nlohmann::json::parse_event_t event, ojson& /*parsed*/) {
        using E = nlohmann::json::parse_event_t;
        if (event == E::object_start || event == E::array_start) {
            if (++depth > kMaxNestingDepth) {
                exceeded = true;
                return false;
            }
        } else if (event == E::object_end || event == E::array_end) {
            if (depth > 0) --depth;
        }
        return true;
    }
};

}  // namespace

std::optional<ojson> toJson(const Value& value, Error* error) {
    ojson out;
    std::string why;
    if (!convert(value, out, why, 0)) {
        setError(error, NSPropertyListWriteInvalidError, why);
        return std::nullopt;
    }
    return out;
}

std::optional<Value> fromJson(const ojson& json, ReadOptions options, Error* error) {
    Value out;
    std::string why;
    if (!convertBack(json, out, options, why, 0)) {
        setError(error, NSPropertyListReadCorruptError, why);
        return std::nullopt;
    }
    return out;
}

std::optional<std::string> write(const Value& value, WriteOptions options, Error* error) {
    auto j = toJson(value, error);
    if (!j) return std::nullopt;
    try {
        return j->dump(options.prettyPrinted ? 2 : -1, ' ', /*ensure_ascii=*/false,
                       nlohmann::json::error_handler_t::replace);
    } catch (const std::exception& e) {
        setError(error, NSPropertyListWriteInvalidError, e.what());
        return std::nullopt;
    }
}

std::optional<Value> parse(std::string_view text, ReadOptions options, Error* error) {
    DepthLimit limit;
    ojson j;
    try {
        j = ojson::parse(text.begin(), text.end(),
                         [&limit](int depth, nlohmann::json::parse_event_t event, ojson& parsed) {
                             return limit(depth, event, parsed);
                         });
    } catch (const std::exception& e) {
        setError(error, NSPropertyListReadCorruptError, std::string("The data couldn\u2019t be read because it isn\u2019t in the correct format: ") + e.what());
        return std::nullopt;
    }
    if (limit.exceeded || j.is_discarded()) {
        setError(error, NSPropertyListReadCorruptError, "JSON nesting too deep");
        return std::nullopt;
    }
    return fromJson(j, options, error);
}

bool isValidJSONObject(const Value& value) {
    if (!value.isArray() && !value.isAnyDictionary()) return false;
    return toJson(value).has_value();
}

}  // namespace ns::json
