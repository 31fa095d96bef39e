#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <memory>

#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryInfo.h"
#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionHistoryInfo.h"
#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACTestSessionInfo.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/Log.h"

namespace {

const ns::Date kArchivedWhen = ns::Date::fromTimeIntervalSince1970(1'700'000'000.25);

// What an earlier release wrote: the same fields under its own class names.
class LegacySessionHistoryInfo : public ns::Coding {
 public:
  explicit LegacySessionHistoryInfo(std::string className) : className_(std::move(className)) {}
  std::optional<ns::Date> timestamp;
  std::optional<ns::Value> sessionId;
  std::string className() const override { return className_; }
  std::vector<std::string> classHierarchy() const override { return {className_, "DVHistoryInfo", "NSObject"}; }
  void encodeWithCoder(ns::KeyedArchiver& coder) const override {
    if (timestamp) coder.encodeObject(ns::Value(*timestamp), "timestampKey");
    if (sessionId) coder.encodeObject(*sessionId, "sessionIdKey");
  }

 private:
  std::string className_;
};

class DVACArchivingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DVACLogger::resetForTesting();
    DVACLogger::setCurrentLogLevel(DVACLogLevelVerbose);
    DVACUtility::removeMigrationClassesForTesting();
  }
  void TearDown() override {
    DVACUtility::removeMigrationClassesForTesting();
    DVACLogger::resetForTesting();
  }

  template <typename T>
  std::shared_ptr<T> roundTrip(const std::shared_ptr<T>& object) {
    auto data = DVACUtility::archiveKeyedData(ns::Value(object));
    EXPECT_TRUE(data);
    auto value = DVACUtility::unarchiveKeyedData(data);
    EXPECT_TRUE(value);
    return value ? value->template objectAs<T>() : nullptr;
  }

  std::optional<ns::Data> legacyArchive(const std::string& className, std::optional<ns::Value> sessionId) {
    auto legacy = std::make_shared<LegacySessionHistoryInfo>(className);
    legacy->timestamp = kArchivedWhen;
    legacy->sessionId = std::move(sessionId);
    return ns::KeyedArchiver::archivedDataWithRootObject(ns::Value(ns::Array{ns::Value(legacy)}));
  }

  ns::LogCapture capture_;
};

TEST_F(DVACArchivingTest, EveryHistoryRecordRoundTrips) {
  auto base = roundTrip(std::make_shared<DVACHistoryInfo>(kArchivedWhen));
  ASSERT_TRUE(base);
  EXPECT_EQ(base->className(), "DVACHistoryInfo");
  EXPECT_EQ(base->timestamp, kArchivedWhen);

  auto session =
      roundTrip(std::make_shared<DVACSessionHistoryInfo>(kArchivedWhen, "8C4A3F5E-0000-4000-8000-000000000001"));
  ASSERT_TRUE(session);
  EXPECT_EQ(session->timestamp, kArchivedWhen);
  EXPECT_EQ(session->sessionId, "8C4A3F5E-0000-4000-8000-000000000001");

  auto noSession = roundTrip(std::make_shared<DVACSessionHistoryInfo>(kArchivedWhen, std::nullopt));
  ASSERT_TRUE(noSession);
  EXPECT_EQ(noSession->sessionId, std::nullopt);
  EXPECT_EQ(noSession->timestamp, kArchivedWhen);

  auto empty = roundTrip(std::make_shared<DVACHistoryInfo>());
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->timestamp, std::nullopt);

  // The test record keeps only its timestamp.
  auto test = roundTrip(std::make_shared<DVACTestSessionInfo>(kArchivedWhen, "lost"));
  ASSERT_TRUE(test);
  EXPECT_EQ(test->className(), "DVACTestSessionInfo");
  EXPECT_EQ(test->timestamp, kArchivedWhen);
  EXPECT_EQ(test->sessionId, std::nullopt);
  EXPECT_EQ(capture_.count(), 0u);
}

TEST_F(DVACArchivingTest, HistoryArraysKeepOrderAndClasses) {
  ns::Array history{
      ns::Value(std::make_shared<DVACSessionHistoryInfo>(kArchivedWhen, "a")),
      ns::Value(std::make_shared<DVACSessionHistoryInfo>(kArchivedWhen.addingTimeInterval(5), std::nullopt)),
      ns::Value(std::make_shared<DVACHistoryInfo>(kArchivedWhen.addingTimeInterval(9))),
  };
  auto value = DVACUtility::unarchiveKeyedData(DVACUtility::archiveKeyedData(ns::Value(history)));
  ASSERT_TRUE(value);
  EXPECT_EQ(*value, ns::Value(history));  // class and fields, element by element
  auto second = value->at(1)->objectAs<DVACSessionHistoryInfo>();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->timestamp, kArchivedWhen.addingTimeInterval(5));
  // Equality is by class, then fields.
  EXPECT_FALSE(DVACHistoryInfo(kArchivedWhen).isEqual(DVACTestSessionInfo(kArchivedWhen, std::nullopt)));
  EXPECT_FALSE(DVACSessionHistoryInfo(kArchivedWhen, "a").isEqual(DVACSessionHistoryInfo(kArchivedWhen, "b")));
}

