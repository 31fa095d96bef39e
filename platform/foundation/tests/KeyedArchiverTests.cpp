#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>

#include "platform/foundation/KeyedArchiver.h"

using ns::KeyedArchiver;
using ns::KeyedUnarchiver;
using ns::Value;

namespace {

// A small class hierarchy in the style of the telemetry records.
class Record : public ns::Coding {
public:
    std::optional<std::string> type;
    std::optional<ns::Date> timestamp;
    std::optional<ns::UUID> sid;

    std::string className() const override { return "TestRecord"; }
    std::vector<std::string> classHierarchy() const override { return {"TestRecord", "NSObject"}; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(type ? Value(*type) : Value(), "type");
        coder.encodeObject(timestamp ? Value(*timestamp) : Value(), "timestamp");
        coder.encodeObject(sid ? Value(*sid) : Value(), "sid");
    }
    void decodeFields(KeyedUnarchiver& coder) {
        type = coder.decodeString("type");
        timestamp = coder.decodeDate("timestamp");
        sid = coder.decodeUUID("sid");
    }
    static std::shared_ptr<Record> initWithCoder(KeyedUnarchiver& coder) {
        auto r = std::make_shared<Record>();
        r->decodeFields(coder);
        return r;
    }
};

class Event : public Record {
public:
    std::string name;
    int64_t flags = 0;
    uint64_t sequence = 0;
    double popSample = 0;
    bool critical = false;
    int32_t small = 0;
    ns::Dictionary properties;
    std::shared_ptr<Record> parent;
    std::shared_ptr<Record> sameParent;
    ns::Value unkeyed;
    int64_t dollar = 0;

    std::string className() const override { return "TestEvent"; }
    std::vector<std::string> classHierarchy() const override { return {"TestEvent", "TestRecord", "NSObject"}; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        Record::encodeWithCoder(coder);
        coder.encodeObject(Value(name), "name");
        coder.encodeInt64(flags, "flags");
        coder.encodeUInt64(sequence, "seq");
        coder.encodeDouble(popSample, "popSample");
        coder.encodeBool(critical, "critical");
        coder.encodeInt32(small, "small");
        coder.encodeObject(Value(properties), "properties");
        coder.encodeObject(std::shared_ptr<const ns::Coding>(parent), "parent");
        coder.encodeObject(std::shared_ptr<const ns::Coding>(sameParent), "sameParent");
        coder.encodeObject(Value(1), "$dollar");
        coder.encodeRootObject(unkeyed);
    }
    static std::shared_ptr<Event> initWithCoder(KeyedUnarchiver& coder) {
        auto e = std::make_shared<Event>();
        e->decodeFields(coder);
        e->name = coder.decodeString("name").value_or("");
        e->flags = coder.decodeInt64("flags");
        e->sequence = coder.decodeUInt64("seq");
        e->popSample = coder.decodeDouble("popSample");
        e->critical = coder.decodeBool("critical");
        e->small = coder.decodeInt32("small");
        e->properties = coder.decodeDictionary("properties").value_or(ns::Dictionary{});
        e->parent = coder.decodeObjectOfClass<Record>("parent");
        e->sameParent = coder.decodeObjectOfClass<Record>("sameParent");
        e->dollar = coder.decodeInt64("$dollar");
        e->unkeyed = coder.decodeObject().value_or(Value());
        return e;
    }
};

// Writes the class name of an earlier release.
class OldNamedRecord : public Record {
public:
    std::string className() const override { return "OldRecord"; }
    std::vector<std::string> classHierarchy() const override { return {"OldRecord", "NSObject"}; }
};

class NotCoding : public ns::Object {
public:
    std::string className() const override { return "NotCoding"; }
};

// Holds a value that may point back at itself.
class Holder : public ns::Coding {
public:
    Value held;
    std::string className() const override { return "TestHolder"; }
    void encodeWithCoder(KeyedArchiver& coder) const override { coder.encodeObject(held, "held"); }
    static std::shared_ptr<Holder> initWithCoder(KeyedUnarchiver& coder) {
        auto h = std::make_shared<Holder>();
        h->held = coder.decodeObject("held").value_or(Value());
        return h;
    }
};

class ArchiverTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        KeyedUnarchiver::registerClass<Record>("TestRecord");
        KeyedUnarchiver::registerClass<Event>("TestEvent");
        KeyedUnarchiver::registerClass<Holder>("TestHolder");
        KeyedUnarchiver::registerClass("TestThrows", [](KeyedUnarchiver&) -> std::shared_ptr<ns::Coding> {
            throw std::runtime_error("boom");
        });
        KeyedUnarchiver::registerClass("TestNull", [](KeyedUnarchiver&) -> std::shared_ptr<ns::Coding> { return nullptr; });
    }
    void TearDown() override { KeyedUnarchiver::removeGlobalClassMappings(); }

    static Value roundTrip(const Value& v) {
        ns::Error error;
        auto data = KeyedArchiver::archivedDataWithRootObject(v, &error);
        EXPECT_TRUE(data) << error.description();
        if (!data) return Value();
        auto back = KeyedUnarchiver::unarchivedObjectWithData(*data, &error);
        EXPECT_TRUE(back) << error.description();
        return back.value_or(Value());
    }

    static std::optional<Value> decodeExpectingFailure(const ns::Data& data, const std::string& needle = {}) {
        ns::Error error;
        auto v = KeyedUnarchiver::unarchivedObjectWithData(data, &error);
        EXPECT_FALSE(v.has_value());
        EXPECT_EQ(error.domain, ns::NSCocoaErrorDomain);
        EXPECT_EQ(error.code, ns::NSCoderReadCorruptError);
        if (!needle.empty()) {
            EXPECT_NE(error.localizedDescription().find(needle), std::string::npos) << error.localizedDescription();
        }
        return v;
    }
};

