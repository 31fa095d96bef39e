// UTF-16 measuring, JSON, Base64 and ISO 8601 dates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Iso8601.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Utf16.h"

using ns::Value;

// ---------------------------------------------------------------- UTF-16

TEST(Utf16, LengthCountsUtf16Units) {
    EXPECT_EQ(ns::utf16Length(""), 0u);
    EXPECT_EQ(ns::utf16Length("abc"), 3u);
    EXPECT_EQ(ns::utf16Length("h\u00e9"), 2u);          // 2-byte sequence, one unit
    EXPECT_EQ(ns::utf16Length("\u20ac"), 1u);           // 3-byte sequence, one unit
    EXPECT_EQ(ns::utf16Length("\U0001F600"), 2u);       // surrogate pair
    EXPECT_EQ(ns::utf16Length("a\U0001F600b"), 4u);
}

TEST(Utf16, PrefixNeverSplitsASurrogatePairOrASequence) {
    const std::string s = "ab\U0001F600cd";  // units: a b [hi lo] c d
    EXPECT_EQ(ns::utf16Prefix(s, 0), "");
    EXPECT_EQ(ns::utf16Prefix(s, 2), "ab");
    EXPECT_EQ(ns::utf16Prefix(s, 3), "ab");  // would split the pair
    EXPECT_EQ(ns::utf16Prefix(s, 4), "ab\U0001F600");
    EXPECT_EQ(ns::utf16Prefix(s, 100), s);
    EXPECT_EQ(ns::utf16Prefix("\u00e9\u00e9", 1), "\u00e9");

    // 125-unit limit on a text of emoji: 62 whole pairs fit.
    std::string emoji;
    for (int i = 0; i < 100; ++i) emoji += "\U0001F600";
    const std::string cut = ns::utf16Prefix(emoji, 125);
    EXPECT_EQ(ns::utf16Length(cut), 124u);
    EXPECT_TRUE(ns::isValidUtf8(cut));
}

TEST(Utf16, InvalidUtf8IsCountedBytewiseAndNeverCrashes) {
    const std::string bad = "a\xff\xc3";  // stray byte and a truncated sequence
    EXPECT_EQ(ns::utf16Length(bad), 3u);
    EXPECT_EQ(ns::utf16Prefix(bad, 2), "a\xff");
    EXPECT_FALSE(ns::isValidUtf8(bad));
    EXPECT_EQ(ns::sanitizeUtf8(bad), "a\uFFFD\uFFFD");
    EXPECT_FALSE(ns::isValidUtf8("\xed\xa0\x80"));  // an encoded surrogate
    EXPECT_FALSE(ns::isValidUtf8("\xc0\xaf"));      // overlong "/"
    EXPECT_FALSE(ns::isValidUtf8("\xf4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_TRUE(ns::isValidUtf8("\xf4\x8f\xbf\xbf"));
    // Every prefix of every byte string stays a byte prefix.
    for (int n = 0; n <= 4; ++n) {
        const std::string p = ns::utf16Prefix(bad, static_cast<size_t>(n));
        EXPECT_EQ(bad.compare(0, p.size(), p), 0);
    }
}

TEST(Utf16, ConvertsToAndFromUtf16) {
    const std::string s = "x\u00e9\U0001F600";
    const std::u16string u = ns::toUtf16(s);
    EXPECT_EQ(u.size(), 4u);
    EXPECT_EQ(ns::fromUtf16(u), s);
    EXPECT_EQ(ns::fromUtf16(std::u16string(1, char16_t(0xD800))), "\uFFFD");  // lone surrogate
}

// ---------------------------------------------------------------- JSON

TEST(Json, NeverEscapesSlashes) {
    auto text = ns::json::write(Value(ns::Dictionary{{"url", "https://in.example/logs?a=b/c"}}));
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "{\"url\":\"https://in.example/logs?a=b/c\"}");
    EXPECT_EQ(text->find("\\/"), std::string::npos);
}

TEST(Json, NumbersKeepTheirKindAndBoolsStayBools) {
    const Value v(ns::OrderedDictionary{{"b", true}, {"i", -3}, {"u", std::numeric_limits<uint64_t>::max()},
                                        {"d", 1.0}, {"f", 0.1}, {"n", Value()}});
    auto text = ns::json::write(v);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "{\"b\":true,\"i\":-3,\"u\":18446744073709551615,\"d\":1.0,\"f\":0.1,\"n\":null}");
    auto back = ns::json::parse(*text, {.keepObjectOrder = true});
    ASSERT_TRUE(back);
    EXPECT_EQ(back->find("b")->kind(), Value::Kind::Bool);
    EXPECT_EQ(back->find("i")->kind(), Value::Kind::Int);
    EXPECT_EQ(back->find("u")->kind(), Value::Kind::UInt);
    EXPECT_EQ(back->find("d")->kind(), Value::Kind::Double);
    EXPECT_TRUE(back->find("n")->isNull());
    EXPECT_EQ(*back, v);
    EXPECT_EQ(ns::json::parse("5")->kind(), Value::Kind::Int);  // non-negative integers are still Int
}