TEST_F(DVACArchivingTest, OldClassNamesDecodeOnceTheMigrationsAreRegistered) {
  auto data = legacyArchive("DVSessionHistoryInfo", ns::Value("old-session"));
  ASSERT_TRUE(data);

  // Unknown before the core registers its table: nil and one error.
  EXPECT_EQ(DVACUtility::unarchiveKeyedData(data), std::nullopt);
  EXPECT_EQ(capture_.countContaining("[RedEvudud] ERROR: unarchiveKeyedData/"), 1u);
  EXPECT_EQ(capture_.countContaining("Unarchiving NSData failed with error: "), 1u);

  DVACUtility::addMigrationClasses(DVACUtility::redEvududMigrationClasses());
  auto value = DVACUtility::unarchiveKeyedData(data);
  ASSERT_TRUE(value);
  auto record = value->at(0)->objectAs<DVACSessionHistoryInfo>();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->className(), "DVACSessionHistoryInfo");
  EXPECT_EQ(record->timestamp, kArchivedWhen);
  EXPECT_EQ(record->sessionId, "old-session");
  // Re-archived, it is written under today's name.
  auto again = DVACUtility::archiveKeyedData(*value);
  ASSERT_TRUE(again);
  const std::string bytes(again->begin(), again->end());
  EXPECT_NE(bytes.find("DVACSessionHistoryInfo"), std::string::npos);
  EXPECT_EQ(bytes.find("DVSessionHistoryInfo"), std::string::npos);
}

TEST_F(DVACArchivingTest, LaterMigrationEntriesReplaceEarlierOnes) {
  DVACUtility::addMigrationClasses({{"DVOldHistory", "DVACSessionHistoryInfo"}});
  DVACUtility::addMigrationClasses({{"DVOldHistory", "DVACTestSessionInfo"}});
  auto value = DVACUtility::unarchiveKeyedData(legacyArchive("DVOldHistory", ns::Value("x")));
  ASSERT_TRUE(value);
  auto record = value->at(0)->objectAs<DVACTestSessionInfo>();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->timestamp, kArchivedWhen);
  EXPECT_EQ(record->sessionId, std::nullopt);
}

TEST_F(DVACArchivingTest, NilInNilOutWithoutAMessage) {
  EXPECT_EQ(DVACUtility::archiveKeyedData(ns::Value::null()), std::nullopt);
  EXPECT_EQ(DVACUtility::unarchiveKeyedData(std::nullopt), std::nullopt);
  EXPECT_EQ(capture_.count(), 0u);
}

TEST_F(DVACArchivingTest, ArchivingSomethingThatCannotBeArchivedLogsAndGivesNil) {
  class NotCoding : public ns::Object {
   public:
    std::string className() const override { return "NotCoding"; }
  };
  EXPECT_EQ(DVACUtility::archiveKeyedData(ns::Value(ns::Array{ns::Value(std::make_shared<NotCoding>())})),
            std::nullopt);
  EXPECT_EQ(capture_.countContaining("[RedEvudud] ERROR: archiveKeyedData/"), 1u);
  EXPECT_EQ(capture_.countContaining("Archiving NSData failed with error: "), 1u);
}

TEST_F(DVACArchivingTest, GarbageAndTruncatedBytesGiveNilAndOneError) {
  const ns::Data garbage{'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'};
  EXPECT_EQ(DVACUtility::unarchiveKeyedData(garbage), std::nullopt);
  EXPECT_EQ(DVACUtility::unarchiveKeyedData(ns::Data{}), std::nullopt);
  EXPECT_EQ(capture_.countContaining("Unarchiving NSData failed with error: "), 2u);

  auto data = DVACUtility::archiveKeyedData(
      ns::Value(ns::Array{ns::Value(std::make_shared<DVACSessionHistoryInfo>(kArchivedWhen, "sid"))}));
  ASSERT_TRUE(data);
  for (size_t size = 0; size < data->size(); ++size) {
    ns::Data truncated(data->begin(), data->begin() + static_cast<long>(size));
    EXPECT_EQ(DVACUtility::unarchiveKeyedData(truncated), std::nullopt) << size;
  }
}

