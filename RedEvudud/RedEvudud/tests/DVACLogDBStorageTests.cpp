#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <set>

#include "RedEvudud/RedEvudud/Internals/Storage/DVACLogDBStorage.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/tests/DVACLogDBStorageTestLogs.h"
#include "RedEvudud/RedEvudud/tests/DVACStorageTestSupport.h"
#include "platform/foundation/Base64.h"
#include "platform/security/Keychain.h"

namespace {

namespace fs = std::filesystem;
using dvac_test::commonSchemaLog;
using dvac_test::LogRecorder;
using dvac_test::payloadOf;
using dvac_test::RawDatabase;
using dvac_test::testLog;

struct Loaded {
  std::vector<std::string> payloads;
  DVACStorageLogArray logs;
  std::optional<std::string> batchId;
  bool more = false;
  int calls = 0;
};

class DVACLogDBStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dvac_test::registerStoreTestLogs();
    DVACRedEvududUserDefaults::resetSharedInstance();
    sec::setCurrentKeychain(keychain_);
  }
  void TearDown() override {
    sec::setCurrentKeychain(nullptr);
    DVACRedEvududUserDefaults::resetSharedInstance();
  }
  std::string path() const { return sdk_.pathOf("Logs.sqlite"); }

  static Loaded load(DVACLogDBStorage& storage, const std::string& groupId, size_t limit = 50,
                     const std::optional<std::vector<std::string>>& excluded = std::nullopt) {
    Loaded loaded;
    loaded.more = storage.loadLogsWithGroupId(
        groupId, limit, excluded, [&](const DVACStorageLogArray& logs, const std::optional<std::string>& batchId) {
          ++loaded.calls;
          loaded.logs = logs;
          loaded.batchId = batchId;
          for (const auto& log : logs) loaded.payloads.push_back(payloadOf(log));
        });
    return loaded;
  }
  static std::vector<std::string> names(const std::string& prefix, int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i <= to; ++i) out.push_back(prefix + std::to_string(i));
    return out;
  }
  // Saves logs of one priority until the store has to evict to take one;
  // returns the payloads saved.
  static std::vector<std::string> fillUntilEviction(DVACLogDBStorage& storage, LogRecorder& log, uint32_t flags,
                                                    const std::string& prefix) {
    std::vector<std::string> saved;
    const size_t before = log.count("Deleted a log with id");
    for (int i = 0; i < 500 && log.count("Deleted a log with id") == before; ++i) {
      saved.push_back(prefix + std::to_string(i));
      EXPECT_TRUE(storage.saveLog(testLog(saved.back() + std::string(1500, '.')), "Group", flags));
    }
    return saved;
  }

  ns::test::ScopedStandardDefaults defaults_;
  dvac_test::ScopedSdkDirectory sdk_;
  std::shared_ptr<sec::MemoryKeychainStore> keychain_ = std::make_shared<sec::MemoryKeychainStore>();
  LogRecorder log_;
};

TEST_F(DVACLogDBStorageTest, NewStoreHasTheLogsTableItsIndexAndVersionFive) {
  auto storage = DVACLogDBStorage::create();
  ASSERT_TRUE(fs::exists(path()));
  RawDatabase raw(path());
  EXPECT_EQ(raw.texts("SELECT sql FROM sqlite_master WHERE name = 'logs'"),
            std::vector<std::string>{"CREATE TABLE \"logs\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"groupId\" "
                                     "TEXT NOT NULL, \"log\" TEXT NOT NULL, \"targetToken\" TEXT, \"targetKey\" "
                                     "TEXT, \"priority\" INTEGER)"});
  EXPECT_EQ(raw.texts("SELECT sql FROM sqlite_master WHERE name = 'ix_logs_priority'"),
            std::vector<std::string>{"CREATE INDEX \"ix_logs_priority\" ON \"logs\" (\"priority\")"});
  EXPECT_EQ(raw.integer("PRAGMA user_version"), 5);
  EXPECT_EQ(raw.integer("PRAGMA auto_vacuum"), 1);
  EXPECT_TRUE(log_.exactly("Created \"Logs.sqlite\" database with 5 version.", DVACLogLevelInfo));
  EXPECT_EQ(storage->countLogs(), 0u);
}