// Builds an archive from hand-made "$objects" (ownership passes to the archive).
ns::Data craftArchive(std::vector<plist_t> objects, plist_t rootRef, const char* archiverName = "NSKeyedArchiver") {
    plist_t archive = plist_new_dict();
    plist_dict_set_item(archive, "$version", plist_new_uint(100000));
    plist_dict_set_item(archive, "$archiver", plist_new_string(archiverName));
    plist_t top = plist_new_dict();
    if (rootRef) plist_dict_set_item(top, "root", rootRef);
    plist_dict_set_item(archive, "$top", top);
    plist_t array = plist_new_array();
    for (plist_t o : objects) plist_array_append_item(array, o);
    plist_dict_set_item(archive, "$objects", array);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(archive, &bytes, &length);
    ns::Data out(reinterpret_cast<uint8_t*>(bytes), reinterpret_cast<uint8_t*>(bytes) + length);
    plist_to_bin_free(bytes);
    plist_free(archive);
    return out;
}

plist_t classDict(const char* name) {
    plist_t c = plist_new_dict();
    plist_dict_set_item(c, "$classname", plist_new_string(name));
    plist_t classes = plist_new_array();
    plist_array_append_item(classes, plist_new_string(name));
    plist_array_append_item(classes, plist_new_string("NSObject"));
    plist_dict_set_item(c, "$classes", classes);
    return c;
}

plist_t arrayObject(std::initializer_list<uint64_t> refs, uint64_t classRef) {
    plist_t o = plist_new_dict();
    plist_t list = plist_new_array();
    for (uint64_t r : refs) plist_array_append_item(list, plist_new_uid(r));
    plist_dict_set_item(o, "NS.objects", list);
    plist_dict_set_item(o, "$class", plist_new_uid(classRef));
    return o;
}

}  // namespace

