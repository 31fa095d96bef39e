#include "platform/foundation/KeyedArchiver.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

#include "platform/foundation/Utf16.h"
#include "platform/foundation/detail/BinaryPlist.h"
#include "platform/foundation/detail/Plist.h"

namespace ns {

using detail::PlistPtr;

namespace {

constexpr const char* kNull = "$null";
// The reader's limit: an archive that could not be read back is never written.
constexpr size_t kMaxEncodeDepth = KeyedUnarchiver::kMaxDepth;

struct BuiltinClass {
    const char* name;
    std::vector<std::string> hierarchy;
};

const BuiltinClass kArrayClass{"NSArray", {"NSArray", "NSObject"}};
const BuiltinClass kDictionaryClass{"NSDictionary", {"NSDictionary", "NSObject"}};
const BuiltinClass kOrderedDictionaryClass{"NSOrderedDictionary", {"NSOrderedDictionary", "NSDictionary", "NSObject"}};
const BuiltinClass kDateClass{"NSDate", {"NSDate", "NSObject"}};
const BuiltinClass kUUIDClass{"NSUUID", {"NSUUID", "NSObject"}};
const BuiltinClass kNullClass{"NSNull", {"NSNull", "NSObject"}};
const BuiltinClass kNumberClass{"NSNumber", {"NSNumber", "NSValue", "NSObject"}};

// "$"-prefixed keys are the archive's own; a caller's "$key" is stored as "$$key".
std::string escapeKey(std::string_view key) {
    std::string out;
    if (!key.empty() && key[0] == '$') out.push_back('$');
    out.append(key);
    return out;
}

Error codingError(int64_t code, const std::string& description) {
    return Error::withDescription(NSCocoaErrorDomain, code, description);
}

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, CodingFactory> factories;
    std::map<std::string, std::string> migrations;  // archived name -> registered name
};

Registry& registry() {
    static Registry* r = new Registry();  // outlives every static user
    return *r;
}

}  // namespace

// ====================================================================== archiver

using detail::ArchiveTable;
using detail::ArchiveValue;

struct KeyedArchiver::Impl {
    ArchiveTable table;
    std::unordered_map<const Object*, uint64_t> objectUids;
    std::unordered_set<const Object*> inProgress;
    // An archive names a handful of classes: a list is quickest.
    struct ClassEntry {
        uint32_t name;
        std::vector<uint32_t> hierarchy;
        uint64_t uid;
    };
    std::vector<ClassEntry> classes;
    std::vector<uint64_t> unkeyed;  // per open object: the next "$n"
    std::vector<uint64_t> uids;     // scratch for containers
    size_t depth = 0;
    uint64_t nullUid = 0;
    Error error;

    void clear() {
        table.clear();
        objectUids.clear();
        inProgress.clear();
        classes.clear();
        unkeyed.clear();
        depth = 0;
        nullUid = 0;
        error = Error();
    }
};