TEST_F(DVACLogDBStorageTest, SavedLogsComeBackIntactAsABatchAndLeaveWhenItIsDeleted) {
  auto storage = DVACLogDBStorage::create();
  EXPECT_FALSE(storage->saveLog(nullptr, "Analytics", DVACLogFlagsNormal));
  auto first = testLog("first");
  first->setTimestamp(ns::Date(1700000000.25));
  first->setSid("session-1");
  ASSERT_TRUE(storage->saveLog(first, "Analytics", DVACLogFlagsNormal));
  ASSERT_TRUE(storage->saveLog(testLog("second"), "Analytics", DVACLogFlagsNormal));
  ASSERT_TRUE(storage->saveLog(testLog("other group"), "Crashes", DVACLogFlagsCritical));
  EXPECT_TRUE(log_.exactly("Log is stored with id: '1'", DVACLogLevelVerbose));
  EXPECT_EQ(storage->countLogs(), 3u);

  // The stored text is the Base64 of the keyed archive, without line breaks.
  RawDatabase raw(path());
  const auto texts = raw.texts("SELECT log FROM logs WHERE id = 1");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].find('\n'), std::string::npos);
  EXPECT_EQ(ns::base64Decode(texts[0]), DVACUtility::archiveKeyedData(ns::Value(std::shared_ptr<DVACLog>(first))));
  EXPECT_EQ(raw.texts("SELECT groupId || '/' || priority || '/' || ifnull(targetToken, 'null') FROM logs"),
            (std::vector<std::string>{"Analytics/1/null", "Analytics/1/null", "Crashes/2/null"}));

  Loaded batch = load(*storage, "Analytics");
  EXPECT_EQ(batch.calls, 1);
  EXPECT_EQ(batch.payloads, (std::vector<std::string>{"first", "second"}));
  EXPECT_FALSE(batch.more);
  ASSERT_TRUE(batch.batchId);
  EXPECT_TRUE(ns::UUID::fromString(*batch.batchId));
  EXPECT_TRUE(batch.logs[0]->isEqual(*first));
  EXPECT_EQ(batch.logs[0]->sid(), "session-1");
  EXPECT_TRUE(log_.exactly("Load log(s) with id(s) '1','2' as batch Id:" + *batch.batchId, DVACLogLevelVerbose));

  // Pending logs are not handed out twice.
  Loaded again = load(*storage, "Analytics");
  EXPECT_EQ(again.calls, 1);
  EXPECT_TRUE(again.logs.empty());
  EXPECT_FALSE(again.batchId);

  storage->deleteLogsWithBatchId(*batch.batchId, "Analytics");
  EXPECT_EQ(storage->countLogs(), 1u);
  EXPECT_EQ(storage->pendingBatchCount(), 0u);
  storage->deleteLogsWithBatchId(*batch.batchId, "Analytics");  // unknown now: nothing
  storage->deleteLogsWithBatchId("no-such-batch", "Crashes");
  EXPECT_EQ(storage->countLogs(), 1u);
  EXPECT_EQ(load(*storage, "Crashes").payloads, std::vector<std::string>{"other group"});
}

TEST_F(DVACLogDBStorageTest, LoadsOrderByPriorityThenAgeAndReportMore) {
  auto storage = DVACLogDBStorage::create();
  ASSERT_TRUE(storage->saveLog(testLog("n1"), "G", DVACLogFlagsNormal));
  ASSERT_TRUE(storage->saveLog(testLog("c1"), "G", DVACLogFlagsCritical | 0x100));  // high bits are not priority
  ASSERT_TRUE(storage->saveLog(testLog("n2"), "G", DVACLogFlagsNormal));
  ASSERT_TRUE(storage->saveLog(testLog("c2"), "G", DVACLogFlagsCritical));
  EXPECT_EQ(RawDatabase(path()).texts("SELECT priority FROM logs ORDER BY id"),
            (std::vector<std::string>{"1", "2", "1", "2"}));

  Loaded two = load(*storage, "G", 2);
  EXPECT_EQ(two.payloads, (std::vector<std::string>{"c1", "c2"}));
  EXPECT_TRUE(two.more);
  Loaded rest = load(*storage, "G", 2);
  EXPECT_EQ(rest.payloads, (std::vector<std::string>{"n1", "n2"}));
  EXPECT_FALSE(rest.more);
  EXPECT_NE(two.batchId, rest.batchId);
}