TEST_F(ArchiverTest, EveryValueKindRoundTripsWithItsKind) {
    const Value v(ns::Array{
        true,
        false,
        int64_t{-1},
        std::numeric_limits<int64_t>::min(),
        std::numeric_limits<int64_t>::max(),
        std::numeric_limits<uint64_t>::max(),
        uint64_t{5},
        0.1,
        -0.0,
        "h\u00e9llo \U0001F600",
        "",
        "$null",
        ns::Data{0, 1, 255},
        ns::Data{},
        ns::Date(1700000000.123456789),
        ns::Date::fromTimeIntervalSinceReferenceDate(-1e9 + 0.25),
        *ns::UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
        ns::Array{ns::Array{}, Value()},  // NSNull inside an array
        ns::Dictionary{{"b", 1}, {"a", ns::Dictionary{}}},
        ns::OrderedDictionary{{"z", 1}, {"a", 2}},
    });
    const Value back = roundTrip(v);
    ASSERT_TRUE(back.isArray());
    ASSERT_EQ(back.count(), v.count());
    for (size_t i = 0; i < v.count(); ++i) {
        EXPECT_EQ(back.at(i)->kind(), v.at(i)->kind()) << i;
        EXPECT_EQ(*back.at(i), *v.at(i)) << i << ": " << back.at(i)->description();
    }
    EXPECT_EQ(*back.at(3)->asInt64(), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(*back.at(5)->asUInt64(), std::numeric_limits<uint64_t>::max());
    EXPECT_TRUE(std::signbit(*back.at(8)->asDouble()));
    EXPECT_EQ(back.at(14)->date()->timeIntervalSince1970(), 1700000000.123456789);  // dates are exact
    EXPECT_EQ(back.at(19)->orderedDictionary()->keys(), (std::vector<std::string>{"z", "a"}));
    EXPECT_TRUE(back.at(17)->at(1)->isNull());

    EXPECT_TRUE(std::isnan(*roundTrip(Value(std::nan(""))).asDouble()));
    EXPECT_TRUE(roundTrip(Value()).isNull());  // a nil root
    EXPECT_EQ(roundTrip(Value("just a string")), Value("just a string"));
}

// Every width the binary writer picks: integers, lengths, references and
// offsets at the edges of one, two, four and eight bytes.
TEST_F(ArchiverTest, ArchivesReadBackAcrossEveryEncodingWidth) {
    ns::Array items;
    for (int64_t n : {int64_t{0xFF}, int64_t{0x100}, int64_t{0xFFFF}, int64_t{0x10000}, int64_t{0xFFFFFFFF},
                      int64_t{0x100000000}, int64_t{-0x100000000}}) {
        items.emplace_back(n);
    }
    items.emplace_back(uint64_t{1} << 63);
    for (size_t length : {14, 15, 16, 300}) {
        items.emplace_back(std::string(length, 'a'));
        items.emplace_back(std::string(length, 'a') + "\u00e9\U0001F600");
    }
    items.emplace_back(ns::Data(70000, 0x5A));  // offsets past 64 KiB
    ns::Array many;
    for (int i = 0; i < 300; ++i) many.emplace_back("s" + std::to_string(i));  // references past 255
    items.emplace_back(many);
    const Value v(items);
    EXPECT_EQ(roundTrip(v), v);
}

TEST_F(ArchiverTest, ObjectsRoundTripWithSharedReferences) {
    auto parent = std::make_shared<Record>();
    parent->type = "startSession";
    parent->timestamp = ns::Date(1.5e9);
    parent->sid = ns::UUID::random();
    auto e = std::make_shared<Event>();
    e->type = "event";
    e->name = "dockPreview_SelectWindow";
    e->flags = -2;
    e->sequence = std::numeric_limits<uint64_t>::max();
    e->popSample = 100.0;
    e->critical = true;
    e->small = -7;
    e->properties = {{"window_ScreenDisplayMode", "1"}, {"n", 3}};
    e->parent = parent;
    e->sameParent = parent;
    e->unkeyed = Value(ns::OrderedDictionary{{"k2", "v"}, {"k1", "w"}});

    ns::Error error;
    auto data = KeyedArchiver::archivedDataWithRootObject(Value(std::shared_ptr<ns::Coding>(e)), &error);
    ASSERT_TRUE(data) << error.description();
    auto back = KeyedUnarchiver::unarchivedObjectOfClass<Event>(*data, &error);
    ASSERT_TRUE(back) << error.description();
    EXPECT_EQ(back->type, "event");
    EXPECT_FALSE(back->timestamp.has_value());
    EXPECT_EQ(back->name, "dockPreview_SelectWindow");
    EXPECT_EQ(back->flags, -2);
    EXPECT_EQ(back->sequence, std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(back->popSample, 100.0);
    EXPECT_TRUE(back->critical);
    EXPECT_EQ(back->small, -7);
    EXPECT_EQ(back->properties, e->properties);
    ASSERT_TRUE(back->parent);
    EXPECT_EQ(back->parent->type, "startSession");
    EXPECT_EQ(back->parent->timestamp, parent->timestamp);
    EXPECT_EQ(back->parent->sid, parent->sid);
    EXPECT_EQ(back->parent, back->sameParent);  // one object, referenced twice
    EXPECT_EQ(back->dollar, 1);                 // a "$" key does not clash with the archive's own
    EXPECT_EQ(back->unkeyed, e->unkeyed);
    EXPECT_EQ(back->unkeyed.orderedDictionary()->keys(), (std::vector<std::string>{"k2", "k1"}));

    // The root is not of the class asked for.
    EXPECT_FALSE(KeyedUnarchiver::unarchivedObjectOfClass<Holder>(*data, &error));
}

TEST_F(ArchiverTest, WritesTheKeyedArchiveLayout) {
    auto r = std::make_shared<Record>();
    r->type = "t";
    auto data = KeyedArchiver::archivedDataWithRootObject(Value(std::shared_ptr<ns::Coding>(r)));
    ASSERT_TRUE(data);
    ASSERT_GE(data->size(), 8u);
    EXPECT_EQ(std::string(data->begin(), data->begin() + 8), "bplist00");

    plist_t root = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(data->data()), static_cast<uint32_t>(data->size()), &root);
    ASSERT_NE(root, nullptr);
    char* s = nullptr;
    plist_get_string_val(plist_dict_get_item(root, "$archiver"), &s);
    EXPECT_STREQ(s, "NSKeyedArchiver");
    free(s);
    uint64_t version = 0;
    plist_get_uint_val(plist_dict_get_item(root, "$version"), &version);
    EXPECT_EQ(version, 100000u);
    plist_t objects = plist_dict_get_item(root, "$objects");
    plist_get_string_val(plist_array_get_item(objects, 0), &s);
    EXPECT_STREQ(s, "$null");
    free(s);
    uint64_t rootUid = 0;
    plist_get_uid_val(plist_dict_get_item(plist_dict_get_item(root, "$top"), "root"), &rootUid);
    plist_t object = plist_array_get_item(objects, static_cast<uint32_t>(rootUid));
    ASSERT_EQ(plist_get_node_type(object), PLIST_DICT);
    uint64_t nilUid = 99;
    plist_get_uid_val(plist_dict_get_item(object, "timestamp"), &nilUid);
    EXPECT_EQ(nilUid, 0u);  // nil is a reference to "$null"
    uint64_t classUid = 0;
    plist_get_uid_val(plist_dict_get_item(object, "$class"), &classUid);
    plist_t cls = plist_array_get_item(objects, static_cast<uint32_t>(classUid));
    plist_get_string_val(plist_dict_get_item(cls, "$classname"), &s);
    EXPECT_STREQ(s, "TestRecord");
    free(s);
    EXPECT_EQ(plist_array_get_size(plist_dict_get_item(cls, "$classes")), 2u);
    plist_free(root);
}

TEST_F(ArchiverTest, OldClassNamesMigrateToRegisteredClasses) {
    auto old = std::make_shared<OldNamedRecord>();
    old->type = "startService";
    auto data = KeyedArchiver::archivedDataWithRootObject(Value(std::shared_ptr<ns::Coding>(old)));
    ASSERT_TRUE(data);

    decodeExpectingFailure(*data, "cannot decode object of class (OldRecord)");

    ns::Error error;
    auto migrated = KeyedUnarchiver::unarchivedObjectWithData(*data, &error, {{"OldRecord", "TestRecord"}});
    ASSERT_TRUE(migrated) << error.description();
    auto record = migrated->objectAs<Record>();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->className(), "TestRecord");
    EXPECT_EQ(record->type, "startService");

    KeyedUnarchiver::setGlobalClass("TestRecord", "OldRecord");
    EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClass<Record>(*data, &error));
    KeyedUnarchiver::setGlobalClass("TestEvent", "OldRecord");  // a later entry replaces the earlier one
    EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClass<Event>(*data, &error));
}