KeyedArchiver::KeyedArchiver(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
KeyedArchiver::~KeyedArchiver() = default;

void KeyedArchiver::failWithError(const Error& error) {
    if (failed_) return;
    failed_ = true;
    impl_->error = error;
}

namespace {

// One level of nesting while a container or an object is encoded.
class NestingLevel {
public:
    explicit NestingLevel(size_t& depth) : depth_(depth) { ++depth_; }
    ~NestingLevel() { --depth_; }
    NestingLevel(const NestingLevel&) = delete;
    NestingLevel& operator=(const NestingLevel&) = delete;

    bool tooDeep() const { return depth_ > kMaxEncodeDepth; }

private:
    size_t& depth_;
};

// Encoding of one value into "$objects"; returns its UID (0 for nil or failure).
class Encoder {
public:
    Encoder(KeyedArchiver& archiver, KeyedArchiver::Impl& impl) : a_(archiver), s_(impl), t_(impl.table) {}

    uint64_t encode(const Value& v);
    uint64_t classUid(const std::string& name, const std::vector<std::string>& hierarchy);

private:
    bool fail(const std::string& description) {
        a_.failWithError(codingError(NSCoderInvalidValueError, description));
        return false;
    }
    uint64_t encodeString(const std::string& s);
    uint64_t encodeNull();
    uint64_t encodeContainer(const Value& v);
    uint64_t encodeObject(const std::shared_ptr<Object>& object);
    // The UIDs of the items, encoded in order; false on failure.
    bool encodeItems(const std::vector<const Value*>& items, std::vector<uint64_t>& uids);

    KeyedArchiver& a_;
    KeyedArchiver::Impl& s_;
    ArchiveTable& t_;
};

uint64_t Encoder::classUid(const std::string& name, const std::vector<std::string>& hierarchy) {
    for (const auto& entry : s_.classes) {
        if (t_.textAt(entry.name) != name || entry.hierarchy.size() != hierarchy.size()) continue;
        bool same = true;
        for (size_t i = 0; same && i < hierarchy.size(); ++i) same = t_.textAt(entry.hierarchy[i]) == hierarchy[i];
        if (same) return entry.uid;
    }
    if (!detail::isPlistString(name)) {
        fail("class name is not valid UTF-8 or contains NUL");
        return 0;
    }
    for (const auto& c : hierarchy) {
        if (!detail::isPlistString(c)) {
            fail("class name is not valid UTF-8 or contains NUL");
            return 0;
        }
    }
    const uint64_t uid = t_.reserveObject();
    t_.openObject();
    t_.set(t_.text("$classname"), t_.string(name));
    t_.set(t_.text("$classes"), t_.stringList(hierarchy));
    t_.closeObject(uid);
    KeyedArchiver::Impl::ClassEntry entry{t_.text(name), {}, uid};
    for (const auto& c : hierarchy) entry.hierarchy.push_back(t_.text(c));
    s_.classes.push_back(std::move(entry));
    return uid;
}

uint64_t Encoder::encodeString(const std::string& s) {
    // A text met before has been checked.
    const uint32_t known = t_.textCount();
    const uint32_t id = t_.text(s);
    if (id >= known && !detail::isPlistString(s)) {
        fail("cannot archive a string that is not valid UTF-8 or contains NUL");
        return 0;
    }
    if (const uint64_t uid = t_.uidOfText(id)) return uid;
    ArchiveValue value;
    value.kind = ArchiveValue::Kind::String;
    value.index = id;
    const uint64_t uid = t_.addObject(value);
    t_.setUidOfText(id, uid);
    return uid;
}

// NSNull inside a collection, where nil cannot stand.
uint64_t Encoder::encodeNull() {
    if (s_.nullUid != 0) return s_.nullUid;
    const uint64_t c = classUid(kNullClass.name, kNullClass.hierarchy);
    if (a_.hasFailed()) return 0;
    const uint64_t uid = t_.reserveObject();
    t_.openObject();
    t_.set(t_.text("$class"), ArchiveValue::uid(c));
    t_.closeObject(uid);
    s_.nullUid = uid;
    return uid;
}

uint64_t Encoder::encode(const Value& v) {
    if (a_.hasFailed()) return 0;
    switch (v.kind()) {
        case Value::Kind::Null: return 0;
        case Value::Kind::Bool: return t_.addObject(ArchiveValue::boolean(*v.asBool()));
        case Value::Kind::Int: return t_.addObject(ArchiveValue::integer(*v.asInt64()));
        case Value::Kind::Double: return t_.addObject(ArchiveValue::real(*v.asDouble()));
        case Value::Kind::String: return encodeString(*v.string());
        case Value::Kind::Data: {
            const Data& d = *v.data();
            return t_.addObject(t_.data(d.data(), d.size()));
        }
        case Value::Kind::UInt:
        case Value::Kind::Date:
        case Value::Kind::UUID:
        case Value::Kind::Array:
        case Value::Kind::Dictionary:
        case Value::Kind::OrderedDictionary: return encodeContainer(v);
        case Value::Kind::Object: return encodeObject(v.object());
    }
    fail("unknown value kind");
    return 0;
}

bool Encoder::encodeItems(const std::vector<const Value*>& items, std::vector<uint64_t>& uids) {
    uids.reserve(items.size());
    for (const Value* item : items) {
        uids.push_back(item->isNull() ? encodeNull() : encode(*item));
        if (a_.hasFailed()) return false;
    }
    return true;
}

uint64_t Encoder::encodeContainer(const Value& v) {
    const NestingLevel level(s_.depth);
    if (level.tooDeep()) {
        fail("nesting too deep to archive");
        return 0;
    }

    // The container's slot comes before its contents, as in the platform's archives.
    const uint64_t uid = t_.reserveObject();
    const BuiltinClass* cls = nullptr;
    ArchiveValue first;
    ArchiveValue second;
    const char* firstKey = nullptr;
    const char* secondKey = nullptr;
    switch (v.kind()) {
        case Value::Kind::UInt:
            cls = &kNumberClass;
            firstKey = "NS.uintval";
            first = ArchiveValue::unsignedInteger(*v.asUInt64());
            break;
        case Value::Kind::Date:
            cls = &kDateClass;
            firstKey = "NS.time";
            first = ArchiveValue::real(v.date()->timeIntervalSinceReferenceDate());
            break;
        case Value::Kind::UUID: {
            cls = &kUUIDClass;
            const UUID uuid = *v.uuid();
            const auto& b = uuid.bytes();
            firstKey = "NS.uuidbytes";
            first = t_.data(b.data(), b.size());
            break;
        }
        case Value::Kind::Array: {
            cls = &kArrayClass;
            std::vector<const Value*> items;
            for (const Value& item : *v.array()) items.push_back(&item);
            std::vector<uint64_t> uids;
            if (!encodeItems(items, uids)) return 0;
            firstKey = "NS.objects";
            first = t_.uidList(uids);
            break;
        }
        default: {
            cls = v.isOrderedDictionary() ? &kOrderedDictionaryClass : &kDictionaryClass;
            std::vector<uint64_t> keys, values;
            for (const auto& [key, item] : v.dictionaryEntries()) {
                keys.push_back(encodeString(key));
                values.push_back(item.isNull() ? encodeNull() : encode(item));
                if (a_.hasFailed()) return 0;
            }
            firstKey = "NS.keys";
            first = t_.uidList(keys);
            secondKey = "NS.objects";
            second = t_.uidList(values);
            break;
        }
    }
    const uint64_t c = classUid(cls->name, cls->hierarchy);
    if (a_.hasFailed()) return 0;
    t_.openObject();
    t_.set(t_.text(firstKey), first);
    if (secondKey) t_.set(t_.text(secondKey), second);
    t_.set(t_.text("$class"), ArchiveValue::uid(c));
    t_.closeObject(uid);
    return uid;
}

uint64_t Encoder::encodeObject(const std::shared_ptr<Object>& object) {
    if (auto it = s_.objectUids.find(object.get()); it != s_.objectUids.end()) {
        if (s_.inProgress.count(object.get())) {
            fail("reference cycle through an object of class " + object->className());
            return 0;
        }
        return it->second;
    }
    auto coding = std::dynamic_pointer_cast<Coding>(object);
    if (!coding) {
        fail("objects of class " + object->className() + " cannot be archived");
        return 0;
    }
    const NestingLevel level(s_.depth);
    if (level.tooDeep()) {
        fail("nesting too deep to archive");
        return 0;
    }

    const uint64_t uid = t_.reserveObject();
    s_.objectUids.emplace(object.get(), uid);
    s_.inProgress.insert(object.get());
    t_.openObject();
    s_.unkeyed.push_back(0);
    coding->encodeWithCoder(a_);
    s_.unkeyed.pop_back();
    s_.inProgress.erase(object.get());
    if (a_.hasFailed()) return 0;
    const uint64_t c = classUid(coding->className(), coding->classHierarchy());
    if (a_.hasFailed()) return 0;
    t_.set(t_.text("$class"), ArchiveValue::uid(c));
    t_.closeObject(uid);
    return uid;
}

}  // namespace

void KeyedArchiver::setInCurrentObject(std::string_view key, bool escape, const ArchiveValue& value) {
    if (failed_) return;
    // "$"-prefixed keys are the archive's own; a caller's "$key" is stored as "$$key".
    std::string escaped;
    if (escape && !key.empty() && key[0] == '$') {
        escaped = "$" + std::string(key);
        key = escaped;
    }
    auto& table = impl_->table;
    const uint32_t known = table.textCount();
    const uint32_t id = table.text(key);
    if (id >= known && (key.find('\0') != std::string_view::npos || !isValidUtf8(key))) {
        failWithError(codingError(NSCoderInvalidValueError, "archive key is not valid UTF-8 or contains NUL"));
        return;
    }
    table.set(id, value);
}

void KeyedArchiver::encodeObject(const Value& value, std::string_view key) {
    if (failed_) return;
    Encoder e(*this, *impl_);
    const uint64_t uid = e.encode(value);
    setInCurrentObject(key, true, ArchiveValue::uid(uid));
}

void KeyedArchiver::encodeObject(const std::optional<Value>& value, std::string_view key) {
    encodeObject(value ? *value : Value(), key);
}

void KeyedArchiver::encodeObject(const std::shared_ptr<const Coding>& object, std::string_view key) {
    encodeObject(object ? Value(std::const_pointer_cast<Coding>(object)) : Value(), key);
}

void KeyedArchiver::encodeObject(const Value& value) {
    if (failed_) return;
    const std::string key = "$" + std::to_string(impl_->unkeyed.back()++);
    Encoder e(*this, *impl_);
    const uint64_t uid = e.encode(value);
    setInCurrentObject(key, false, ArchiveValue::uid(uid));
}

void KeyedArchiver::encodeBool(bool value, std::string_view key) {
    setInCurrentObject(key, true, ArchiveValue::boolean(value));
}

void KeyedArchiver::encodeInt64(int64_t value, std::string_view key) {
    setInCurrentObject(key, true, ArchiveValue::integer(value));
}

void KeyedArchiver::encodeUInt64(uint64_t value, std::string_view key) { encodeObject(Value(value), key); }

void KeyedArchiver::encodeDouble(double value, std::string_view key) {
    setInCurrentObject(key, true, ArchiveValue::real(value));
}

namespace {

// One table per thread, kept between archives so that archiving allocates
// little beyond its output; an archive made while another is being made on
// the same thread (from an encodeWithCoder) gets a table of its own.
constexpr size_t kMaxRetainedArchiveBytes = 256 * 1024;
thread_local std::unique_ptr<KeyedArchiver::Impl> tSpareArchiverImpl;

}  // namespace

std::optional<Data> KeyedArchiver::archivedDataWithRootObject(const Value& root, Error* error) {
    std::unique_ptr<Impl> impl = std::move(tSpareArchiverImpl);
    if (!impl) impl = std::make_unique<Impl>();
    impl->clear();
    KeyedArchiver archiver(std::move(impl));
    auto& s = *archiver.impl_;
    std::optional<Data> data;
    try {
        s.table.addObject(s.table.string(kNull));
        s.table.openObject();
        s.unkeyed.push_back(0);
        archiver.encodeObject(root, "root");
        s.unkeyed.pop_back();
        if (!archiver.failed_) {
            s.table.closeTop();
            data = s.table.write(kVersion);
        }
    } catch (const std::exception& e) {
        archiver.failWithError(codingError(NSCoderInvalidValueError, std::string("archiving failed: ") + e.what()));
    } catch (...) {
        archiver.failWithError(codingError(NSCoderInvalidValueError, "archiving failed"));
    }
    if (!data && error) *error = s.error;
    if (s.table.retainedBytes() <= kMaxRetainedArchiveBytes) tSpareArchiverImpl = std::move(archiver.impl_);
    return data;
}

// ====================================================================== unarchiver

struct KeyedUnarchiver::Impl {
    PlistPtr root;
    std::vector<plist_t> objects;
    plist_t top = nullptr;
    std::map<std::string, std::string> classMap;
    struct Frame {
        plist_t dict;
        uint64_t unkeyed = 0;
    };
    std::vector<Frame> frames;
    struct Cached {
        Value value;
        uint64_t cost;
    };
    std::unordered_map<uint64_t, Cached> cache;
    std::unordered_set<uint64_t> inProgress;
    uint64_t units = 0;
    size_t depth = 0;
};

namespace {

std::vector<plist_t> arrayItems(plist_t array) {
    std::vector<plist_t> out;
    plist_array_iter it = nullptr;
    plist_array_new_iter(array, &it);
    if (!it) return out;
    for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(array, it, &item);
        if (!item) break;
        out.push_back(item);
    }
    std::free(it);
    return out;
}

plist_t dictItem(plist_t dict, const std::string& key) {
    if (!dict || plist_get_node_type(dict) != PLIST_DICT) return nullptr;
    return plist_dict_get_item(dict, key.c_str());
}

std::optional<std::string> stringItem(plist_t dict, const std::string& key) {
    plist_t item = dictItem(dict, key);
    if (!item) return std::nullopt;
    return detail::plistString(item);
}

std::optional<uint64_t> uidValue(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_UID) return std::nullopt;
    uint64_t uid = 0;
    plist_get_uid_val(node, &uid);
    return uid;
}

}  // namespace