TEST_F(DVACLogDBStorageTest, FiftyOfFiftyOneAndNoLimitAtAll) {
  auto storage = DVACLogDBStorage::create();
  {
    // 51 rows written at once, through the store's own archive format.
    RawDatabase raw(path());
    raw.exec("BEGIN");
    for (int i = 0; i < 51; ++i) {
      auto data = DVACUtility::archiveKeyedData(ns::Value(std::shared_ptr<DVACLog>(testLog("l" + std::to_string(i)))));
      raw.exec("INSERT INTO logs (groupId, log, priority) VALUES ('G', '" + ns::base64Encode(*data) + "', 1)");
    }
    raw.exec("COMMIT");
  }
  Loaded fifty = load(*storage, "G", 50);
  EXPECT_EQ(fifty.payloads.size(), 50u);
  EXPECT_TRUE(fifty.more);
  Loaded last = load(*storage, "G", 50);
  EXPECT_EQ(last.payloads, std::vector<std::string>{"l50"});
  EXPECT_FALSE(last.more);

  auto reopened = DVACLogDBStorage::create();
  Loaded all = load(*reopened, "G", std::numeric_limits<size_t>::max());
  EXPECT_EQ(all.payloads.size(), 51u);
  EXPECT_FALSE(all.more);
  EXPECT_FALSE(log_.contains("Query failed"));
}

TEST_F(DVACLogDBStorageTest, BatchesAreDisjointAndUnsentLogsLoadAgainAfterARestart) {
  auto storage = DVACLogDBStorage::create();
  for (const auto& name : names("log", 1, 5)) ASSERT_TRUE(storage->saveLog(testLog(name), "G", DVACLogFlagsNormal));
  Loaded a = load(*storage, "G", 2);
  Loaded b = load(*storage, "G", 2);
  EXPECT_EQ(a.payloads, names("log", 1, 2));
  EXPECT_EQ(b.payloads, names("log", 3, 4));
  storage->deleteLogsWithBatchId(*a.batchId, "G");
  EXPECT_EQ(RawDatabase(path()).integer("SELECT COUNT(*) FROM logs WHERE id IN (1, 2)"), 0);

  auto restarted = DVACLogDBStorage::create();
  EXPECT_EQ(load(*restarted, "G", 50).payloads, names("log", 3, 5));
}

TEST_F(DVACLogDBStorageTest, GroupsMatchExactlyNotByPrefix) {
  auto storage = DVACLogDBStorage::create();
  ASSERT_TRUE(storage->saveLog(testLog("a1"), "Analytics", DVACLogFlagsNormal));
  ASSERT_TRUE(storage->saveLog(testLog("c1"), "Analytics_critical", DVACLogFlagsCritical));
  ASSERT_TRUE(storage->saveLog(testLog("c2"), "Analytics_critical", DVACLogFlagsCritical));

  Loaded critical = load(*storage, "Analytics_critical", 1);
  EXPECT_EQ(critical.payloads, std::vector<std::string>{"c1"});
  // Reading a group gives its logs, pending or not, and hands none out.
  std::vector<std::string> read;
  for (const auto& log : storage->logsWithGroupId("Analytics_critical")) read.push_back(payloadOf(log));
  EXPECT_EQ(read, (std::vector<std::string>{"c1", "c2"}));

  // Deleting one group forgets only that group's batches.
  auto deleted = storage->deleteLogsWithGroupId("Analytics");
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(payloadOf(deleted[0]), "a1");
  EXPECT_EQ(load(*storage, "Analytics_critical", 50).payloads, std::vector<std::string>{"c2"});
  EXPECT_TRUE(load(*storage, "Analytics_critical", 50).payloads.empty());

  // A batch id given with another group's id matches nothing.
  storage->deleteLogsWithBatchId(*critical.batchId, "Analytics");
  EXPECT_EQ(storage->countLogs(), 2u);
  storage->deleteLogsWithBatchId(*critical.batchId, "Analytics_critical");
  EXPECT_EQ(storage->countLogs(), 1u);

  // Deleting a group returns its logs, pending or not, and forgets its batches.
  ASSERT_EQ(storage->deleteLogsWithGroupId("Analytics_critical").size(), 1u);
  EXPECT_EQ(storage->countLogs(), 0u);
  EXPECT_EQ(storage->pendingBatchCount(), 0u);
  EXPECT_TRUE(log_.contains("Deletion of log(s) by groupId with value(s) 'Analytics_critical' succeeded."));
}