TEST(Json, OrderedDictionariesKeepTheirOrderAndPlainOnesAreSorted) {
    ns::OrderedDictionary ordered{{"z", 1}, {"a", 2}, {"m", 3}};
    EXPECT_EQ(*ns::json::write(Value(ordered)), "{\"z\":1,\"a\":2,\"m\":3}");
    EXPECT_EQ(*ns::json::write(Value(ns::Dictionary{{"z", 1}, {"a", 2}})), "{\"a\":2,\"z\":1}");
    auto parsed = ns::json::parse("{\"z\":1,\"a\":2,\"z\":3}", {.keepObjectOrder = true});
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->orderedDictionary()->keys(), (std::vector<std::string>{"z", "a"}));
    EXPECT_EQ(*parsed->find("z"), Value(3));  // the last duplicate wins
    EXPECT_TRUE(ns::json::parse("{\"z\":1}")->isDictionary());
}

TEST(Json, PrettyPrinting) {
    auto text = ns::json::write(Value(ns::OrderedDictionary{{"a", ns::Array{1, 2}}, {"b", "/"}}), {.prettyPrinted = true});
    EXPECT_EQ(*text, "{\n  \"a\": [\n    1,\n    2\n  ],\n  \"b\": \"/\"\n}");
}

TEST(Json, UnicodeIsWrittenAsUtf8AndBadBytesAreReplaced) {
    EXPECT_EQ(*ns::json::write(Value("h\u00e9 \U0001F600")), "\"h\u00e9 \U0001F600\"");
    EXPECT_EQ(*ns::json::write(Value(std::string("a\xff"))), "\"a\uFFFD\"");
    EXPECT_EQ(*ns::json::write(Value("quote\" back\\ nl\n")), "\"quote\\\" back\\\\ nl\\n\"");
    EXPECT_EQ(*ns::json::parse("\"\\ud83d\\ude00\""), Value("\U0001F600"));
}

TEST(Json, WhatIsNotJsonIsAnError) {
    ns::Error error;
    EXPECT_FALSE(ns::json::write(Value(ns::Data{1}), {}, &error));
    EXPECT_EQ(error.domain, ns::NSCocoaErrorDomain);
    EXPECT_FALSE(ns::json::write(Value(ns::Array{std::nan("")})));
    EXPECT_FALSE(ns::json::write(Value(ns::Dictionary{{"d", ns::Date(0)}})));
    EXPECT_FALSE(ns::json::write(Value(ns::UUID())));
    EXPECT_TRUE(ns::json::isValidJSONObject(Value(ns::Array{1})));
    EXPECT_FALSE(ns::json::isValidJSONObject(Value(1)));
    EXPECT_FALSE(ns::json::isValidJSONObject(Value(ns::Array{ns::Data{}})));
}

TEST(Json, ParseErrorsAreErrorsNotExceptions) {
    for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "nul", "\"\xff\"", "[1] x", "{\"a\":01}"}) {
        ns::Error error;
        EXPECT_FALSE(ns::json::parse(bad, &error).has_value()) << bad;
        EXPECT_EQ(error.code, ns::NSPropertyListReadCorruptError) << bad;
        EXPECT_FALSE(error.localizedDescription().empty());
    }
}

TEST(Json, DeepNestingIsRefused) {
    std::string deep(100000, '[');
    deep += std::string(100000, ']');
    ns::Error error;
    EXPECT_FALSE(ns::json::parse(deep, &error).has_value());
    std::string ok(500, '[');
    ok += std::string(500, ']');
    EXPECT_TRUE(ns::json::parse(ok).has_value());
}

// ---------------------------------------------------------------- Base64