KeyedUnarchiver::KeyedUnarchiver(const Data& data) : impl_(std::make_unique<Impl>()) {
    Error parseError;
    impl_->root = detail::parsePlist(data.data(), data.size(), &parseError);
    if (!impl_->root) {
        failWithError(Error::withDescription(NSCocoaErrorDomain, NSCoderReadCorruptError,
                                             "The archive is not a property list: " + parseError.localizedDescription()));
        return;
    }
    plist_t root = impl_->root.get();
    if (plist_get_node_type(root) != PLIST_DICT) {
        failWithDescription("the archive's root is not a dictionary");
        return;
    }
    auto archiverName = stringItem(root, "$archiver");
    if (!archiverName || *archiverName != "NSKeyedArchiver") {
        failWithDescription("not a keyed archive");
        return;
    }
    plist_t version = dictItem(root, "$version");
    if (version && plist_get_node_type(version) != PLIST_UINT) {
        failWithDescription("bad archive version");
        return;
    }
    plist_t objects = dictItem(root, "$objects");
    if (!objects || plist_get_node_type(objects) != PLIST_ARRAY) {
        failWithDescription("the archive has no objects");
        return;
    }
    impl_->top = dictItem(root, "$top");
    if (!impl_->top || plist_get_node_type(impl_->top) != PLIST_DICT) {
        failWithDescription("the archive has no top");
        return;
    }
    impl_->objects = arrayItems(objects);
    if (impl_->objects.empty()) {
        failWithDescription("the archive has no objects");
        return;
    }
    impl_->frames.push_back({impl_->top, 0});
}