TEST_F(DVACLogDBStorageTest, ValuesAreBoundNeverSpliced) {
  auto storage = DVACLogDBStorage::create();
  const std::string hostile = "G'); DROP TABLE logs; --";
  ASSERT_TRUE(storage->saveLog(testLog("quoted"), hostile, DVACLogFlagsNormal));
  ASSERT_TRUE(storage->saveLog(commonSchemaLog("cs", {"k'ey-1"}), hostile, DVACLogFlagsNormal));
  Loaded loaded = load(*storage, hostile, 50, std::vector<std::string>{"x' OR '1'='1"});
  EXPECT_EQ(loaded.payloads, std::vector<std::string>{"cs"});
  EXPECT_EQ(storage->deleteLogsWithGroupId(hostile).size(), 2u);
  EXPECT_EQ(storage->countLogs(), 0u);
  EXPECT_TRUE(RawDatabase(path()).integer("SELECT COUNT(*) FROM sqlite_master WHERE name = 'logs'") == 1);
}

TEST_F(DVACLogDBStorageTest, CommonSchemaLogsKeepOneEncryptedTokenAndItsTargetKey) {
  auto storage = DVACLogDBStorage::create();
  ASSERT_TRUE(storage->saveLog(commonSchemaLog("a", {"keyA-secret-token"}), "G/one", DVACLogFlagsNormal));
  ASSERT_TRUE(storage->saveLog(commonSchemaLog("b", {"keyB-other-token"}), "G/one", DVACLogFlagsNormal));
  ASSERT_TRUE(storage->saveLog(commonSchemaLog("no token", {}), "G/one", DVACLogFlagsNormal));
  auto plain = testLog("plain with tokens");
  plain->addTransmissionTargetToken("keyC-token");
  ASSERT_TRUE(storage->saveLog(plain, "G/one", DVACLogFlagsNormal));

  RawDatabase raw(path());
  EXPECT_EQ(raw.texts("SELECT ifnull(targetKey, 'null') FROM logs ORDER BY id"),
            (std::vector<std::string>{"keyA", "keyB", "null", "null"}));
  EXPECT_EQ(raw.integer("SELECT COUNT(*) FROM logs WHERE targetToken IS NULL"), 2);
  const auto tokenTexts = raw.texts("SELECT targetToken FROM logs WHERE id = 1");
  ASSERT_EQ(tokenTexts.size(), 1u);
  EXPECT_EQ(tokenTexts[0].find("secret"), std::string::npos);
  EXPECT_EQ(DVACEncrypter().decryptString(tokenTexts[0]), "keyA-secret-token");

  // Excluding a key drops its logs, and rows without a key as well.
  Loaded loaded = load(*storage, "G/one", 50, std::vector<std::string>{"keyA"});
  ASSERT_EQ(loaded.payloads, std::vector<std::string>{"b"});
  auto tokens = loaded.logs[0]->transmissionTargetTokens();
  ASSERT_TRUE(tokens);
  EXPECT_EQ(*tokens, std::set<std::string>{"keyB-other-token"});

  // Without exclusions every remaining log loads; tokens only where stored.
  Loaded rest = load(*storage, "G/one", 50, std::vector<std::string>{});
  ASSERT_EQ(rest.payloads, (std::vector<std::string>{"a", "no token", "plain with tokens"}));
  EXPECT_EQ(*rest.logs[0]->transmissionTargetTokens(), std::set<std::string>{"keyA-secret-token"});
  EXPECT_TRUE(!rest.logs[1]->transmissionTargetTokens() || rest.logs[1]->transmissionTargetTokens()->empty());
  EXPECT_TRUE(!rest.logs[2]->transmissionTargetTokens() || rest.logs[2]->transmissionTargetTokens()->empty());
}

