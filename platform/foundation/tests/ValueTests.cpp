#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

using ns::Value;

namespace {

struct Point : ns::Object {
    int x = 0;
    explicit Point(int x) : x(x) {}
    std::string className() const override { return "Point"; }
    bool isEqual(const ns::Object& other) const override {
        auto p = dynamic_cast<const Point*>(&other);
        return p && p->x == x;
    }
};

}  // namespace

TEST(Value, NumbersKeepTheirKind) {
    EXPECT_EQ(Value(true).kind(), Value::Kind::Bool);
    EXPECT_EQ(Value(7).kind(), Value::Kind::Int);
    EXPECT_EQ(Value(int64_t{-7}).kind(), Value::Kind::Int);
    EXPECT_EQ(Value(7u).kind(), Value::Kind::UInt);
    EXPECT_EQ(Value(uint64_t{7}).kind(), Value::Kind::UInt);
    EXPECT_EQ(Value(7.0).kind(), Value::Kind::Double);
    EXPECT_EQ(Value(1.5f).kind(), Value::Kind::Double);
    EXPECT_EQ(Value("x").kind(), Value::Kind::String);  // not bool, despite the pointer
    EXPECT_TRUE(Value(true).isNumber());
    EXPECT_FALSE(Value("1").isNumber());
}

TEST(Value, NumbersCompareByValueAcrossKinds) {
    EXPECT_EQ(Value(1), Value(true));
    EXPECT_EQ(Value(1u), Value(1.0));
    EXPECT_EQ(Value(0), Value(false));
    EXPECT_NE(Value(1), Value(1.5));
    EXPECT_NE(Value(-1), Value(std::numeric_limits<uint64_t>::max()));
    EXPECT_EQ(Value(std::numeric_limits<uint64_t>::max()), Value(std::numeric_limits<uint64_t>::max()));
    // 2^53 + 1 is not representable as a double; an exact comparison says so.
    const int64_t big = (int64_t{1} << 53) + 1;
    EXPECT_NE(Value(big), Value(static_cast<double>(big)));
    EXPECT_NE(Value(std::nan("")), Value(std::nan("")));
    EXPECT_NE(Value(1), Value("1"));
}