KeyedUnarchiver::~KeyedUnarchiver() = default;

void KeyedUnarchiver::failWithError(const Error& error) {
    if (!error_) error_ = error;
}

void KeyedUnarchiver::failWithDescription(const std::string& description) {
    failWithError(Error::withDescription(NSCocoaErrorDomain, NSCoderReadCorruptError,
                                         "The data couldn\u2019t be read because it isn\u2019t in the correct format: " +
                                             description + "."));
}

void KeyedUnarchiver::setClass(std::string className, std::string forClassName) {
    impl_->classMap[std::move(forClassName)] = std::move(className);
}

void KeyedUnarchiver::setGlobalClass(std::string className, std::string forClassName) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.migrations[std::move(forClassName)] = std::move(className);
}

void KeyedUnarchiver::removeGlobalClassMappings() {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.migrations.clear();
}

void KeyedUnarchiver::registerClass(std::string className, CodingFactory factory) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.factories[std::move(className)] = std::move(factory);
}

bool KeyedUnarchiver::isClassRegistered(std::string_view className) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.factories.count(std::string(className)) != 0;
}

namespace {

uint64_t unitsFor(size_t bytes) { return 1 + bytes / 64; }

}  // namespace

std::optional<Value> KeyedUnarchiver::decodeReference(uint64_t uid) {
    auto& s = *impl_;
    if (error_) return std::nullopt;
    if (uid >= s.objects.size()) {
        failWithDescription("object reference " + std::to_string(uid) + " is out of range");
        return std::nullopt;
    }
    if (uid == 0) return std::nullopt;  // "$null"
    auto charge = [&](uint64_t cost) {
        s.units += cost;
        if (s.units > kMaxDecodedUnits) failWithDescription("the archive expands beyond the decoding limit");
    };
    if (auto it = s.cache.find(uid); it != s.cache.end()) {
        charge(it->second.cost);
        if (error_) return std::nullopt;
        return it->second.value;
    }
    if (s.inProgress.count(uid)) {
        failWithDescription("reference cycle at object " + std::to_string(uid));
        return std::nullopt;
    }
    const uint64_t before = s.units;
    plist_t node = s.objects[static_cast<size_t>(uid)];
    // Only dictionaries nest; the limit counts them as the archiver counts
    // containers and objects.
    if (s.depth >= kMaxDepth && plist_get_node_type(node) == PLIST_DICT) {
        failWithDescription("objects nested too deeply");
        return std::nullopt;
    }
    std::optional<Value> result;
    bool isObject = false;
    switch (plist_get_node_type(node)) {
        case PLIST_STRING: {
            std::string str = detail::plistString(node).value_or("");
            charge(unitsFor(str.size()));
            result = Value(sanitizeUtf8(str));
            break;
        }
        case PLIST_UINT: charge(1); result = Value(detail::plistInt64(node)); break;
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            charge(1);
            result = Value(d);
            break;
        }
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            charge(1);
            result = Value(b != 0);
            break;
        }
        case PLIST_DATA: {
            Data d = detail::plistData(node);
            charge(unitsFor(d.size()));
            result = Value(std::move(d));
            break;
        }
        case PLIST_DATE: charge(1); result = Value(detail::plistDate(node)); break;
        case PLIST_DICT: {
            s.inProgress.insert(uid);
            ++s.depth;
            result = decodeObjectDictionary(node, isObject);
            --s.depth;
            s.inProgress.erase(uid);
            charge(1);
            break;
        }
        default: failWithDescription("object " + std::to_string(uid) + " has an unexpected kind"); break;
    }
    if (error_ || !result) return std::nullopt;
    // A shared object is not copied when it is referenced again; everything else is.
    s.cache.emplace(uid, Impl::Cached{*result, isObject ? 1 : s.units - before});
    return result;
}