TEST_F(DVACLogDBStorageTest, UnreadableRowsAreDeletedOnceAndBadTokensCostOnlyTheToken) {
  auto storage = DVACLogDBStorage::create();
  ASSERT_TRUE(storage->saveLog(testLog("good"), "G", DVACLogFlagsNormal));
  ASSERT_TRUE(storage->saveLog(commonSchemaLog("empty token", {"k-1"}), "G", DVACLogFlagsNormal));
  ASSERT_TRUE(storage->saveLog(commonSchemaLog("bad token", {"k-2"}), "G", DVACLogFlagsNormal));
  {
    RawDatabase raw(path());
    raw.exec("INSERT INTO logs (groupId, log, priority) VALUES ('G', 'bm90IGFuIGFyY2hpdmU=', 1)");  // id 4
    raw.exec("INSERT INTO logs (groupId, log, priority) VALUES ('G', '', 1)");                      // id 5
    raw.exec("UPDATE logs SET targetToken = '' WHERE id = 2");
    raw.exec("UPDATE logs SET targetToken = 'AAAA' WHERE id = 3");
  }
  Loaded loaded = load(*storage, "G");
  EXPECT_EQ(loaded.payloads, (std::vector<std::string>{"good", "empty token", "bad token"}));
  EXPECT_TRUE(log_.exactly("Deserialization failed for log with Id 4", DVACLogLevelError));
  EXPECT_TRUE(log_.exactly("Deserialization failed for log with Id 5", DVACLogLevelError));
  EXPECT_TRUE(log_.exactly("Unexpected empty target token for log with Id 2.", DVACLogLevelError));
  EXPECT_TRUE(log_.exactly("Failed to decrypt the target token for log with Id 3.", DVACLogLevelError));
  EXPECT_TRUE(!loaded.logs[2]->transmissionTargetTokens() || loaded.logs[2]->transmissionTargetTokens()->empty());
  EXPECT_EQ(storage->countLogs(), 3u);

  storage->deleteLogsWithBatchId(*loaded.batchId, "G");
  log_.clear();
  EXPECT_TRUE(load(*storage, "G").logs.empty());
  EXPECT_FALSE(log_.contains("Deserialization failed"));
}

TEST_F(DVACLogDBStorageTest, ALogAsLargeAsTheStoreIsRefusedBeforeTheInsert) {
  auto storage = DVACLogDBStorage::create();
  bool resized = false;
  storage->setMaxStorageSize(24576, [&](bool success) { resized = success; });
  ASSERT_TRUE(resized);
  ASSERT_TRUE(storage->saveLog(testLog("small"), "G", DVACLogFlagsNormal));
  log_.clear();
  EXPECT_FALSE(storage->saveLog(testLog(std::string(24576, 'x')), "G", DVACLogFlagsCritical));
  EXPECT_TRUE(log_.contains("Log is too large (", DVACLogLevelError));
  EXPECT_TRUE(log_.contains("bytes) to store in database. Current maximum database size is 24576 bytes."));
  EXPECT_FALSE(log_.contains("Deleted a log"));
  EXPECT_EQ(storage->countLogs(), 1u);
}

