#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cmath>
#include <limits>
#include <random>

#include "platform/foundation/PropertyList.h"

using ns::PropertyListFormat;
using ns::PropertyListSerialization;
using ns::Value;

namespace {

// A hand-made "bplist00" document: objects already encoded with 4-byte
// references, offsets written with 4 bytes.
ns::Data binaryPlist(const std::vector<ns::Data>& objects, uint64_t top) {
    ns::Data out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<uint32_t> offsets;
    for (const auto& o : objects) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        out.insert(out.end(), o.begin(), o.end());
    }
    const uint64_t table = out.size();
    for (uint32_t off : offsets) {
        for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(off >> s));
    }
    for (int i = 0; i < 6; ++i) out.push_back(0);
    out.push_back(4);  // offset size
    out.push_back(4);  // reference size
    for (uint64_t v : {static_cast<uint64_t>(objects.size()), top, table}) {
        for (int s = 56; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
    }
    return out;
}

ns::Data arrayOf(std::initializer_list<uint32_t> refs) {
    ns::Data o{static_cast<uint8_t>(0xA0 | refs.size())};
    for (uint32_t r : refs) {
        for (int s = 24; s >= 0; s -= 8) o.push_back(static_cast<uint8_t>(r >> s));
    }
    return o;
}

std::optional<Value> read(const ns::Data& d, ns::Error* error = nullptr) {
    return PropertyListSerialization::propertyListWithData(d, error);
}

}  // namespace

TEST(PropertyList, RoundTripsInBothFormats) {
    const Value v(ns::Dictionary{
        {"t", true},
        {"neg", int64_t{-5}},
        {"min", std::numeric_limits<int64_t>::min()},
        {"max", std::numeric_limits<int64_t>::max()},
        {"real", -0.0},
        {"s", "\u00e9\U0001F600"},
        {"empty", ""},
        {"data", ns::Data{0, 1, 2}},
        {"a", ns::Array{ns::Array{}, ns::Dictionary{}}},
    });
    for (auto format : {PropertyListFormat::Binary, PropertyListFormat::XML}) {
        auto data = PropertyListSerialization::dataWithPropertyList(v, format);
        ASSERT_TRUE(data);
        PropertyListFormat seen{};
        auto back = PropertyListSerialization::propertyListWithData(*data, nullptr, &seen);
        ASSERT_TRUE(back);
        EXPECT_EQ(seen, format);
        EXPECT_EQ(*back, v);
        EXPECT_EQ(back->find("neg")->kind(), Value::Kind::Int);
        EXPECT_EQ(back->find("real")->kind(), Value::Kind::Double);
        // The XML writer of libplist drops the sign of negative zero.
        if (format == PropertyListFormat::Binary) {
            EXPECT_TRUE(std::signbit(*back->find("real")->asDouble()));
        }
    }
}

TEST(PropertyList, BinaryDocumentsReadAsLibplistsOwnDo) {
    // Sizes on both sides of every width the format switches at: lengths in
    // the marker or after it, 1-, 2- and 4-byte integers, references and offsets.
    ns::Array many;
    for (int i = 0; i < 300; ++i) many.push_back(i % 3 == 0 ? Value(int64_t{i}) : Value("item " + std::to_string(i)));
    std::string longText(300, 'z');
    longText.append("\u00e9\U0001F600");
    const Value v(ns::OrderedDictionary{
        {"fourteen chars", std::string(14, 'x')},
        {"fifteen chars..", std::string(15, 'y')},
        {"long \u00e9", longText},
        {"ints", ns::Array{int64_t{255}, int64_t{256}, int64_t{65535}, int64_t{65536}, int64_t{4294967295},
                           int64_t{4294967296}, int64_t{-1}, std::numeric_limits<int64_t>::min()}},
        {"big", ns::Data(70000, 0xAB)},
        {"when", ns::Date(1700000000.0)},  // whole seconds: libplist is fed from XML
        {"before 2001", ns::Date(86400.0)},
        {"many", many},
        {"nested", ns::Dictionary{{"e", ns::Array{}}, {"d", ns::Dictionary{}}, {"f", 1.5}, {"b", false}}},
    });
    auto ours = PropertyListSerialization::dataWithPropertyList(v, PropertyListFormat::Binary);
    ASSERT_TRUE(ours);
    // The same value through libplist's writer.
    auto xml = PropertyListSerialization::dataWithPropertyList(v, PropertyListFormat::XML);
    plist_t node = nullptr;
    plist_from_xml(reinterpret_cast<const char*>(xml->data()), static_cast<uint32_t>(xml->size()), &node);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    const ns::Data theirs(reinterpret_cast<uint8_t*>(bytes), reinterpret_cast<uint8_t*>(bytes) + length);
    plist_to_bin_free(bytes);
    plist_free(node);
    EXPECT_EQ(read(*ours), read(theirs));
    EXPECT_EQ(*read(*ours)->find("ints"), *v.find("ints"));
    EXPECT_EQ(*read(*ours)->find("big"), *v.find("big"));
}

TEST(PropertyList, RefusesValuesItCannotHold) {
    ns::Error error;
    EXPECT_FALSE(PropertyListSerialization::dataWithPropertyList(Value(ns::Array{Value()}), PropertyListFormat::Binary,
                                                                &error));
    EXPECT_EQ(error.code, ns::NSPropertyListWriteInvalidError);
    std::string why;
    EXPECT_FALSE(PropertyListSerialization::isPropertyList(Value(uint64_t{1} << 63), &why));
    EXPECT_NE(why.find("too large"), std::string::npos);
    EXPECT_TRUE(PropertyListSerialization::isPropertyList(Value(uint64_t{1} << 62)));
    EXPECT_FALSE(PropertyListSerialization::isPropertyList(Value(ns::Dictionary{{std::string("a\0b", 3), 1}})));
}