TEST_F(DVACArchivingTest, DamagedBytesNeverCrash) {
  auto data = DVACUtility::archiveKeyedData(ns::Value(ns::Array{
      ns::Value(std::make_shared<DVACSessionHistoryInfo>(kArchivedWhen, "sid")),
      ns::Value(std::make_shared<DVACHistoryInfo>(kArchivedWhen)),
  }));
  ASSERT_TRUE(data);
  DVACLogger::setLogHandler(nullptr);  // thousands of expected errors
  std::srand(7);
  for (size_t i = 0; i < data->size(); ++i) {
    for (uint8_t flip : {0x01, 0x80, 0xFF}) {
      ns::Data damaged = *data;
      damaged[i] ^= flip;
      auto value = DVACUtility::unarchiveKeyedData(damaged);
      if (value) {
        EXPECT_FALSE(value->isNull());
      }
    }
  }
  for (int round = 0; round < 500; ++round) {
    ns::Data damaged = *data;
    for (int n = 0; n < 4; ++n)
      damaged[static_cast<size_t>(std::rand()) % damaged.size()] = static_cast<uint8_t>(std::rand());
    (void)DVACUtility::unarchiveKeyedData(damaged);
  }
}

// Keyed archives made by hand, for shapes the archiver never writes.
class HandMadeArchive {
 public:
  HandMadeArchive() : objects_(plist_new_array()) { plist_array_append_item(objects_, plist_new_string("$null")); }
  ~HandMadeArchive() {
    if (objects_) plist_free(objects_);
  }
  plist_t objects() const { return objects_; }
  uint64_t add(plist_t node) {
    plist_array_append_item(objects_, node);
    return plist_array_get_size(objects_) - 1;
  }
  uint64_t addClass(const std::string& name, std::vector<std::string> hierarchy) {
    plist_t cls = plist_new_dict();
    plist_dict_set_item(cls, "$classname", plist_new_string(name.c_str()));
    plist_t classes = plist_new_array();
    for (const auto& c : hierarchy) plist_array_append_item(classes, plist_new_string(c.c_str()));
    plist_dict_set_item(cls, "$classes", classes);
    return add(cls);
  }
  ns::Data finish(uint64_t rootUid) {
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "$version", plist_new_uint(100000));
    plist_dict_set_item(root, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", plist_new_uid(rootUid));
    plist_dict_set_item(root, "$top", top);
    plist_dict_set_item(root, "$objects", objects_);
    objects_ = nullptr;
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    ns::Data data(bytes, bytes + length);
    free(bytes);
    plist_free(root);
    return data;
  }

 private:
  plist_t objects_;
};

TEST_F(DVACArchivingTest, CyclesAndWrongKindsGiveNilAndAnError) {
  {
    // A session record whose timestamp is the record itself.
    HandMadeArchive archive;
    plist_t record = plist_new_dict();
    const uint64_t recordUid = archive.add(record);
    const uint64_t classUid = archive.addClass("DVACSessionHistoryInfo", {"DVACSessionHistoryInfo", "NSObject"});
    plist_dict_set_item(record, "$class", plist_new_uid(classUid));
    plist_dict_set_item(record, "timestampKey", plist_new_uid(recordUid));
    EXPECT_EQ(DVACUtility::unarchiveKeyedData(archive.finish(recordUid)), std::nullopt);
  }
  {
    // An array that contains itself.
    HandMadeArchive archive;
    plist_t array = plist_new_dict();
    const uint64_t arrayUid = archive.add(array);
    const uint64_t classUid = archive.addClass("NSArray", {"NSArray", "NSObject"});
    plist_dict_set_item(array, "$class", plist_new_uid(classUid));
    plist_t members = plist_new_array();
    plist_array_append_item(members, plist_new_uid(arrayUid));
    plist_dict_set_item(array, "NS.objects", members);
    EXPECT_EQ(DVACUtility::unarchiveKeyedData(archive.finish(arrayUid)), std::nullopt);
  }
  {
    // A session id that is a number, and a timestamp that is a string.
    HandMadeArchive archive;
    plist_t record = plist_new_dict();
    const uint64_t recordUid = archive.add(record);
    const uint64_t classUid = archive.addClass("DVACSessionHistoryInfo", {"DVACSessionHistoryInfo", "NSObject"});
    const uint64_t numberUid = archive.add(plist_new_uint(42));
    const uint64_t textUid = archive.add(plist_new_string("2023-11-14"));
    plist_dict_set_item(record, "$class", plist_new_uid(classUid));
    plist_dict_set_item(record, "sessionIdKey", plist_new_uid(numberUid));
    plist_dict_set_item(record, "timestampKey", plist_new_uid(textUid));
    EXPECT_EQ(DVACUtility::unarchiveKeyedData(archive.finish(recordUid)), std::nullopt);
  }
  {
    // A record of a class nobody registered.
    HandMadeArchive archive;
    plist_t record = plist_new_dict();
    const uint64_t recordUid = archive.add(record);
    plist_dict_set_item(record, "$class", plist_new_uid(archive.addClass("DVACNoSuchClass", {"NSObject"})));
    EXPECT_EQ(DVACUtility::unarchiveKeyedData(archive.finish(recordUid)), std::nullopt);
  }
  {
    // A nil root.
    HandMadeArchive archive;
    EXPECT_EQ(DVACUtility::unarchiveKeyedData(archive.finish(0)), std::nullopt);
  }
  EXPECT_EQ(capture_.countContaining("Unarchiving NSData failed with error: "), 5u);
}

}  // namespace