TEST_F(DVACLogDBStorageTest, AFullStoreEvictsTheOldestLogsOfTheLowestPriorityFirst) {
  auto storage = DVACLogDBStorage::create();
  storage->setMaxStorageSize(16 * 4096, nullptr);
  const auto critical = std::vector<std::string>{"c0", "c1", "c2"};
  for (const auto& name : critical) {
    ASSERT_TRUE(storage->saveLog(testLog(name + std::string(1500, '.')), "Group", DVACLogFlagsCritical));
  }
  // Normal logs until the store is full: only normal logs go, oldest first.
  const auto normal = fillUntilEviction(*storage, log_, DVACLogFlagsNormal, "n");
  ASSERT_GT(normal.size(), 5u);
  EXPECT_TRUE(log_.contains("Deleted a log with id 4 to store a new log.", DVACLogLevelDebug));
  EXPECT_TRUE(log_.contains("oldest log(s) with equal or lower priority deleted.", DVACLogLevelDebug));
  RawDatabase raw(path());
  EXPECT_EQ(raw.integer("SELECT COUNT(*) FROM logs WHERE priority = 2"), 3);
  EXPECT_EQ(raw.integer("SELECT MIN(id) FROM logs WHERE priority = 1"),
            4 + static_cast<int64_t>(log_.count("Deleted a log with id")));

  // A critical log takes the room of normal logs, oldest first, before any
  // critical log.
  const int64_t normalBefore = *raw.integer("SELECT COUNT(*) FROM logs WHERE priority = 1");
  const int64_t oldestNormal = *raw.integer("SELECT MIN(id) FROM logs WHERE priority = 1");
  log_.clear();
  ASSERT_TRUE(storage->saveLog(testLog("c3" + std::string(1500, '.')), "Group", DVACLogFlagsCritical));
  EXPECT_TRUE(log_.contains("Deleted a log with id " + std::to_string(oldestNormal) + " to store a new log."));
  EXPECT_EQ(raw.integer("SELECT COUNT(*) FROM logs WHERE priority = 2"), 4);
  EXPECT_LT(*raw.integer("SELECT COUNT(*) FROM logs WHERE priority = 1"), normalBefore);

  // The highest priority comes out first, whatever was evicted.
  Loaded loaded = load(*storage, "Group", 4);
  ASSERT_EQ(loaded.payloads.size(), 4u);
  for (const auto& p : loaded.payloads) EXPECT_EQ(p[0], 'c');
}

// Saves go to a write-ahead log with normal sync, which checkpoints keep
// small; the size limit still evicts, and the files stay within it.
// Each case: the size limit, the logs saved, and bounds of the largest the log grows to.
using WalCase = std::tuple<int64_t, int, int64_t, int64_t>;
class DVACLogDBStorageWalTest : public DVACLogDBStorageTest, public ::testing::WithParamInterface<WalCase> {};