std::optional<Value> KeyedUnarchiver::decodeObjectDictionary(void* nodePtr, bool& isObject) {
    auto& s = *impl_;
    plist_t node = static_cast<plist_t>(nodePtr);
    auto classRef = uidValue(dictItem(node, "$class"));
    if (!classRef || *classRef == 0 || *classRef >= s.objects.size()) {
        failWithDescription("object without a valid class reference");
        return std::nullopt;
    }
    plist_t classNode = s.objects[static_cast<size_t>(*classRef)];
    auto className = stringItem(classNode, "$classname");
    if (!className) {
        failWithDescription("malformed class description");
        return std::nullopt;
    }
    std::string name = *className;
    if (auto it = s.classMap.find(name); it != s.classMap.end()) {
        name = it->second;
    } else {
        auto& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (auto g = r.migrations.find(name); g != r.migrations.end()) name = g->second;
    }

    auto uidList = [&](const char* key) -> std::optional<std::vector<uint64_t>> {
        plist_t list = dictItem(node, key);
        if (!list || plist_get_node_type(list) != PLIST_ARRAY) return std::nullopt;
        std::vector<uint64_t> out;
        for (plist_t item : arrayItems(list)) {
            auto u = uidValue(item);
            if (!u) return std::nullopt;
            out.push_back(*u);
        }
        return out;
    };
    auto nonNil = [&](uint64_t uid) -> std::optional<Value> {
        auto v = decodeReference(uid);
        if (!v && !error_) failWithDescription("nil inside a collection");
        return v;
    };

    if (name == "NSArray" || name == "NSMutableArray" || name == "NSSet" || name == "NSMutableSet" ||
        name == "NSOrderedSet" || name == "NSMutableOrderedSet") {
        auto uids = uidList("NS.objects");
        if (!uids) {
            failWithDescription("malformed " + name);
            return std::nullopt;
        }
        Array out;
        out.reserve(uids->size());
        for (uint64_t u : *uids) {
            auto v = nonNil(u);
            if (!v) return std::nullopt;
            out.push_back(std::move(*v));
        }
        return Value(std::move(out));
    }
    if (name == "NSDictionary" || name == "NSMutableDictionary" || name == kOrderedDictionaryClass.name) {
        auto keys = uidList("NS.keys");
        auto values = uidList("NS.objects");
        if (!keys || !values || keys->size() != values->size()) {
            failWithDescription("malformed " + name);
            return std::nullopt;
        }
        const bool ordered = name == kOrderedDictionaryClass.name;
        OrderedDictionary od;
        Dictionary d;
        for (size_t i = 0; i < keys->size(); ++i) {
            auto k = nonNil((*keys)[i]);
            if (!k) return std::nullopt;
            if (!k->isString()) {
                failWithDescription("dictionary key that is not a string");
                return std::nullopt;
            }
            auto v = nonNil((*values)[i]);
            if (!v) return std::nullopt;
            if (ordered) {
                od.set(*k->string(), std::move(*v));
            } else {
                d.insert_or_assign(*k->string(), std::move(*v));
            }
        }
        return ordered ? Value(std::move(od)) : Value(std::move(d));
    }
    if (name == "NSDate") {
        plist_t t = dictItem(node, "NS.time");
        if (t && plist_get_node_type(t) == PLIST_REAL) {
            double d = 0;
            plist_get_real_val(t, &d);
            return Value(Date::fromTimeIntervalSinceReferenceDate(d));
        }
        if (t && plist_get_node_type(t) == PLIST_UINT)
            return Value(Date::fromTimeIntervalSinceReferenceDate(static_cast<double>(detail::plistInt64(t))));
        failWithDescription("malformed NSDate");
        return std::nullopt;
    }
    if (name == "NSUUID") {
        plist_t b = dictItem(node, "NS.uuidbytes");
        if (b && plist_get_node_type(b) == PLIST_DATA) {
            char* bytes = nullptr;
            uint64_t length = 0;
            plist_get_data_val(b, &bytes, &length);
            std::array<uint8_t, 16> raw{};
            const bool ok = bytes && length == 16;
            if (ok) std::memcpy(raw.data(), bytes, 16);
            std::free(bytes);
            if (ok) return Value(UUID(raw));
        }
        failWithDescription("malformed NSUUID");
        return std::nullopt;
    }
    if (name == "NSNull") return Value();
    if (name == "NSNumber") {
        plist_t u = dictItem(node, "NS.uintval");
        if (u && plist_get_node_type(u) == PLIST_UINT) {
            uint64_t bits = 0;
            plist_get_uint_val(u, &bits);
            return Value(bits);
        }
        failWithDescription("malformed NSNumber");
        return std::nullopt;
    }
    if (name == "NSString" || name == "NSMutableString") {
        if (auto str = stringItem(node, "NS.string")) return Value(sanitizeUtf8(*str));
        failWithDescription("malformed " + name);
        return std::nullopt;
    }
    if (name == "NSData" || name == "NSMutableData") {
        plist_t b = dictItem(node, "NS.data");
        if (b && plist_get_node_type(b) == PLIST_DATA) return Value(detail::plistData(b));
        failWithDescription("malformed " + name);
        return std::nullopt;
    }

    CodingFactory factory;
    {
        auto& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (auto it = r.factories.find(name); it != r.factories.end()) factory = it->second;
    }
    if (!factory) {
        failWithDescription("cannot decode object of class (" + *className + ")");
        return std::nullopt;
    }
    s.frames.push_back({node, 0});
    std::shared_ptr<Coding> object;
    try {
        object = factory(*this);
    } catch (const std::exception& e) {
        failWithDescription("decoding an object of class (" + name + ") failed: " + e.what());
    } catch (...) {
        failWithDescription("decoding an object of class (" + name + ") failed");
    }
    s.frames.pop_back();
    if (error_) return std::nullopt;
    if (!object) {
        failWithDescription("could not decode an object of class (" + name + ")");
        return std::nullopt;
    }
    isObject = true;
    return Value(std::shared_ptr<Object>(std::move(object)));
}