TEST(Value, NumberConversionsTruncateAndSaturate) {
    EXPECT_EQ(*Value(3.9).asInt64(), 3);
    EXPECT_EQ(*Value(-3.9).asInt64(), -3);
    EXPECT_EQ(*Value(1e300).asInt64(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(*Value(-1e300).asInt64(), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(*Value(std::nan("")).asInt64(), 0);
    EXPECT_EQ(*Value(std::numeric_limits<uint64_t>::max()).asInt64(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(*Value(-5).asUInt64(), 0u);
    EXPECT_EQ(*Value(true).asDouble(), 1.0);
    EXPECT_TRUE(*Value(0.25).asBool());
    EXPECT_FALSE(*Value(0u).asBool());
    EXPECT_FALSE(Value("12").asInt64().has_value());
    EXPECT_FALSE(Value().asBool().has_value());
}

TEST(Value, TypedAccessorsMatchOnlyTheirKind) {
    Value s("hello");
    ASSERT_NE(s.string(), nullptr);
    EXPECT_EQ(*s.string(), "hello");
    EXPECT_EQ(s.data(), nullptr);
    EXPECT_EQ(s.array(), nullptr);
    EXPECT_FALSE(s.date().has_value());

    Value d(ns::Dictionary{{"a", 1}, {"b", "two"}});
    ASSERT_NE(d.find("b"), nullptr);
    EXPECT_EQ(*d.find("b"), Value("two"));
    EXPECT_EQ(d.find("c"), nullptr);
    EXPECT_EQ(s.find("a"), nullptr);
    EXPECT_EQ(d.count(), 2u);

    Value a(ns::Array{1, "x"});
    ASSERT_NE(a.at(1), nullptr);
    EXPECT_EQ(a.at(2), nullptr);

    auto obj = std::make_shared<Point>(3);
    Value o(obj);
    EXPECT_EQ(o.objectAs<Point>()->x, 3);
    EXPECT_EQ(o.objectAs<ns::ErrorObject>(), nullptr);
    EXPECT_TRUE(Value(std::shared_ptr<Point>()).isNull());
}

TEST(Value, ContainersAndObjectsCompareDeeply) {
    EXPECT_EQ(Value(ns::Array{1, ns::Array{2.0, "x"}}), Value(ns::Array{true, ns::Array{2, "x"}}));
    EXPECT_NE(Value(ns::Array{1, 2}), Value(ns::Array{2, 1}));
    EXPECT_EQ(Value(std::make_shared<Point>(1)), Value(std::make_shared<Point>(1)));
    EXPECT_NE(Value(std::make_shared<Point>(1)), Value(std::make_shared<Point>(2)));
    EXPECT_EQ(Value(), Value::null());
    EXPECT_NE(Value(), Value(0));
    EXPECT_EQ(Value(ns::Data{1, 2}), Value(ns::Data{1, 2}));
}

TEST(OrderedDictionary, KeepsFirstInsertionOrder) {
    ns::OrderedDictionary d;
    d.set("b", 1);
    d.set("a", 2);
    d.set("b", 3);  // replacing keeps the first position
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(*d.find("b"), Value(3));
    EXPECT_TRUE(d.erase("b"));
    d.set("c", 4);
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(*d.find("c"), Value(4));
    d.clear();
    EXPECT_EQ(d.size(), 0u);
    EXPECT_TRUE(d.keys().empty());
}

TEST(OrderedDictionary, EqualityDependsOnOrderOnlyBetweenOrderedOnes) {
    ns::OrderedDictionary ab{{"a", 1}, {"b", 2}};
    ns::OrderedDictionary ba{{"b", 2}, {"a", 1}};
    EXPECT_NE(Value(ab), Value(ba));
    EXPECT_EQ(Value(ab), Value(ns::Dictionary{{"a", 1}, {"b", 2}}));
    EXPECT_EQ(Value(ns::Dictionary{{"a", 1}, {"b", 2}}), Value(ba));
    EXPECT_NE(Value(ab), Value(ns::Dictionary{{"a", 1}}));
}

TEST(Date, ReferenceDateConversions) {
    const auto ref = ns::Date::fromTimeIntervalSinceReferenceDate(0);
    EXPECT_EQ(ref.timeIntervalSince1970(), 978307200.0);
    EXPECT_EQ(ns::Date(978307260.5).timeIntervalSinceReferenceDate(), 60.5);
    EXPECT_EQ(ref.description(), "2001-01-01 00:00:00 +0000");
    EXPECT_EQ(ns::Date(0).description(), "1970-01-01 00:00:00 +0000");
    EXPECT_LT(ns::Date(1), ns::Date(2));
    EXPECT_GT(ns::Date::now().timeIntervalSince1970(), 1.6e9);
}

TEST(UUID, ParsesFormatsAndGenerates) {
    auto u = ns::UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(u.has_value());
    EXPECT_EQ(u->UUIDString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(ns::UUID::fromString(u->UUIDString()), u);
    EXPECT_FALSE(ns::UUID::fromString("E621E1F8C36C495A93FC0C247A3E6E5F").has_value());
    EXPECT_FALSE(ns::UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5G").has_value());
    EXPECT_FALSE(ns::UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5").has_value());
    EXPECT_FALSE(ns::UUID::fromString("").has_value());

    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const auto r = ns::UUID::random();
        EXPECT_EQ(r.bytes()[6] >> 4, 4);         // version 4
        EXPECT_EQ(r.bytes()[8] & 0xC0, 0x80);    // RFC 4122 variant
        seen.insert(r.UUIDString());
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(Value, DescriptionReadsLikeThePlatform) {
    EXPECT_EQ(Value(true).description(), "1");
    EXPECT_EQ(Value(false).description(), "0");
    EXPECT_EQ(Value(-42).description(), "-42");
    EXPECT_EQ(Value(0.5).description(), "0.5");
    EXPECT_EQ(Value(2.0).description(), "2");
    EXPECT_EQ(Value(0.1).description(), "0.1");
    EXPECT_EQ(Value("a b").description(), "a b");
    EXPECT_EQ(Value(ns::Data{0xde, 0xad, 0xbe, 0xef, 0x01}).description(), "<deadbeef 01>");
    EXPECT_EQ(Value().description(), "<null>");
    EXPECT_EQ(Value(ns::Array{1, "a b"}).description(), "(\n    1,\n    \"a b\"\n)");
    EXPECT_EQ(Value(ns::Dictionary{{"k", 1}}).description(), "{\n    k = 1;\n}");
}

TEST(Error, LocalizedDescriptionFallsBackToAGenericText) {
    auto e = ns::Error::withDescription("com.example", 3, "The service is disabled.");
    EXPECT_EQ(e.localizedDescription(), "The service is disabled.");
    ns::Error plain(ns::NSURLErrorDomain, ns::NSURLErrorTimedOut);
    EXPECT_EQ(plain.localizedDescription(), "The operation couldn\u2019t be completed. (NSURLErrorDomain error -1001.)");
    ns::Error wrongType("d", 1, ns::Dictionary{{ns::NSLocalizedDescriptionKey, 5}});
    EXPECT_EQ(wrongType.localizedDescription(), "The operation couldn\u2019t be completed. (d error 1.)");
    EXPECT_EQ(e.description(), "Error Domain=com.example Code=3 \"The service is disabled.\"");
}

TEST(Error, CarriesAnUnderlyingError) {
    ns::Error outer("outer", 1);
    EXPECT_EQ(outer.underlyingError(), nullptr);
    outer.setUnderlyingError(ns::Error(ns::NSURLErrorDomain, ns::NSURLErrorCancelled));
    ASSERT_NE(outer.underlyingError(), nullptr);
    EXPECT_EQ(outer.underlyingError()->code, -999);
    EXPECT_EQ(outer, outer);
    EXPECT_EQ(ns::NSURLErrorServerCertificateNotYetValid, -1204);
    EXPECT_EQ(ns::NSURLErrorNotConnectedToInternet, -1009);
}