TEST_F(ArchiverTest, ArchivingRefusesWhatCannotBeDecoded) {
    ns::Error error;
    EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(Value(std::make_shared<NotCoding>()), &error));
    EXPECT_NE(error.localizedDescription().find("NotCoding"), std::string::npos);

    auto h = std::make_shared<Holder>();
    h->held = Value(ns::Array{Value(std::shared_ptr<ns::Coding>(h))});  // the holder inside itself
    EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(Value(std::shared_ptr<ns::Coding>(h)), &error));
    EXPECT_NE(error.localizedDescription().find("cycle"), std::string::npos);
    h->held = Value();  // break the cycle so the holder can be freed

    EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(Value(std::string("bad \xff")), &error));
    EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(Value(std::string("nul\0", 4)), &error));
    EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(Value(ns::Dictionary{{"k\xff", 1}}), &error));

    Value deep = Value(ns::Array{});
    for (int i = 0; i < 600; ++i) deep = Value(ns::Array{deep});
    EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(deep, &error));
    EXPECT_NE(error.localizedDescription().find("deep"), std::string::npos);
}

// Whatever the archiver writes, the unarchiver must read back: a nesting the
// reader refuses is refused when writing, so no stored archive is unreadable.
TEST_F(ArchiverTest, EveryNestingThatArchivesUnarchives) {
    Value deep = Value(ns::Array{Value(std::string("leaf")), Value(int64_t{-5})});
    int archived = 0;
    for (int depth = 1; depth <= 600; ++depth) {
        deep = Value(ns::Array{deep});
        ns::Error error;
        auto data = KeyedArchiver::archivedDataWithRootObject(deep, &error);
        if (!data) {
            EXPECT_NE(error.localizedDescription().find("deep"), std::string::npos);
            break;
        }
        archived = depth;
        auto back = KeyedUnarchiver::unarchivedObjectWithData(*data, &error);
        ASSERT_TRUE(back) << "depth " << depth << ": " << error.localizedDescription();
        EXPECT_EQ(*back, deep);
    }
    EXPECT_GE(archived, 200);  // far beyond any real record
    EXPECT_LT(archived, 600);
}

