#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "RedEvudud/RedEvudud/Internals/Storage/DVACDBStorage.h"
#include "RedEvudud/RedEvudud/tests/DVACStorageTestSupport.h"

namespace {

namespace fs = std::filesystem;
using dvac_test::LogRecorder;
using dvac_test::RawDatabase;
using dvac_test::writeFile;

const DVACStorageSchema kSchema = {
    {"items",
     {{"id", {"INTEGER", "PRIMARY KEY", "AUTOINCREMENT"}}, {"name", {"TEXT", "NOT NULL"}}, {"amount", {"INTEGER"}}}},
};

// Records the hooks it receives.
class RecordingStorage : public DVACDBStorage {
 public:
  static std::shared_ptr<RecordingStorage> make(std::optional<DVACStorageSchema> schema, uint64_t version,
                                                std::string filename) {
    std::shared_ptr<RecordingStorage> storage(new RecordingStorage(std::move(schema), version, std::move(filename)));
    storage->initialize();
    return storage;
  }
  void customizeDatabase(sqlite3* db) override {
    ++customizeCalls;
    // The handle is live: the hook can change the new file.
    executeNonSelectionQuery("CREATE INDEX \"ix_items_name\" ON \"items\" (\"name\")", db);
  }
  void migrateDatabase(sqlite3*, uint64_t version) override { migratedFrom.push_back(version); }
  void databaseWasRecreated() override { ++recreations; }

  int customizeCalls = 0;
  std::vector<uint64_t> migratedFrom;
  int recreations = 0;

 private:
  using DVACDBStorage::DVACDBStorage;
};

// Fails on purpose when bound.
class FailingBindable : public DVACStorageBindableType {
 public:
  int bindWithStatement(sqlite3_stmt*, int) const override { return SQLITE_MISMATCH; }
};

class DVACDBStorageTest : public ::testing::Test {
 protected:
  std::string path() const { return sdk_.pathOf("test.sqlite"); }
  std::shared_ptr<RecordingStorage> make(uint64_t version = 1) {
    return RecordingStorage::make(kSchema, version, "test.sqlite");
  }
  int insert(DVACDBStorage& storage, const std::string& name, int64_t amount) {
    DVACStorageBindableArray values;
    values.addString(name);
    values.addNumber(amount);
    return storage.executeNonSelectionQuery("INSERT INTO \"items\" (\"name\", \"amount\") VALUES (?, ?)", values);
  }
  // Many rows in one transaction, behind the storage's back.
  void fill(int rows, int nameLength) {
    RawDatabase raw(path());
    ASSERT_EQ(raw.exec("INSERT INTO items (name, amount) WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 "
                       "FROM c WHERE x < " +
                       std::to_string(rows) + ") SELECT printf('%" + std::to_string(nameLength) + "d', x), x FROM c"),
              SQLITE_OK);
  }

