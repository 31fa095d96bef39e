#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "RedEvudud/RedEvudud/Internals/Model/DVACBooleanTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACDateTimeTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACDoubleTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLongTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACStringTypedProperty.h"
#include "RedEvudud/RedEvudud/tests/DVACModelTestSupport.h"

namespace {

using dvac_model_test::parsedJSON;
using nlohmann::json;

TEST(DVACTypedPropertyTest, EachKindHasItsTypeAndWritesItsValue) {
  DVACStringTypedProperty string;
  string.name = "title";
  string.value = "a/b";
  EXPECT_EQ(parsedJSON(string.serializeToDictionary()), json({{"type", "string"}, {"name", "title"}, {"value", "a/b"}}));

  DVACBooleanTypedProperty boolean;
  boolean.name = "on";
  boolean.value = true;
  EXPECT_EQ(parsedJSON(boolean.serializeToDictionary()), json({{"type", "boolean"}, {"name", "on"}, {"value", true}}));

  DVACDateTimeTypedProperty date;
  date.name = "when";
  date.value = ns::Date::fromTimeIntervalSince1970(0.25);
  EXPECT_EQ(parsedJSON(date.serializeToDictionary()),
            json({{"type", "dateTime"}, {"name", "when"}, {"value", "1970-01-01T00:00:00.250Z"}}));

  DVACLongTypedProperty big;
  big.name = "n";
  big.value = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(*ns::json::write(big.serializeToDictionary()), R"({"name":"n","type":"long","value":9223372036854775807})");

  DVACDoubleTypedProperty real;
  real.name = "x";
  real.value = 1.5;
  EXPECT_EQ(parsedJSON(real.serializeToDictionary()), json({{"type", "double"}, {"name", "x"}, {"value", 1.5}}));

  DVACTypedProperty base;
  EXPECT_EQ(parsedJSON(base.serializeToDictionary()), json::object());
}

TEST(DVACTypedPropertyTest, EqualityIgnoresTheNameButNotTheKindOrValue) {
  DVACStringTypedProperty a;
  a.name = "one";
  a.value = "v";
  DVACStringTypedProperty b;
  b.name = "two";
  b.value = "v";
  EXPECT_TRUE(a.isEqual(b));
  b.value = "w";
  EXPECT_FALSE(a.isEqual(b));

  DVACLongTypedProperty one;
  one.name = "n";
  one.value = 1;
  DVACLongTypedProperty two;
  two.name = "n";
  two.value = 2;
  EXPECT_FALSE(one.isEqual(two));

  DVACDoubleTypedProperty nan1;
  nan1.value = std::nan("");
  DVACDoubleTypedProperty nan2;
  nan2.value = std::nan("");
  EXPECT_FALSE(nan1.isEqual(nan2));

  DVACDateTimeTypedProperty d1;
  DVACDateTimeTypedProperty d2;
  EXPECT_TRUE(d1.isEqual(d2));
  d2.value = ns::Date(1);
  EXPECT_FALSE(d1.isEqual(d2));

  DVACBooleanTypedProperty yes;
  yes.value = true;
  DVACBooleanTypedProperty no;
  EXPECT_FALSE(yes.isEqual(no));

  // A long and a double with equal values are different kinds.
  DVACDoubleTypedProperty real;
  real.value = 1;
  EXPECT_FALSE(one.isEqual(real));
  // The base compares only types.
  DVACTypedProperty base;
  base.type = "long";
  EXPECT_TRUE(base.isEqual(one));
  EXPECT_FALSE(one.isEqual(base));
}

TEST(DVACTypedPropertyTest, EveryKindRoundTripsIncludingNegativeExtremes) {
  auto string = std::make_shared<DVACStringTypedProperty>();
  string->name = "s";
  string->value = "text";
  auto restoredString = dvac_model_test::roundTrip(string);
  ASSERT_TRUE(restoredString);
  EXPECT_TRUE(restoredString->isEqual(*string));
  EXPECT_EQ(restoredString->name, "s");

  auto boolean = std::make_shared<DVACBooleanTypedProperty>();
  boolean->value = true;
  auto restoredBool = dvac_model_test::roundTrip(boolean);
  ASSERT_TRUE(restoredBool);
  EXPECT_TRUE(restoredBool->value);

  auto date = std::make_shared<DVACDateTimeTypedProperty>();
  date->value = ns::Date::fromTimeIntervalSince1970(-86400.5);
  auto restoredDate = dvac_model_test::roundTrip(date);
  ASSERT_TRUE(restoredDate);
  EXPECT_EQ(restoredDate->value, date->value);

  auto low = std::make_shared<DVACLongTypedProperty>();
  low->name = "n";
  low->value = std::numeric_limits<int64_t>::min();
  auto restoredLow = dvac_model_test::roundTrip(low);
  ASSERT_TRUE(restoredLow);
  EXPECT_EQ(restoredLow->value, std::numeric_limits<int64_t>::min());
  EXPECT_EQ(restoredLow->type, "long");

  auto real = std::make_shared<DVACDoubleTypedProperty>();
  real->value = -1.0e-300;
  auto restoredReal = dvac_model_test::roundTrip(real);
  ASSERT_TRUE(restoredReal);
  EXPECT_EQ(restoredReal->value, -1.0e-300);
}

// An archive of a boolean property written without its value.
class BooleanWithoutValue : public ns::Coding {
 public:
  std::string className() const override { return "DVACBooleanTypedProperty"; }
  void encodeWithCoder(ns::KeyedArchiver& coder) const override {
    coder.encodeObject(ns::Value("boolean"), "type");
    coder.encodeObject(ns::Value("flag"), "name");
  }
};

TEST(DVACTypedPropertyTest, BooleanWithoutStoredValueReadsFalse) {
  auto data = ns::KeyedArchiver::archivedDataWithRootObject(ns::Value(std::make_shared<BooleanWithoutValue>()));
  ASSERT_TRUE(data);
  auto value = DVACUtility::unarchiveKeyedData(data);
  ASSERT_TRUE(value);
  auto property = value->objectAs<DVACBooleanTypedProperty>();
  ASSERT_TRUE(property);
  EXPECT_FALSE(property->value);
  EXPECT_EQ(property->name, "flag");
}

}  // namespace