TEST_F(ArchiverTest, GarbageAndTruncatedArchivesFailCleanly) {
    decodeExpectingFailure(ns::Data{});
    decodeExpectingFailure(ns::Data{'n', 'o', 'p', 'e'});
    auto e = std::make_shared<Event>();
    e->name = "x";
    e->properties = {{"a", ns::Array{1, 2.5, "s"}}};
    e->parent = std::make_shared<Record>();
    auto data = KeyedArchiver::archivedDataWithRootObject(Value(std::shared_ptr<ns::Coding>(e)));
    ASSERT_TRUE(data);
    for (size_t n = 0; n < data->size(); ++n) {
        ns::Data cut(data->begin(), data->begin() + static_cast<std::ptrdiff_t>(n));
        ns::Error error;
        EXPECT_FALSE(KeyedUnarchiver::unarchivedObjectWithData(cut, &error)) << n;
    }
    // Random damage must never crash or throw; a damaged archive may still decode.
    std::mt19937 rng(99);
    for (int i = 0; i < 3000; ++i) {
        ns::Data bent = *data;
        const int edits = 1 + static_cast<int>(rng() % 3);
        for (int k = 0; k < edits; ++k) bent[rng() % bent.size()] = static_cast<uint8_t>(rng());
        ns::Error error;
        (void)KeyedUnarchiver::unarchivedObjectWithData(bent, &error);
    }
    // A property list that is not an archive.
    plist_t objects[] = {plist_new_string("$null")};
    decodeExpectingFailure(craftArchive({objects[0]}, plist_new_uid(0), "SomethingElse"), "not a keyed archive");
}