  dvac_test::ScopedSdkDirectory sdk_;
  LogRecorder log_;
};

TEST_F(DVACDBStorageTest, NewFileGetsTablesHookFullAutoVacuumAndVersion) {
  auto storage = make(3);
  EXPECT_TRUE(log_.exactly("Created \"test.sqlite\" database with 3 version.", DVACLogLevelInfo));
  EXPECT_TRUE(log_.exactly("Vacuuming database and enabling auto_vacuum", DVACLogLevelDebug));
  EXPECT_EQ(storage->customizeCalls, 1);
  EXPECT_TRUE(storage->migratedFrom.empty());
  EXPECT_EQ(storage->pageSize(), 4096);
  EXPECT_EQ(storage->maxSizeInBytes(), 10485760);
  EXPECT_EQ(storage->dbFileURL()->path(), path());

  RawDatabase raw(path());
  EXPECT_EQ(raw.integer("PRAGMA user_version"), 3);
  EXPECT_EQ(raw.integer("PRAGMA auto_vacuum"), 1);
  EXPECT_EQ(raw.texts("SELECT sql FROM sqlite_master WHERE name = 'items'"),
            std::vector<std::string>{"CREATE TABLE \"items\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"name\" "
                                     "TEXT NOT NULL, \"amount\" INTEGER)"});
  EXPECT_EQ(raw.integer("SELECT COUNT(*) FROM sqlite_master WHERE name = 'ix_items_name'"), 1);
}

TEST_F(DVACDBStorageTest, ReopeningRunsNoHookAndAHigherVersionMigrates) {
  make(2);
  log_.clear();
  auto same = make(2);
  EXPECT_EQ(same->customizeCalls, 0);
  EXPECT_TRUE(same->migratedFrom.empty());
  EXPECT_FALSE(log_.contains("Vacuuming"));
  EXPECT_FALSE(log_.contains("Migrating"));

  ASSERT_EQ(insert(*same, "kept", 1), SQLITE_OK);
  auto newer = make(5);
  EXPECT_EQ(newer->customizeCalls, 0);
  EXPECT_EQ(newer->migratedFrom, std::vector<uint64_t>{2});
  EXPECT_TRUE(log_.exactly("Migrating \"test.sqlite\" database from version 2 to 5.", DVACLogLevelInfo));
  EXPECT_EQ(RawDatabase(path()).integer("PRAGMA user_version"), 5);
  EXPECT_EQ(newer->countEntriesForTable("items", std::nullopt), 1u);
}

TEST_F(DVACDBStorageTest, DamagedFilesAreReplacedAtInitialization) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> damage;
  };
  const std::vector<Case> cases = {
      {"garbage", [](const std::string& p) { writeFile(p, std::string(8192, 'x')); }},
      {"truncated",
       [](const std::string& p) {
         // Keep the header page only: the tables' pages are gone.
         fs::resize_file(p, 4096);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      auto storage = make(1);
      fill(200, 100);
      ASSERT_EQ(storage->countEntriesForTable("items", std::nullopt), 200u);
    }
    c.damage(path());
    log_.clear();
    auto storage = make(1);
    EXPECT_TRUE(log_.contains("is damaged")) << c.name;
    EXPECT_TRUE(log_.contains("has been deleted."));
    EXPECT_EQ(storage->customizeCalls, 1);
    EXPECT_FALSE(log_.contains("Failed to initialize database."));
    EXPECT_EQ(storage->countEntriesForTable("items", std::nullopt), 0u);
    EXPECT_EQ(insert(*storage, "after", 1), SQLITE_OK);
    EXPECT_EQ(RawDatabase(path()).integer("PRAGMA user_version"), 1);
    storage->dropDatabase();
  }
}

TEST_F(DVACDBStorageTest, DamageFoundLaterReplacesTheFileAndTheWorkRunsAgain) {
  auto storage = make(1);
  ASSERT_EQ(insert(*storage, "lost", 1), SQLITE_OK);
  writeFile(path(), std::string(16384, '\x5a'));
  log_.clear();
  EXPECT_EQ(insert(*storage, "saved", 2), SQLITE_OK);
  EXPECT_EQ(storage->recreations, 1);
  EXPECT_TRUE(log_.contains("is damaged"));
  auto rows = storage->executeSelectionQuery("SELECT \"name\" FROM \"items\"");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], ns::Value("saved"));
}

TEST_F(DVACDBStorageTest, DroppingRemovesAStaleJournalToo) {
  auto storage = make(1);
  writeFile(path() + "-journal", "stale");
  storage->dropDatabase();
  EXPECT_FALSE(fs::exists(path()));
  EXPECT_FALSE(fs::exists(path() + "-journal"));
  EXPECT_TRUE(log_.contains("has been deleted.", DVACLogLevelVerbose));
  storage->dropDatabase();
  EXPECT_TRUE(log_.exactly("Failed to delete database.", DVACLogLevelError));
}