bool KeyedUnarchiver::containsValueForKey(std::string_view key) const {
    if (error_ || impl_->frames.empty()) return false;
    return dictItem(impl_->frames.back().dict, escapeKey(key)) != nullptr;
}

std::optional<Value> KeyedUnarchiver::decodeNode(void* nodePtr) {
    plist_t node = static_cast<plist_t>(nodePtr);
    if (!node) return std::nullopt;
    if (auto uid = uidValue(node)) return decodeReference(*uid);
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: return Value(detail::plistInt64(node));
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        default: failWithDescription("a value is neither a reference nor a number"); return std::nullopt;
    }
}

std::optional<Value> KeyedUnarchiver::decodeObject(std::string_view key) {
    if (error_ || impl_->frames.empty()) return std::nullopt;
    return decodeNode(dictItem(impl_->frames.back().dict, escapeKey(key)));
}

std::optional<Value> KeyedUnarchiver::decodeObject() {
    if (error_ || impl_->frames.empty()) return std::nullopt;
    auto& frame = impl_->frames.back();
    return decodeNode(dictItem(frame.dict, "$" + std::to_string(frame.unkeyed++)));
}

void KeyedUnarchiver::kindMismatch(std::string_view key, const char* expected, const Value& got) {
    failWithDescription("the value for key \"" + std::string(key) + "\" is a " +
                        (got.isObject() ? got.object()->className() : std::string(Value::kindName(got.kind()))) +
                        ", not " + expected);
}