TEST(PropertyList, GarbageIsAnErrorNotACrash) {
    const auto good = *PropertyListSerialization::dataWithPropertyList(
        Value(ns::Dictionary{{"a", ns::Array{1, "x", ns::Data{9}}}, {"b", 2.5}}), PropertyListFormat::Binary);
    // Every truncation.
    for (size_t n = 0; n < good.size(); ++n) {
        ns::Data cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(read(cut).has_value()) << n;
    }
    // Random single-byte damage, deterministically seeded: must not crash;
    // the result may or may not parse.
    std::mt19937 rng(1234);
    for (int i = 0; i < 3000; ++i) {
        ns::Data bent = good;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) bent[rng() % bent.size()] = static_cast<uint8_t>(rng());
        (void)read(bent);
    }
    ns::Error error;
    EXPECT_FALSE(read(ns::Data{'h', 'e', 'l', 'l', 'o'}, &error));
    EXPECT_EQ(error.domain, ns::NSCocoaErrorDomain);
    EXPECT_EQ(error.code, ns::NSPropertyListReadCorruptError);
}

TEST(PropertyList, HostileBinaryStructuresAreRefused) {
    ns::Error error;
    // An array that contains itself.
    EXPECT_FALSE(read(binaryPlist({arrayOf({0})}, 0), &error));
    EXPECT_NE(error.localizedDescription().find("cycle"), std::string::npos);
    // Two arrays that contain each other.
    EXPECT_FALSE(read(binaryPlist({arrayOf({1}), arrayOf({0})}, 0)));
    // A reference past the last object.
    EXPECT_FALSE(read(binaryPlist({arrayOf({7})}, 0)));
    // A top object past the end.
    EXPECT_FALSE(read(binaryPlist({ns::Data{0x10, 5}}, 3)));
    // A dictionary whose key is an integer.
    EXPECT_FALSE(read(binaryPlist({ns::Data{0xD1, 0, 0, 0, 1, 0, 0, 0, 1}, ns::Data{0x10, 5}}, 0)));
    // Nesting far deeper than any real file: the parser would run out of stack.
    std::vector<ns::Data> deep;
    for (uint32_t i = 0; i < 100000; ++i) deep.push_back(i + 1 < 100000 ? arrayOf({i + 1}) : ns::Data{0x10, 5});
    EXPECT_FALSE(read(binaryPlist(deep, 0), &error));
    EXPECT_NE(error.localizedDescription().find("deep"), std::string::npos);
    // Shared references that expand exponentially (2^40 nodes from 40 objects).
    std::vector<ns::Data> dag;
    for (uint32_t i = 0; i < 40; ++i) dag.push_back(i + 1 < 40 ? arrayOf({i + 1, i + 1}) : ns::Data{0x10, 5});
    EXPECT_FALSE(read(binaryPlist(dag, 0), &error));
    EXPECT_NE(error.localizedDescription().find("expanded"), std::string::npos);
    // Moderate sharing is fine.
    std::vector<ns::Data> small;
    for (uint32_t i = 0; i < 5; ++i) small.push_back(i + 1 < 5 ? arrayOf({i + 1, i + 1}) : ns::Data{0x10, 5});
    auto ok = read(binaryPlist(small, 0));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->count(), 2u);
}

TEST(PropertyList, DeepXmlIsRefused) {
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 100000; ++i) xml += "<array>";
    xml += "<integer>1</integer>";
    for (int i = 0; i < 100000; ++i) xml += "</array>";
    xml += "</plist>";
    ns::Error error;
    EXPECT_FALSE(PropertyListSerialization::propertyListWithData(reinterpret_cast<const uint8_t*>(xml.data()),
                                                                 xml.size(), &error));
    EXPECT_NE(error.localizedDescription().find("deep"), std::string::npos);
    const std::string selfClosing =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><array/><key>b</key><dict/></dict></plist>";
    auto v = PropertyListSerialization::propertyListWithData(reinterpret_cast<const uint8_t*>(selfClosing.data()),
                                                             selfClosing.size());
    ASSERT_TRUE(v);
    EXPECT_EQ(*v, Value(ns::Dictionary{{"a", ns::Array{}}, {"b", ns::Dictionary{}}}));
}

TEST(PropertyList, StringsWithNulAreRefusedBeforeLibplistSeesThem) {
    // libplist hands strings out as C strings and asserts on an embedded NUL.
    EXPECT_FALSE(read(binaryPlist({arrayOf({1}), ns::Data{0x53, 'a', 0, 'b'}}, 0)));
    EXPECT_FALSE(read(binaryPlist({arrayOf({1}), ns::Data{0x62, 0, 'a', 0, 0}}, 0)));
    auto ok = read(binaryPlist({arrayOf({1}), ns::Data{0x62, 0, 'a', 0x26, 0x3A}}, 0));  // "a" + U+263A
    ASSERT_TRUE(ok);
    EXPECT_EQ(*ok, Value(ns::Array{"a\u263A"}));
    const std::string xml("<?xml version=\"1.0\"?><plist><array><string>a\0b</string></array></plist>", 71);
    EXPECT_FALSE(PropertyListSerialization::propertyListWithData(reinterpret_cast<const uint8_t*>(xml.data()), xml.size()));
}