TEST_F(DVACDBStorageTest, MaxSizeIsRoundedUpToWholePages) {
  auto storage = make(1);
  bool outcome = false;
  int calls = 0;
  storage->setMaxStorageSize(1000000, [&](bool success) {
    outcome = success;
    ++calls;
  });
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(outcome);
  EXPECT_EQ(storage->maxSizeInBytes(), 1003520);
  EXPECT_TRUE(
      log_.exactly("Changed maximum database size to 1003520 bytes (next multiple of 4KiB).", DVACLogLevelInfo));

  storage->setMaxStorageSize(1003520, [&](bool success) { outcome = success; });
  EXPECT_TRUE(outcome);
  EXPECT_TRUE(log_.exactly("Changed maximum database size to 1003520 bytes.", DVACLogLevelInfo));
  // The limit is applied to every later connection.
  EXPECT_EQ(storage->executeSelectionQuery("PRAGMA max_page_count")[0][0], ns::Value(245));
}

TEST_F(DVACDBStorageTest, ShrinkingBelowTheContentIsRefused) {
  auto storage = make(1);
  fill(100, 500);
  std::optional<bool> outcome;
  storage->setMaxStorageSize(8192, [&](bool success) { outcome = success; });
  EXPECT_EQ(outcome, false);
  EXPECT_EQ(storage->maxSizeInBytes(), 10485760);
  EXPECT_TRUE(log_.contains("Cannot change database size to 8192 bytes as it would cause a loss of data.",
                            DVACLogLevelWarning));
  // A storage without a handler does not mind.
  storage->setMaxStorageSize(8192, nullptr);
}

TEST_F(DVACDBStorageTest, AFullDatabaseAnswersSqliteFull) {
  auto storage = make(1);
  storage->setMaxStorageSize(6 * 4096, nullptr);
  int result = SQLITE_OK;
  for (int i = 0; i < 1000 && result == SQLITE_OK; ++i) result = insert(*storage, std::string(1000, 'c'), i);
  EXPECT_EQ(result, SQLITE_FULL);
  EXPECT_TRUE(log_.contains("Query failed with error: 13", DVACLogLevelDebug));
  EXPECT_FALSE(log_.contains("Could not execute the statement"));
}

TEST_F(DVACDBStorageTest, AnUnopenableDatabaseFailsEveryOperationAndStillAnswersTheSizeHandler) {
  auto storage = make(1);
  fs::remove(path());
  fs::create_directory(path());
  std::optional<bool> outcome;
  storage->setMaxStorageSize(1 << 20, [&](bool success) { outcome = success; });
  EXPECT_EQ(outcome, false);
  EXPECT_TRUE(storage->executeSelectionQuery("SELECT * FROM \"items\"").empty());
  EXPECT_NE(insert(*storage, "x", 1), SQLITE_OK);
  EXPECT_EQ(storage->countEntriesForTable("items", std::nullopt), 0u);
  EXPECT_TRUE(log_.contains("Failed to open database with result: 14."));
  bool ran = false;
  EXPECT_EQ(storage->executeQueryUsingBlock([&](sqlite3*) {
    ran = true;
    return SQLITE_OK;
  }),
            SQLITE_CANTOPEN);
  EXPECT_FALSE(ran);
}

TEST_F(DVACDBStorageTest, CellsAreTypedAnd64BitIntegersSurvive) {
  auto storage = make(1);
  const int64_t big = (int64_t{1} << 40) + 7;
  ASSERT_EQ(insert(*storage, "big", big), SQLITE_OK);
  ASSERT_EQ(insert(*storage, "negative", INT64_MIN), SQLITE_OK);
  auto rows =
      storage->executeSelectionQuery("SELECT \"id\", \"name\", \"amount\", NULL FROM \"items\" ORDER BY \"id\"");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (DVACStorageRow{ns::Value(1), ns::Value("big"), ns::Value(big), ns::Value::null()}));
  EXPECT_EQ(rows[1][2].asInt64(), INT64_MIN);

  // Ids beyond 32 bits.
  RawDatabase(path()).exec("UPDATE sqlite_sequence SET seq = 5000000000 WHERE name = 'items'");
  ASSERT_EQ(insert(*storage, "late", 1), SQLITE_OK);
  rows = storage->executeSelectionQuery("SELECT MAX(\"id\") FROM \"items\"");
  EXPECT_EQ(rows[0][0].asInt64(), 5000000001);

  log_.clear();
  rows = storage->executeSelectionQuery("SELECT 1.5, x'00ff', 'text'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (DVACStorageRow{ns::Value::null(), ns::Value::null(), ns::Value("text")}));
  EXPECT_TRUE(
      log_.exactly("Could not retrieve column value at index 0 from statement: unknown type 2.", DVACLogLevelError));
  EXPECT_TRUE(
      log_.exactly("Could not retrieve column value at index 1 from statement: unknown type 4.", DVACLogLevelError));
}