template <typename T, typename Read>
std::optional<T> KeyedUnarchiver::decodeKind(std::string_view key, const char* expected, Read read) {
    auto v = decodeObject(key);
    if (!v || error_) return std::nullopt;
    if (auto found = read(*v)) return T(*found);
    kindMismatch(key, expected, *v);
    return std::nullopt;
}

std::optional<std::string> KeyedUnarchiver::decodeString(std::string_view key) {
    return decodeKind<std::string>(key, "a string", [](const Value& v) { return v.string(); });
}

std::optional<Data> KeyedUnarchiver::decodeData(std::string_view key) {
    return decodeKind<Data>(key, "data", [](const Value& v) { return v.data(); });
}

std::optional<Date> KeyedUnarchiver::decodeDate(std::string_view key) {
    return decodeKind<Date>(key, "a date", [](const Value& v) { return v.date(); });
}

std::optional<UUID> KeyedUnarchiver::decodeUUID(std::string_view key) {
    return decodeKind<UUID>(key, "a UUID", [](const Value& v) { return v.uuid(); });
}

std::optional<Array> KeyedUnarchiver::decodeArray(std::string_view key) {
    return decodeKind<Array>(key, "an array", [](const Value& v) { return v.array(); });
}

std::optional<Dictionary> KeyedUnarchiver::decodeDictionary(std::string_view key) {
    return decodeKind<Dictionary>(key, "a dictionary", [](const Value& v) { return v.asDictionary(); });
}

