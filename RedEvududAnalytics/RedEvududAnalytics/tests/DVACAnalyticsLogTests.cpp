// The analytics log records: their JSON, validity, equality and keyed
// archives (also under the class names of earlier releases), the typed
// property set, and an event's Common Schema form.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSData.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSExtensions.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCommonSchemaLog.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACMetadataExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACBooleanTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACDateTimeTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACDoubleTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLongTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACStringTypedProperty.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACPageLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACStartSessionLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/tests/DVACAnalyticsTestSupport.h"

using namespace dvac_analytics_test;

namespace {

constexpr const char* kToken = "2b1f0c9e4d3a4b5c8d7e6f5a4b3c2d1e-0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d-7000";

std::shared_ptr<DVACEventLog> validEvent(const std::string& name = "dockPreview_SelectWindow") {
  auto log = std::make_shared<DVACEventLog>();
  log->setTimestamp(ns::Date::fromTimeIntervalSince1970(1'700'000'000));
  log->setDevice(testDevice());
  log->setName(name);
  log->setEventId("0F7C3E24-6D43-4B0C-9A3B-1C2D3E4F5A6B");
  return log;
}

const ns::Value* at(const ns::Value& value, std::initializer_list<const char*> path) {
  const ns::Value* current = &value;
  for (const char* key : path) {
    current = current ? current->find(key) : nullptr;
  }
  return current;
}

// An event log archived as an earlier release wrote it.
class OldEventLog : public DVACEventLog {
 public:
  std::string className() const override { return "DVEventLog"; }
  std::vector<std::string> classHierarchy() const override { return {"DVEventLog", "DVLogWithNameAndProperties",
                                                                      "DVAbstractLog", "NSObject"}; }
};

class DVACAnalyticsLogTests : public ::testing::Test {
 protected:
  LogRecorder log_;
  ns::test::ScopedStandardDefaults defaults_;
};

// ------------------------------------------------------------------- Records

TEST_F(DVACAnalyticsLogTests, EventJsonHasIdAndTypedPropertiesOnlyWhenSet) {
  auto log = validEvent();
  ns::Value json = log->serializeToDictionary();
  EXPECT_EQ(json.find("type")->asString(), "event");
  EXPECT_EQ(json.find("name")->asString(), "dockPreview_SelectWindow");
  EXPECT_EQ(json.find("id")->asString(), "0F7C3E24-6D43-4B0C-9A3B-1C2D3E4F5A6B");
  EXPECT_FALSE(json.find("typedProperties"));
  EXPECT_FALSE(json.find("properties"));

  log->setProperties(DVACPropertiesDictionary{});
  log->setTypedProperties(std::make_shared<DVACEventProperties>());
  log->typedProperties()->setString("single", "mode").setInt64(3, "windows");
  json = log->serializeToDictionary();
  EXPECT_FALSE(json.find("properties"));
  const ns::Value* typed = json.find("typedProperties");
  ASSERT_TRUE(typed && typed->array());
  ASSERT_EQ(typed->count(), 2u);
  EXPECT_EQ(typed->at(0)->find("name")->asString(), "mode");
  EXPECT_EQ(typed->at(0)->find("type")->asString(), "string");
  EXPECT_EQ(typed->at(0)->find("value")->asString(), "single");
  EXPECT_EQ(typed->at(1)->find("type")->asString(), "long");
  EXPECT_EQ(typed->at(1)->find("value")->asInt64(), 3);
}

TEST_F(DVACAnalyticsLogTests, ValidityNeedsNameAndEventIdButAcceptsAnEmptyName) {
  auto log = validEvent("");
  EXPECT_TRUE(log->isValid());
  log->setName(std::nullopt);
  EXPECT_FALSE(log->isValid());
  EXPECT_TRUE(log_.contains("DVACEventLog: \"name\" is not valid.", DVACLogLevelVerbose));
  log = validEvent();
  log->setEventId(std::nullopt);
  EXPECT_FALSE(log->isValid());
  EXPECT_TRUE(log_.contains("DVACEventLog: \"eventId\" is not valid."));
  // The base rules come first.
  log = validEvent();
  log->setDevice(nullptr);
  EXPECT_FALSE(log->isValid());

  auto page = std::make_shared<DVACPageLog>();
  page->setTimestamp(ns::Date(1));
  page->setDevice(testDevice());
  EXPECT_FALSE(page->isValid());
  page->setName("Settings");
  EXPECT_TRUE(page->isValid());
  EXPECT_EQ(page->serializeToDictionary().find("type")->asString(), "page");
}

TEST_F(DVACAnalyticsLogTests, EqualityComparesNamesAndEventIdsButNotTypedProperties) {
  auto a = validEvent();
  auto b = validEvent();
  b->setTypedProperties(std::make_shared<DVACEventProperties>());
  b->typedProperties()->setBool(true, "x");
  EXPECT_TRUE(a->isEqual(*b));
  b->setEventId("OTHER");
  EXPECT_FALSE(a->isEqual(*b));
  b = validEvent("other");
  EXPECT_FALSE(a->isEqual(*b));

  auto page = std::make_shared<DVACPageLog>();
  auto samePage = std::make_shared<DVACPageLog>();
  page->setName("Settings");
  samePage->setName("Settings");
  EXPECT_TRUE(page->isEqual(*samePage));
  // A page is never equal to a named log of another kind.
  auto named = std::make_shared<DVACLogWithNameAndProperties>();
  named->setType("page");
  named->setName("Settings");
  EXPECT_FALSE(page->isEqual(*named));
}

TEST_F(DVACAnalyticsLogTests, ArchivesRoundTripEveryField) {
  auto log = validEvent();
  log->setSid("5A4B3C2D-1E0F-4A9B-8C7D-6E5F4A3B2C1D");
  log->setProperties(DVACPropertiesDictionary{{"k", "v"}});
  log->setTypedProperties(std::make_shared<DVACEventProperties>());
  log->typedProperties()
      ->setString("s", "text")
      .setDouble(2.5, "ratio")
      .setInt64(-7, "count")
      .setBool(true, "flag")
      .setDate(ns::Date(1'600'000'000.5), "when");
  auto decoded = roundTrip(log);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->isEqual(*log));
  EXPECT_EQ(decoded->properties(), log->properties());
  ASSERT_TRUE(decoded->typedProperties());
  EXPECT_TRUE(decoded->typedProperties()->isEqual(*log->typedProperties()));
  EXPECT_EQ(decoded->metadataTypeIdMapping().at("dateTime"), 9);

  auto start = std::make_shared<DVACStartSessionLog>();
  start->setTimestamp(ns::Date(5));
  start->setSid("S");
  start->setDevice(testDevice());
  auto decodedStart = roundTrip(start);
  ASSERT_TRUE(decodedStart);
  EXPECT_EQ(decodedStart->type(), "startSession");
  EXPECT_EQ(decodedStart->sid(), "S");
}

TEST_F(DVACAnalyticsLogTests, LogsArchivedUnderOldClassNamesDecodeAsTodaysClasses) {
  DVACAnalytics::sharedInstance();  // registers the renames
  auto old = std::make_shared<OldEventLog>();
  old->setTimestamp(ns::Date(10));
  old->setDevice(testDevice());
  old->setName("legacy");
  old->setEventId("E");
  auto data = DVACUtility::archiveKeyedData(ns::Value(std::shared_ptr<DVACEventLog>(old)));
  ASSERT_TRUE(data);
  auto decoded = DVACUtility::unarchiveKeyedData(data);
  ASSERT_TRUE(decoded);
  auto event = decoded->objectAs<DVACEventLog>();
  ASSERT_TRUE(event);
  EXPECT_EQ(event->className(), "DVACEventLog");
  EXPECT_EQ(event->name(), "legacy");
  DVACAnalytics::resetSharedInstance();
}

// -------------------------------------------------------- Typed property set

TEST_F(DVACAnalyticsLogTests, SettersRefuseMissingKeysValuesAndNonFiniteDoubles) {
  DVACEventProperties set;
  set.setString(std::nullopt, "a").setString("x", std::nullopt).setDate(std::nullopt, "d");
  EXPECT_TRUE(set.isEmpty());
  EXPECT_EQ(log_.count("Value cannot be null. Property will not be added.", DVACLogLevelError), 2u);
  EXPECT_EQ(log_.count("Key cannot be null. Property will not be added.", DVACLogLevelError), 1u);

  set.setString("text", "a");
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
    set.setDouble(bad, "a");
  }
  EXPECT_EQ(log_.count("Double value for property 'a' must be finite (cannot be INFINITY or NAN)."), 3u);
  EXPECT_TRUE(std::dynamic_pointer_cast<DVACStringTypedProperty>(set.propertyForKey("a")));
  // A finite value replaces the property whatever its kind.
  set.setDouble(1.5, "a");
  auto property = std::dynamic_pointer_cast<DVACDoubleTypedProperty>(set.propertyForKey("a"));
  ASSERT_TRUE(property);
  EXPECT_EQ(property->value, 1.5);
  EXPECT_EQ(set.count(), 1u);
}

TEST_F(DVACAnalyticsLogTests, MergeLetsTheOtherSetWin) {
  DVACEventProperties mine;
  mine.setString("mine", "shared").setBool(false, "onlyMine");
  DVACEventProperties theirs;
  theirs.setInt64(9, "shared").setString("x", "onlyTheirs");
  mine.mergeEventProperties(theirs);
  EXPECT_EQ(mine.count(), 3u);
  EXPECT_TRUE(std::dynamic_pointer_cast<DVACLongTypedProperty>(mine.propertyForKey("shared")));

  DVACEventProperties copy;
  copy.mergeEventProperties(mine);
  EXPECT_TRUE(copy.isEqual(mine));
  copy.setBool(true, "onlyMine");
  EXPECT_FALSE(copy.isEqual(mine));
}

// ------------------------------------------------------ Common Schema form

class DVACEventCommonSchemaTests : public DVACAnalyticsLogTests {
 protected:
  std::shared_ptr<DVACCommonSchemaLog> convert(const std::shared_ptr<DVACEventLog>& log) {
    return log->toCommonSchemaLogForTargetToken(kToken, DVACLogFlagsCritical);
  }
  static ns::Value dataOf(const DVACCommonSchemaLog& log) {
    return log.data() ? log.data()->properties().value_or(ns::Value()) : ns::Value();
  }
  static std::optional<ns::Dictionary> metadataOf(const DVACCommonSchemaLog& log) {
    if (!log.ext() || !log.ext()->metadataExt) return std::nullopt;
    return log.ext()->metadataExt->metadata();
  }
};

TEST_F(DVACEventCommonSchemaTests, NestedNamesBecomeTreesWithTypeIds) {
  auto log = validEvent();
  auto tag = std::make_shared<DVACLogWithNameAndProperties>();
  log->setTag(tag);
  log->setTypedProperties(std::make_shared<DVACEventProperties>());
  log->typedProperties()
      ->setInt64(7, "a.b.c")
      .setString("v", "a.b.s")
      .setDouble(0.5, "ratio")
      .setBool(true, "flag")
      .setDate(ns::Date(0), "when");
  auto cs = convert(log);
  ASSERT_TRUE(cs);
  EXPECT_EQ(cs->name(), "dockPreview_SelectWindow");
  EXPECT_EQ(cs->tag(), std::shared_ptr<ns::Object>(tag));
  EXPECT_EQ(cs->flags(), 2);
  const ns::Value data = dataOf(*cs);
  EXPECT_EQ(at(data, {"a", "b", "c"})->asInt64(), 7);
  EXPECT_EQ(at(data, {"a", "b", "s"})->asString(), "v");
  EXPECT_EQ(data.find("ratio")->asDouble(), 0.5);
  EXPECT_TRUE(data.find("flag")->isBool());
  EXPECT_EQ(data.find("when")->asString(), "1970-01-01T00:00:00.000Z");

  auto metadata = metadataOf(*cs);
  ASSERT_TRUE(metadata);
  const ns::Value tree(*metadata);
  EXPECT_EQ(at(tree, {"f", "a", "f", "b", "f", "c"})->asInt64(), 4);
  EXPECT_EQ(at(tree, {"f", "ratio"})->asInt64(), 6);
  EXPECT_EQ(at(tree, {"f", "when"})->asInt64(), 9);
  // Strings and booleans have no type id.
  EXPECT_FALSE(at(tree, {"f", "a", "f", "b", "f", "s"}));
  EXPECT_FALSE(at(tree, {"f", "flag"}));
}

TEST_F(DVACEventCommonSchemaTests, ALongUnderAStringIsLeftOutWithItsMetadataBranch) {
  auto log = validEvent();
  log->setTypedProperties(std::make_shared<DVACEventProperties>());
  // "x.y" is placed first (map order); "x.y.z" then finds a value at "y".
  log->typedProperties()->setString("leaf", "x.y").setInt64(1, "x.y.z");
  auto cs = convert(log);
  ASSERT_TRUE(cs);
  EXPECT_EQ(at(dataOf(*cs), {"x", "y"})->asString(), "leaf");
  EXPECT_EQ(log_.count("Property key 'z' already has a value, choosing one."), 1u);
  // The metadata made for the long alone is gone again.
  EXPECT_FALSE(metadataOf(*cs));

  // The same with a and a.b: the long placed second is dropped.
  log = validEvent();
  log->setTypedProperties(std::make_shared<DVACEventProperties>());
  log->typedProperties()->setString("first", "a").setInt64(2, "a.b");
  cs = convert(log);
  EXPECT_EQ(dataOf(*cs).find("a")->asString(), "first");
  EXPECT_EQ(log_.count("Property key 'b' already has a value, choosing one."), 1u);
  EXPECT_FALSE(metadataOf(*cs));
}

TEST_F(DVACEventCommonSchemaTests, AConflictKeepsMetadataOfOtherProperties) {
  auto log = validEvent();
  log->setTypedProperties(std::make_shared<DVACEventProperties>());
  log->typedProperties()->setInt64(1, "m.n").setString("s", "p").setInt64(2, "p.q");
  auto cs = convert(log);
  auto metadata = metadataOf(*cs);
  ASSERT_TRUE(metadata);
  const ns::Value tree(*metadata);
  EXPECT_EQ(at(tree, {"f", "m", "f", "n"})->asInt64(), 4);
  EXPECT_FALSE(at(tree, {"f", "p"}));
}

TEST_F(DVACEventCommonSchemaTests, BaseTypeAndBaseDataTravelTogetherOrNotAtAll) {
  auto log = validEvent();
  log->setTypedProperties(std::make_shared<DVACEventProperties>());
  log->typedProperties()->setString("Custom", "baseType").setInt64(4, "baseData.x").setString("y", "other");
  auto cs = convert(log);
  ns::Value data = dataOf(*cs);
  EXPECT_EQ(data.find("baseType")->asString(), "Custom");
  EXPECT_EQ(at(data, {"baseData", "x"})->asInt64(), 4);
  EXPECT_EQ(data.find("other")->asString(), "y");

  // A baseType without baseData is dropped from the event itself.
  log = validEvent();
  log->setTypedProperties(std::make_shared<DVACEventProperties>());
  log->typedProperties()->setString("Custom", "baseType").setString("v", "k");
  cs = convert(log);
  EXPECT_TRUE(log_.contains("baseType was set but baseData is missing.", DVACLogLevelWarning));
  EXPECT_FALSE(dataOf(*cs).find("baseType"));
  EXPECT_FALSE(log->typedProperties()->propertyForKey("baseType"));

  // baseData without a string baseType goes, with one warning.
  log_.clear();
  log = validEvent();
  log->setTypedProperties(std::make_shared<DVACEventProperties>());
  log->typedProperties()->setInt64(1, "baseType").setInt64(1, "baseData.a").setInt64(2, "baseData.b");
  cs = convert(log);
  EXPECT_EQ(log_.count("baseData was set but baseType is missing or invalid."), 1u);
  EXPECT_FALSE(cs->data());
  EXPECT_TRUE(log->typedProperties()->isEmpty());

  // Objects under baseType and a plain baseData are refused.
  log_.clear();
  log = validEvent();
  log->setTypedProperties(std::make_shared<DVACEventProperties>());
  log->typedProperties()
      ->setString("T", "baseType")
      .setString("d", "baseData.k")
      .setString("no", "baseType.sub")
      .setString("no", "baseData");
  cs = convert(log);
  EXPECT_TRUE(log_.contains("baseType must not be an object."));
  EXPECT_TRUE(log_.contains("baseData must be an object."));
  EXPECT_EQ(at(dataOf(*cs), {"baseData", "k"})->asString(), "d");
}

TEST_F(DVACEventCommonSchemaTests, AnEventWithoutTypedPropertiesHasNoData) {
  auto cs = convert(validEvent());
  ASSERT_TRUE(cs);
  EXPECT_FALSE(cs->data());
  EXPECT_FALSE(metadataOf(*cs));
  EXPECT_EQ(cs->iKey(), "o:2b1f0c9e4d3a4b5c8d7e6f5a4b3c2d1e");
}

}  // namespace