TEST_F(DVACDBStorageTest, AFailingBindingStopsAtItsPositionAndTheStatementDoesNotRun) {
  auto storage = make(1);
  DVACStorageBindableArray values;
  values.addString("first");
  values.addValue(std::make_shared<FailingBindable>());
  values.addNumber(3);
  int result = storage->executeNonSelectionQuery(
      "INSERT INTO \"items\" (\"name\", \"amount\", \"id\") VALUES (?, ?, ?)", values);
  EXPECT_EQ(result, SQLITE_MISMATCH);
  EXPECT_TRUE(log_.contains("Binding query parameter 2 failed with error: 20. Message:", DVACLogLevelError));
  EXPECT_EQ(storage->countEntriesForTable("items", std::nullopt), 0u);

  // An absent text binds NULL, which NOT NULL refuses.
  DVACStorageBindableArray nullName;
  nullName.addString(std::nullopt);
  EXPECT_EQ(storage->executeNonSelectionQuery("INSERT INTO \"items\" (\"name\") VALUES (?)", nullName),
            SQLITE_CONSTRAINT);
  EXPECT_TRUE(log_.contains("Could not execute the statement, result=19", DVACLogLevelError));
}

TEST_F(DVACDBStorageTest, CountTablesAndIdentifiers) {
  auto storage = make(1);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(insert(*storage, i % 2 ? "odd" : "even", i), SQLITE_OK);
  DVACStorageBindableArray values;
  values.addString("odd");
  EXPECT_EQ(storage->countEntriesForTable("items", "\"name\" = ?", values), 2u);
  EXPECT_EQ(storage->countEntriesForTable("items", ""), 5u);

  const DVACStorageColumnsSchema columns = {{"a", {"TEXT"}}, {"b \"quoted\"", {"INTEGER", "NOT NULL"}}};
  EXPECT_EQ(DVACDBStorage::columnsQueryFromColumnsSchema(columns), "\"a\" TEXT, \"b \"\"quoted\"\"\" INTEGER NOT NULL");
  EXPECT_TRUE(storage->createTable("other", columns));
  EXPECT_TRUE(log_.exactly("Table other has been created", DVACLogLevelVerbose));
  EXPECT_TRUE(storage->createTable("other", columns));  // exists: nothing to do
  EXPECT_EQ(log_.count("Table other has been created"), 1u);
  EXPECT_TRUE(storage->dropTable("other"));
  EXPECT_TRUE(log_.exactly("Table other has been deleted", DVACLogLevelVerbose));
  EXPECT_TRUE(storage->dropTable("other"));
  EXPECT_EQ(log_.count("Table other has been deleted"), 1u);

  auto indexes = DVACDBStorage::columnsIndexes(kSchema);
  EXPECT_EQ(indexes["items"]["id"], 0u);
  EXPECT_EQ(indexes["items"]["name"], 1u);
  EXPECT_EQ(indexes["items"]["amount"], 2u);
}

TEST_F(DVACDBStorageTest, PrepareFailuresAreReportedAndEmptySelectionsReturnNoRows) {
  auto storage = make(1);
  EXPECT_EQ(storage->executeNonSelectionQuery("INSERT INTO \"missing\" VALUES (1)"), SQLITE_ERROR);
  EXPECT_TRUE(log_.contains("Failed to prepare SQLite statement, result=1\n\tno such table: missing"));
  EXPECT_TRUE(storage->executeSelectionQuery("SELECT * FROM \"items\"").empty());
  EXPECT_EQ(DVACDBStorage::globalConfigurationResult(), SQLITE_OK);
}

}  // namespace
