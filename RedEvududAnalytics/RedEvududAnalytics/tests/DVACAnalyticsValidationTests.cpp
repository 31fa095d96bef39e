// The checks on the way to the Red Evudud ingestion: cleaning string
// properties, limiting typed properties, and the channel filter on names
// and string properties. Lengths are UTF-16 units; a cut never leaves half
// of a surrogate pair.

#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Model/DVACLongTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACStringTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACTypedProperty.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACPageLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACStartSessionLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/tests/DVACAnalyticsTestSupport.h"
#include "platform/foundation/Utf16.h"

using namespace dvac_analytics_test;

namespace {

// U+1F600, two UTF-16 units.
const std::string kEmoji = "\xF0\x9F\x98\x80";

class DVACAnalyticsValidationTests : public ::testing::Test {
 protected:
  void TearDown() override { DVACAnalytics::resetSharedInstance(); }

  ns::test::ScopedStandardDefaults defaults_;
  std::shared_ptr<DVACAnalytics> analytics_ = DVACAnalytics::sharedInstance();
  LogRecorder log_;
};

std::shared_ptr<DVACEventLog> eventNamed(std::optional<std::string> name) {
  auto log = std::make_shared<DVACEventLog>();
  log->setName(std::move(name));
  return log;
}

// ------------------------------------------------------------------- Names

TEST_F(DVACAnalyticsValidationTests, NamesOf256PassAnd257AreCut) {
  const std::string exact(256, 'n');
  EXPECT_EQ(analytics_->validateEventName(exact, "event"), exact);
  EXPECT_EQ(log_.analyticsProblems(), 0u);

  const std::string tooLong(257, 'n');
  EXPECT_EQ(analytics_->validateEventName(tooLong, "event"), exact);
  EXPECT_TRUE(log_.contains("event '" + tooLong + "' : name length cannot be longer than 256 characters. Name will be "
                            "truncated.",
                            DVACLogLevelWarning));
}

TEST_F(DVACAnalyticsValidationTests, ACutNameNeverEndsInHalfASurrogatePair) {
  // 255 units, then a pair that would straddle the limit.
  const std::string name = std::string(255, 'a') + kEmoji;
  auto cut = analytics_->validateEventName(name, "page");
  ASSERT_TRUE(cut);
  EXPECT_EQ(*cut, std::string(255, 'a'));
  EXPECT_TRUE(ns::isValidUtf8(*cut));
  // A pair that ends exactly at the limit stays whole.
  const std::string fits = std::string(254, 'a') + kEmoji + "z";
  EXPECT_EQ(analytics_->validateEventName(fits, "page"), std::string(254, 'a') + kEmoji);
}

TEST_F(DVACAnalyticsValidationTests, EmptyOrMissingNamesAreRefused) {
  EXPECT_FALSE(analytics_->validateEventName("", "event"));
  EXPECT_FALSE(analytics_->validateEventName(std::nullopt, "page"));
  EXPECT_TRUE(log_.contains("event name cannot be null or empty", DVACLogLevelError));
  EXPECT_TRUE(log_.contains("page name cannot be null or empty", DVACLogLevelError));
}

// ------------------------------------------------------------ Channel filter

TEST_F(DVACAnalyticsValidationTests, TheFilterCutsNamesAndPropertiesOrDropsTheLog) {
  auto log = eventNamed(std::string(300, 'e'));
  DVACPropertiesDictionary properties;
  for (int i = 0; i < 25; ++i) properties["key" + std::to_string(10 + i)] = std::string(130, 'v');
  log->setProperties(properties);
  EXPECT_FALSE(analytics_->channelUnitShouldFilterLog(nullptr, log));
  EXPECT_EQ(log->name(), std::string(256, 'e'));
  ASSERT_TRUE(log->properties());
  EXPECT_EQ(log->properties()->size(), 20u);
  for (const auto& [key, value] : *log->properties()) EXPECT_EQ(value.size(), 125u) << key;

  auto empty = eventNamed("");
  empty->setProperties(DVACPropertiesDictionary{{"k", "v"}});
  EXPECT_TRUE(analytics_->channelUnitShouldFilterLog(nullptr, empty));
  // A refused log is left as it was.
  EXPECT_EQ(empty->properties()->size(), 1u);
}

TEST_F(DVACAnalyticsValidationTests, APageWithoutPropertiesGetsAnEmptySetThatItsJsonOmits) {
  auto page = std::make_shared<DVACPageLog>();
  page->setName("Settings");
  EXPECT_FALSE(analytics_->channelUnitShouldFilterLog(nullptr, page));
  ASSERT_TRUE(page->properties());
  EXPECT_TRUE(page->properties()->empty());
  EXPECT_FALSE(page->serializeToDictionary().find("properties"));
}

TEST_F(DVACAnalyticsValidationTests, OtherLogsPassUntouched) {
  auto start = std::make_shared<DVACStartSessionLog>();
  EXPECT_FALSE(analytics_->channelUnitShouldFilterLog(nullptr, start));
  auto named = std::make_shared<DVACLogWithNameAndProperties>();
  named->setName("");
  EXPECT_FALSE(analytics_->channelUnitShouldFilterLog(nullptr, named));
  EXPECT_FALSE(named->properties());
}

// ----------------------------------------------------- String dictionaries

TEST_F(DVACAnalyticsValidationTests, RemoveInvalidPropertiesKeepsOnlyTextToText) {
  ns::Dictionary input;
  input.emplace("text", ns::Value("ok"));
  input.emplace("number", ns::Value(int64_t{3}));
  input.emplace("missing", ns::Value::null());
  input.emplace("array", ns::Value(ns::Array{ns::Value("x")}));
  auto cleaned = analytics_->removeInvalidProperties(ns::Value(input));
  EXPECT_EQ(cleaned, (DVACPropertiesDictionary{{"text", "ok"}}));
  EXPECT_EQ(log_.count("Event property contains an invalid value for key missing, dropping the property.",
                       DVACLogLevelWarning),
            1u);
  // Values that are merely not text go without a word.
  EXPECT_EQ(log_.analyticsProblems(), 1u);
  EXPECT_TRUE(analytics_->removeInvalidProperties(std::nullopt).empty());
}

// --------------------------------------------------------- Typed properties

TEST_F(DVACAnalyticsValidationTests, TwentyTypedPropertiesPassAndTheTwentyFirstIsDroppedWithOneWarning) {
  auto twenty = std::make_shared<DVACEventProperties>();
  for (int i = 0; i < 20; ++i) twenty->setInt64(i, "p" + std::to_string(10 + i));
  EXPECT_EQ(analytics_->validateRedEvududEventProperties(twenty)->count(), 20u);
  EXPECT_EQ(log_.analyticsProblems(), 0u);

  twenty->setInt64(99, "p99");
  auto valid = analytics_->validateRedEvududEventProperties(twenty);
  EXPECT_EQ(valid->count(), 20u);
  EXPECT_EQ(log_.count("Typed properties cannot contain more than 20 items. Skipping other properties.",
                       DVACLogLevelWarning),
            1u);
  // The input set itself is not changed.
  EXPECT_EQ(twenty->count(), 21u);
  EXPECT_TRUE(analytics_->validateRedEvududEventProperties(nullptr)->isEmpty());
}

TEST_F(DVACAnalyticsValidationTests, KeysAndTextValuesAreCutAt125) {
  const std::string key125(125, 'k');
  EXPECT_EQ(analytics_->validateRedEvududPropertyName(key125), key125);
  EXPECT_EQ(analytics_->validateRedEvududPropertyName(key125 + "k"), key125);
  EXPECT_TRUE(log_.contains("Typed property '" + key125 + "k': key length cannot exceed 125 characters. Property value "
                            "will be truncated."));
  EXPECT_EQ(analytics_->validateRedEvududStringTypedPropertyValue(std::string(200, 'v')), std::string(125, 'v'));
  EXPECT_TRUE(log_.contains("Typed property value length cannot exceed 125 characters. Property value will be "
                            "truncated."));
  EXPECT_FALSE(analytics_->validateRedEvududPropertyName(std::nullopt));
  // No half surrogate pair at the end of a cut value.
  const std::string value = std::string(124, 'v') + kEmoji;
  EXPECT_EQ(analytics_->validateRedEvududStringTypedPropertyValue(value), std::string(124, 'v'));
}

TEST_F(DVACAnalyticsValidationTests, LongKeysThatAgreeInTheirFirst125UnitsCollapse) {
  const std::string stem(125, 's');
  auto properties = std::make_shared<DVACEventProperties>();
  properties->setString("first", stem + "A").setString("second", stem + "B");
  auto valid = analytics_->validateRedEvududEventProperties(properties);
  ASSERT_EQ(valid->count(), 1u);
  auto kept = std::dynamic_pointer_cast<DVACStringTypedProperty>(valid->propertyForKey(stem));
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->value, "second");
}

TEST_F(DVACAnalyticsValidationTests, UnknownPropertyKindsAreDropped) {
  auto properties = std::make_shared<DVACEventProperties>();
  auto unknown = std::make_shared<DVACTypedProperty>();
  unknown->name = "odd";
  unknown->type = "odd";
  properties->setTypedProperty(unknown);
  properties->setInt64(1, "n");
  auto valid = analytics_->validateRedEvududEventProperties(properties);
  EXPECT_EQ(valid->count(), 1u);
  EXPECT_TRUE(std::dynamic_pointer_cast<DVACLongTypedProperty>(valid->propertyForKey("n")));
  EXPECT_FALSE(analytics_->validateRedEvududTypedProperty(unknown));
}

}  // namespace