bool KeyedUnarchiver::decodeBool(std::string_view key) {
    auto v = decodeObject(key);
    if (!v || error_) return false;
    if (auto b = v->asBool()) return *b;
    kindMismatch(key, "a number", *v);
    return false;
}

int64_t KeyedUnarchiver::decodeInt64(std::string_view key) {
    auto v = decodeObject(key);
    if (!v || error_) return 0;
    if (v->isUInt() && *v->asUInt64() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        failWithDescription("the value for key \"" + std::string(key) + "\" is too large for a 64-bit signed integer");
        return 0;
    }
    if (v->isDouble()) {
        const double d = *v->asDouble();
        if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) {
            failWithDescription("the value for key \"" + std::string(key) + "\" is out of range for an integer");
            return 0;
        }
    }
    if (auto i = v->asInt64()) return *i;
    kindMismatch(key, "a number", *v);
    return 0;
}

int32_t KeyedUnarchiver::decodeInt32(std::string_view key) {
    const int64_t v = decodeInt64(key);
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
        failWithDescription("the value for key \"" + std::string(key) + "\" is too large for a 32-bit integer");
        return 0;
    }
    return static_cast<int32_t>(v);
}

uint64_t KeyedUnarchiver::decodeUInt64(std::string_view key) {
    auto v = decodeObject(key);
    if (!v || error_) return 0;
    if ((v->isInt() && *v->asInt64() < 0) || (v->isDouble() && !(*v->asDouble() > -1.0 && *v->asDouble() < 18446744073709551616.0))) {
        failWithDescription("the value for key \"" + std::string(key) + "\" is out of range for an unsigned integer");
        return 0;
    }
    if (auto u = v->asUInt64()) return *u;
    kindMismatch(key, "a number", *v);
    return 0;
}

double KeyedUnarchiver::decodeDouble(std::string_view key) {
    auto v = decodeObject(key);
    if (!v || error_) return 0;
    if (auto d = v->asDouble()) return *d;
    kindMismatch(key, "a number", *v);
    return 0;
}

std::optional<Value> KeyedUnarchiver::unarchivedObjectWithData(const Data& data, Error* error,
                                                               const std::map<std::string, std::string>& migrations) {
    std::optional<Error> failure;
    std::optional<Value> result;
    try {
        KeyedUnarchiver u(data);
        for (const auto& [oldName, newName] : migrations) u.setClass(newName, oldName);
        if (!u.error_ && !u.containsValueForKey("root")) u.failWithDescription("the archive has no root object");
        if (!u.error_) {
            auto root = u.decodeObject("root");
            if (!u.error_) result = root ? std::move(*root) : Value();
        }
        failure = u.error_;
    } catch (const std::exception& e) {
        failure = Error::withDescription(NSCocoaErrorDomain, NSCoderReadCorruptError,
                                         std::string("unarchiving failed: ") + e.what());
    } catch (...) {
        failure = Error::withDescription(NSCocoaErrorDomain, NSCoderReadCorruptError, "unarchiving failed");
    }
    if (failure) {
        if (error) *error = *failure;
        return std::nullopt;
    }
    return result;
}

}  // namespace ns