TEST_P(DVACLogDBStorageWalTest, TheWriteAheadLogStaysSmallAndTheSizeLimitHolds) {
  const auto [kLimit, logs, largestLogAtLeast, largestLogAtMost] = GetParam();
  {
    auto storage = DVACLogDBStorage::create();
    auto pragma = [&](const char* name) { return storage->executeSelectionQuery(name).at(0).at(0).description(); };
    EXPECT_EQ(pragma("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(pragma("PRAGMA synchronous"), "1");  // NORMAL
    std::optional<bool> limited;
    storage->setMaxStorageSize(kLimit, [&](bool success) { limited = success; });
    ASSERT_EQ(limited, true);
    int64_t largestLog = 0;
    for (int i = 0; i < logs; ++i) {
      ASSERT_TRUE(storage->saveLog(testLog("w" + std::to_string(i) + std::string(1500, '.')), "G", DVACLogFlagsNormal));
      std::error_code noLog;
      largestLog = std::max<int64_t>(largestLog, fs::file_size(path() + "-wal", noLog));
    }
    EXPECT_TRUE(log_.contains("Deleted a log with id"));
    EXPECT_LE(std::stoll(pragma("PRAGMA page_count")), kLimit / 4096);
    EXPECT_GE(largestLog, largestLogAtLeast);
    EXPECT_LE(largestLog, largestLogAtMost);
  }
  // The last connection folds the log in and removes it.
  EXPECT_FALSE(fs::exists(path() + "-wal"));
  EXPECT_LE(static_cast<int64_t>(fs::file_size(path())), kLimit);
  EXPECT_EQ(RawDatabase(path()).texts("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

// Checkpoints come at a quarter of the limit, at least 64 pages: about 1.1 MB of 4 MiB.
INSTANTIATE_TEST_SUITE_P(Limits, DVACLogDBStorageWalTest,
                         ::testing::Values(WalCase{64 * 4096, 160, 0, 80 * (4096 + 24)},
                                           WalCase{4 << 20, 1200, (4 << 20) / 5, (4 << 20) * 3 / 10}));

TEST_F(DVACLogDBStorageTest, AStoreFullOfHigherPriorityLogsRefusesALowerOne) {
  auto storage = DVACLogDBStorage::create();
  storage->setMaxStorageSize(12 * 4096, nullptr);
  fillUntilEviction(*storage, log_, DVACLogFlagsCritical, "c");
  const uint64_t count = storage->countLogs();
  log_.clear();
  EXPECT_FALSE(storage->saveLog(testLog("n" + std::string(1500, '.')), "Group", DVACLogFlagsNormal));
  EXPECT_TRUE(log_.exactly("Storage is full and no logs with equal or lower priority exist; discarding the log.",
                           DVACLogLevelError));
  EXPECT_FALSE(log_.contains("Deleted a log"));
  EXPECT_EQ(storage->countLogs(), count);
}

TEST_F(DVACLogDBStorageTest, AnOlderLayoutIsDiscardedByMigration) {
  {
    auto url = DVACUtility::createFileAtPathComponent("Logs.sqlite", std::nullopt, false, false);
    ASSERT_TRUE(url);
    RawDatabase raw(path());
    raw.exec("CREATE TABLE logs (id INTEGER PRIMARY KEY, groupId TEXT, log TEXT)");
    raw.exec("INSERT INTO logs (groupId, log) VALUES ('G', 'old')");
    raw.exec("PRAGMA user_version = 4");
  }
  auto storage = DVACLogDBStorage::create();
  EXPECT_TRUE(log_.exactly("Migrating \"Logs.sqlite\" database from version 4 to 5.", DVACLogLevelInfo));
  EXPECT_EQ(storage->countLogs(), 0u);
  RawDatabase raw(path());
  EXPECT_EQ(raw.integer("PRAGMA user_version"), 5);
  EXPECT_EQ(raw.integer("SELECT COUNT(*) FROM sqlite_master WHERE name = 'ix_logs_priority'"), 1);
  EXPECT_TRUE(storage->saveLog(commonSchemaLog("new", {"k-t"}), "G", DVACLogFlagsNormal));
  EXPECT_EQ(load(*storage, "G").payloads, std::vector<std::string>{"new"});
}

TEST_F(DVACLogDBStorageTest, ANewerLayoutKeepsItsRowsUnlessItLacksAColumnThisOneUses) {
  struct Case {
    const char* name;
    const char* table;  // the newer release's "logs"
    bool kept;
  };
  const std::vector<Case> cases = {
      {"same columns",
       "id INTEGER PRIMARY KEY AUTOINCREMENT, groupId TEXT NOT NULL, log TEXT NOT NULL, targetToken TEXT, "
       "targetKey TEXT, priority INTEGER",
       true},
      {"more columns in another order",
       "id INTEGER PRIMARY KEY AUTOINCREMENT, priority INTEGER, origin TEXT, log TEXT NOT NULL, targetKey TEXT, "
       "groupId TEXT NOT NULL, targetToken TEXT",
       true},
      {"a column renamed", "id INTEGER PRIMARY KEY AUTOINCREMENT, groupId TEXT, payload TEXT, priority INTEGER", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      auto url = DVACUtility::createFileAtPathComponent("Logs.sqlite", std::nullopt, false, false);
      ASSERT_TRUE(url);
      RawDatabase raw(path());
      ASSERT_EQ(raw.exec(std::string("CREATE TABLE logs (") + c.table + ")"), SQLITE_OK);
      const std::string payloadColumn = c.kept ? "log" : "payload";
      for (const auto& name : names("kept", 1, 2)) {
        auto data = DVACUtility::archiveKeyedData(ns::Value(std::shared_ptr<DVACLog>(testLog(name))));
        ASSERT_EQ(raw.exec("INSERT INTO logs (groupId, " + payloadColumn + ", priority) VALUES ('G', '" +
                           ns::base64Encode(*data) + "', 1)"),
                  SQLITE_OK);
      }
      raw.exec("PRAGMA user_version = 6");
    }
    log_.clear();
    auto storage = DVACLogDBStorage::create();
    EXPECT_EQ(log_.contains("is damaged"), !c.kept);
    EXPECT_FALSE(log_.contains("Failed to initialize database."));
    EXPECT_FALSE(log_.contains("Migrating"));
    EXPECT_EQ(RawDatabase(path()).integer("PRAGMA user_version"), 5);
    EXPECT_TRUE(storage->saveLog(commonSchemaLog("new", {"k-t"}), "G", DVACLogFlagsNormal));
    std::vector<std::string> expected = c.kept ? names("kept", 1, 2) : std::vector<std::string>{};
    expected.push_back("new");
    Loaded loaded = load(*storage, "G");
    EXPECT_EQ(loaded.payloads, expected);
    ASSERT_FALSE(loaded.logs.empty());
    EXPECT_EQ(*loaded.logs.back()->transmissionTargetTokens(), std::set<std::string>{"k-t"});
    EXPECT_FALSE(log_.contains("Deserialization failed"));
    storage.reset();
    fs::remove(path());
  }
}

TEST_F(DVACLogDBStorageTest, ADamagedStoreIsRecreatedAndKeepsTakingLogs) {
  const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> damages = {
      {"truncated", [](const std::string& p) { fs::resize_file(p, fs::file_size(p) / 3); }},
      {"garbage",
       [](const std::string& p) {
         std::ofstream out(p, std::ios::binary | std::ios::trunc);
         for (int i = 0; i < 20000; ++i) out.put(static_cast<char>((i * 7919) & 0xff));
       }},
      {"header garbage",
       [](const std::string& p) {
         std::fstream out(p, std::ios::binary | std::ios::in | std::ios::out);
         out.write("definitely not SQLite", 21);
       }},
      {"empty", [](const std::string& p) { fs::resize_file(p, 0); }},
  };
  for (const auto& [name, damage] : damages) {
    SCOPED_TRACE(name);
    {
      auto storage = DVACLogDBStorage::create();
      RawDatabase raw(path());
      raw.exec("BEGIN");
      for (int i = 0; i < 300; ++i) {
        auto data = DVACUtility::archiveKeyedData(ns::Value(std::shared_ptr<DVACLog>(testLog(std::string(200, 'o')))));
        raw.exec("INSERT INTO logs (groupId, log, priority) VALUES ('G', '" + ns::base64Encode(*data) + "', 1)");
      }
      raw.exec("COMMIT");
    }
    damage(path());
    log_.clear();
    auto storage = DVACLogDBStorage::create();
    if (name != "empty") {
      EXPECT_TRUE(log_.contains("is damaged"));
    }
    EXPECT_FALSE(log_.contains("Failed to initialize database."));
    EXPECT_TRUE(storage->saveLog(testLog("after " + name), "G", DVACLogFlagsNormal));
    Loaded loaded = load(*storage, "G");
    EXPECT_EQ(loaded.payloads, std::vector<std::string>{"after " + name});
    storage->dropDatabase();
  }
}

TEST_F(DVACLogDBStorageTest, DamageFoundWhileRunningForgetsTheBatchesOfTheLostRows) {
  auto storage = DVACLogDBStorage::create();
  for (const auto& name : names("old", 1, 3)) ASSERT_TRUE(storage->saveLog(testLog(name), "G", DVACLogFlagsNormal));
  Loaded pending = load(*storage, "G");
  ASSERT_EQ(pending.payloads.size(), 3u);
  {
    std::ofstream out(path(), std::ios::binary | std::ios::trunc);
    out << std::string(12288, '\x13');
  }
  log_.clear();
  for (const auto& name : names("new", 1, 3)) ASSERT_TRUE(storage->saveLog(testLog(name), "G", DVACLogFlagsNormal));
  EXPECT_TRUE(log_.contains("is damaged"));
  EXPECT_EQ(storage->pendingBatchCount(), 0u);
  // The new rows reuse ids 1 to 3; the old batch must not take them.
  storage->deleteLogsWithBatchId(*pending.batchId, "G");
  EXPECT_EQ(storage->countLogs(), 3u);
  EXPECT_EQ(load(*storage, "G").payloads, names("new", 1, 3));
}

}  // namespace