TEST_F(ArchiverTest, HostileArchivesFailCleanly) {
    // A UID past the end of "$objects", far or exactly one past it: as the
    // root, inside an array, and as an object's class.
    decodeExpectingFailure(craftArchive({plist_new_string("$null")}, plist_new_uid(5)), "out of range");
    decodeExpectingFailure(craftArchive({plist_new_string("$null")}, plist_new_uid(1)), "out of range");
    decodeExpectingFailure(craftArchive({plist_new_string("$null"), arrayObject({3}, 2), classDict("NSArray")},
                                        plist_new_uid(1)),
                           "out of range");
    {
        plist_t o = plist_new_dict();
        plist_dict_set_item(o, "$class", plist_new_uid(2));
        decodeExpectingFailure(craftArchive({plist_new_string("$null"), o}, plist_new_uid(1)), "class");
    }
    // No root.
    decodeExpectingFailure(craftArchive({plist_new_string("$null")}, nullptr), "no root");
    // A root that is not a reference.
    decodeExpectingFailure(craftArchive({plist_new_string("$null")}, plist_new_string("x")));
    // An array that contains itself.
    decodeExpectingFailure(craftArchive({plist_new_string("$null"), arrayObject({1}, 2), classDict("NSArray")},
                                        plist_new_uid(1)),
                           "cycle");
    // An object whose class is unknown.
    {
        plist_t o = plist_new_dict();
        plist_dict_set_item(o, "$class", plist_new_uid(2));
        decodeExpectingFailure(craftArchive({plist_new_string("$null"), o, classDict("Mystery")}, plist_new_uid(1)),
                               "Mystery");
    }
    // A class reference that points at a string.
    {
        plist_t o = plist_new_dict();
        plist_dict_set_item(o, "$class", plist_new_uid(0));
        decodeExpectingFailure(craftArchive({plist_new_string("$null"), o}, plist_new_uid(1)), "class");
    }
    // nil inside an array.
    decodeExpectingFailure(craftArchive({plist_new_string("$null"), arrayObject({0}, 2), classDict("NSArray")},
                                        plist_new_uid(1)),
                           "nil inside");
    // A dictionary whose key is a number.
    {
        plist_t d = plist_new_dict();
        plist_t keys = plist_new_array();
        plist_array_append_item(keys, plist_new_uid(3));
        plist_t values = plist_new_array();
        plist_array_append_item(values, plist_new_uid(3));
        plist_dict_set_item(d, "NS.keys", keys);
        plist_dict_set_item(d, "NS.objects", values);
        plist_dict_set_item(d, "$class", plist_new_uid(2));
        decodeExpectingFailure(craftArchive({plist_new_string("$null"), d, classDict("NSDictionary"), plist_new_uint(4)},
                                            plist_new_uid(1)),
                               "key");
    }
    // More values than keys, though every key has one: they pair up by position.
    for (const char* cls : {"NSDictionary", "NSMutableDictionary", "NSOrderedDictionary"}) {
        plist_t d = arrayObject({4, 4}, 2);
        plist_t keys = plist_new_array();
        plist_array_append_item(keys, plist_new_uid(3));
        plist_dict_set_item(d, "NS.keys", keys);
        decodeExpectingFailure(craftArchive({plist_new_string("$null"), d, classDict(cls), plist_new_string("k"),
                                             plist_new_uint(1)},
                                            plist_new_uid(1)),
                               std::string("malformed ") + cls);
    }
    // A UUID of the wrong length.
    {
        plist_t u = plist_new_dict();
        plist_dict_set_item(u, "NS.uuidbytes", plist_new_data("abc", 3));
        plist_dict_set_item(u, "$class", plist_new_uid(2));
        decodeExpectingFailure(craftArchive({plist_new_string("$null"), u, classDict("NSUUID")}, plist_new_uid(1)),
                               "NSUUID");
    }
    // Arrays that share their elements: 2^60 values once expanded, from 62 objects.
    {
        std::vector<plist_t> objs{plist_new_string("$null"), classDict("NSArray")};
        for (uint64_t i = 2; i < 62; ++i) objs.push_back(arrayObject({i + 1, i + 1}, 1));
        objs.push_back(plist_new_uint(7));
        decodeExpectingFailure(craftArchive(objs, plist_new_uid(2)), "limit");
    }
    // Objects nested far deeper than any real record.
    {
        std::vector<plist_t> objs{plist_new_string("$null"), classDict("NSArray")};
        for (uint64_t i = 2; i < 5000; ++i) objs.push_back(arrayObject({i + 1}, 1));
        objs.push_back(plist_new_uint(7));
        decodeExpectingFailure(craftArchive(objs, plist_new_uid(2)), "deeply");
    }
}