TEST(Base64, RoundTripsAllLengths) {
    EXPECT_EQ(ns::base64Encode(std::string_view("")), "");
    EXPECT_EQ(ns::base64Encode(std::string_view("f")), "Zg==");
    EXPECT_EQ(ns::base64Encode(std::string_view("fo")), "Zm8=");
    EXPECT_EQ(ns::base64Encode(std::string_view("foo")), "Zm9v");
    EXPECT_EQ(ns::base64Encode(std::string_view("foobar")), "Zm9vYmFy");
    ns::Data all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    for (size_t n = 0; n < all.size(); n += 37) {
        ns::Data part(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(ns::base64Decode(ns::base64Encode(part)), part);
    }
}

TEST(Base64, DecodingIsStrictUnlessAskedOtherwise) {
    EXPECT_EQ(ns::base64Decode("Zm8="), (ns::Data{'f', 'o'}));
    EXPECT_FALSE(ns::base64Decode("Zm8"));        // unpadded
    EXPECT_FALSE(ns::base64Decode("Zm=8"));       // padding in the middle
    EXPECT_FALSE(ns::base64Decode("Zg==Zg=="));   // padding before the end
    EXPECT_FALSE(ns::base64Decode("Zm9v\nYmFy"));
    EXPECT_FALSE(ns::base64Decode("Z==="));
    EXPECT_EQ(ns::base64Decode("Zm9v\nYmFy", true), (ns::Data{'f', 'o', 'o', 'b', 'a', 'r'}));
    EXPECT_EQ(ns::base64Decode(""), ns::Data{});
}

// ---------------------------------------------------------------- ISO 8601

TEST(Iso8601, EpochIsTheSameWhateverTheTimeZone) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "Pacific/Kiritimati", 1);
    ::tzset();
    EXPECT_EQ(ns::iso8601::format(ns::Date(0)), "1970-01-01T00:00:00.000Z");
    if (old) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

TEST(Iso8601, FormatsMillisecondsTruncated) {
    EXPECT_EQ(ns::iso8601::format(ns::Date(1700000000.1239)), "2023-11-14T22:13:20.123Z");
    EXPECT_EQ(ns::iso8601::format(ns::Date(-0.0005)), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(ns::iso8601::format(ns::Date::fromTimeIntervalSinceReferenceDate(0)), "2001-01-01T00:00:00.000Z");
    EXPECT_EQ(ns::iso8601::format(ns::Date(951782400)), "2000-02-29T00:00:00.000Z");
    EXPECT_EQ(ns::iso8601::format(ns::Date(std::nan(""))), "");
}

TEST(Iso8601, RoundTripsEveryMillisecondItWrites) {
    for (double t : {0.0, 0.001, 0.999, 1.123, 1700000000.123, 1700000000.999, -1.001, 253402300799.999}) {
        const std::string text = ns::iso8601::format(ns::Date(t));
        auto parsed = ns::iso8601::parse(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(ns::iso8601::format(*parsed), text);
        EXPECT_NEAR(parsed->timeIntervalSince1970(), t, 0.001);
    }
    for (int ms = 0; ms < 1000; ++ms) {
        char text[32];
        std::snprintf(text, sizeof text, "2024-06-30T12:34:56.%03dZ", ms);
        auto parsed = ns::iso8601::parse(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(ns::iso8601::format(*parsed), text);
    }
}

TEST(Iso8601, RejectsGarbage) {
    for (const char* bad : {"", "garbage", "2023-11-14T22:13:20Z", "2023-11-14T22:13:20.123", "2023-11-14 22:13:20.123Z",
                            "2023-13-01T00:00:00.000Z", "2023-02-29T00:00:00.000Z", "2023-04-31T00:00:00.000Z",
                            "2023-11-14T24:00:00.000Z", "2023-11-14T23:60:00.000Z", "2023-11-14T23:59:60.000Z",
                            "0000-01-01T00:00:00.000Z", "2023-11-14T22:13:20.123+00:00", "2023-1a-14T22:13:20.123Z",
                            "2023-11-14T22:13:20.1234Z", "+023-11-14T22:13:20.123Z"}) {
        EXPECT_FALSE(ns::iso8601::parse(bad).has_value()) << bad;
    }
    EXPECT_TRUE(ns::iso8601::parse("2024-02-29T23:59:59.999Z").has_value());
}