TEST_F(ArchiverTest, WrongKindsAndFailingFactoriesFailTheWholeDecode) {
    // A record whose "type" holds a number.
    plist_t o = plist_new_dict();
    plist_dict_set_item(o, "type", plist_new_uid(3));
    plist_dict_set_item(o, "$class", plist_new_uid(2));
    decodeExpectingFailure(craftArchive({plist_new_string("$null"), o, classDict("TestRecord"), plist_new_uint(12)},
                                        plist_new_uid(1)),
                           "\"type\"");

    for (const char* cls : {"TestThrows", "TestNull"}) {
        plist_t t = plist_new_dict();
        plist_dict_set_item(t, "$class", plist_new_uid(2));
        decodeExpectingFailure(craftArchive({plist_new_string("$null"), t, classDict(cls)}, plist_new_uid(1)), cls);
    }

    // Typed decoders check ranges.
    struct Wide : ns::Coding {
        std::string className() const override { return "TestWide"; }
        void encodeWithCoder(KeyedArchiver& coder) const override {
            coder.encodeInt64(int64_t{1} << 40, "big");
            coder.encodeInt64(-1, "negative");
            coder.encodeUInt64(std::numeric_limits<uint64_t>::max(), "huge");
        }
    };
    auto data = KeyedArchiver::archivedDataWithRootObject(Value(std::make_shared<Wide>()));
    ASSERT_TRUE(data);
    for (const char* key : {"big", "negative", "huge"}) {
        KeyedUnarchiver::registerClass("TestWide", [key](KeyedUnarchiver& coder) -> std::shared_ptr<ns::Coding> {
            if (std::string(key) == "big") (void)coder.decodeInt32(key);
            if (std::string(key) == "negative") (void)coder.decodeUInt64(key);
            if (std::string(key) == "huge") (void)coder.decodeInt64(key);
            return std::make_shared<Wide>();
        });
        decodeExpectingFailure(*data, key);
    }
    KeyedUnarchiver::registerClass("TestWide", [](KeyedUnarchiver& coder) -> std::shared_ptr<ns::Coding> {
        EXPECT_EQ(coder.decodeInt64("big"), int64_t{1} << 40);
        EXPECT_EQ(coder.decodeInt64("negative"), -1);
        EXPECT_EQ(coder.decodeUInt64("huge"), std::numeric_limits<uint64_t>::max());
        EXPECT_EQ(coder.decodeInt64("absent"), 0);
        EXPECT_FALSE(coder.decodeBool("absent"));
        EXPECT_FALSE(coder.containsValueForKey("absent"));
        EXPECT_TRUE(coder.containsValueForKey("big"));
        return std::make_shared<Wide>();
    });
    ns::Error error;
    EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectWithData(*data, &error)) << error.description();
}
