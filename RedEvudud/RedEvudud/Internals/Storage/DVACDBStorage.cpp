#include "RedEvudud/RedEvudud/Internals/Storage/DVACDBStorage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"

namespace {

// Configured when the library is loaded, before any connection exists.
const int gSQLiteConfigurationResult = DVACDBStorage::configureSQLite();
std::once_flag gConfigurationLogged;

// Another process (or a second storage on the same file) may hold the file
// briefly; wait for it rather than failing at once.
constexpr int kBusyTimeoutMilliseconds = 2000;

std::string errorMessage(sqlite3* db) {
  const char* message = db ? sqlite3_errmsg(db) : nullptr;
  return message ? message : "(null)";
}

void closeDatabase(sqlite3* db) {
  if (db) sqlite3_close_v2(db);
}

// The log is folded into the file once it holds this share of the size
// limit, within these bounds (SQLite's own default is the upper one).
constexpr int64_t kCheckpointShareOfLimit = 4;
constexpr int64_t kMinimumCheckpointPages = 64;
constexpr int64_t kMaximumCheckpointPages = 1000;

// One step of a statement that returns no rows; SQLITE_OK when it is done.
int stepNonSelection(sqlite3_stmt* statement, sqlite3* db) {
  int result = sqlite3_step(statement);
  if (result == SQLITE_DONE) return SQLITE_OK;
  // The extended code may carry more detail than the step's.
  const std::string code = std::to_string(result);
  if (DVACDBStorage::isDamagedDatabaseResult(result)) {
    DVACLogError(kDVACLogTag, "A database file is corrupted, result=" + code + "\n\t" + errorMessage(db));
  } else if (result == SQLITE_FULL) {
    DVACLogDebug(kDVACLogTag, "Query failed with error: " + code + "\n\t" + errorMessage(db));
  } else {
    DVACLogError(kDVACLogTag, "Could not execute the statement, result=" + code + "\n\t" + errorMessage(db));
  }
  return result;
}

// Removes what SQLite may have left beside a database file; a stale journal
// must never be played back into the new file.
void removeCompanionFiles(const ns::URL& url) {
  const std::string path = url.path();
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    const std::string companion = path + suffix;
    if (::unlink(companion.c_str()) != 0 && errno != ENOENT) {
      DVACLogDebug(kDVACLogTag, "Couldn't remove " + companion);
    }
  }
}

}  // namespace

// ---- Construction and configuration ---------------------------------------

DVACDBStorage::DVACDBStorage(std::optional<DVACStorageSchema> schema, uint64_t version, std::string filename)
    : schema_(std::move(schema)), version_(version), filename_(std::move(filename)) {}

DVACDBStorage::~DVACDBStorage() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  closeConnection(true);
}

std::shared_ptr<DVACDBStorage> DVACDBStorage::storageWithSchema(std::optional<DVACStorageSchema> schema,
                                                                uint64_t version, std::string filename) {
  std::shared_ptr<DVACDBStorage> storage(new DVACDBStorage(std::move(schema), version, std::move(filename)));
  storage->initialize();
  return storage;
}

std::shared_ptr<DVACDBStorage> DVACDBStorage::storageWithVersion(uint64_t version, std::string filename) {
  return storageWithSchema(std::nullopt, version, std::move(filename));
}

int DVACDBStorage::configureSQLite() { return sqlite3_config(SQLITE_CONFIG_URI, 1); }

int DVACDBStorage::globalConfigurationResult() { return gSQLiteConfigurationResult; }

void DVACDBStorage::initialize() {
  std::call_once(gConfigurationLogged, [] {
    if (gSQLiteConfigurationResult == SQLITE_OK) {
      DVACLogDebug(kDVACLogTag, "SQLite global configuration successfully updated.");
    } else {
      DVACLogError(kDVACLogTag, std::string("Failed to update SQLite global configuration. Error: ") +
                                    sqlite3_errstr(gSQLiteConfigurationResult) + ".");
    }
  });
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  bool damaged = false;
  int result = configureDatabase(&damaged);
  if (damaged) {
    DVACLogWarning(kDVACLogTag, "The database \"" + filename_ + "\" is damaged (result " + std::to_string(result) +
                                    "); it is deleted and created anew.");
    dropDatabase();
    result = configureDatabase(&damaged);
  }
  if (result != SQLITE_OK) DVACLogError(kDVACLogTag, "Failed to initialize database.");
}

int DVACDBStorage::configureDatabase(bool* damaged) {
  *damaged = false;
  closeConnection(true);
  const bool existed = DVACUtility::fileExistsForPathComponent(filename_);
  dbFileURL_ = DVACUtility::createFileAtPathComponent(filename_, std::nullopt, false, false);
  maxSizeInBytes_ = kDVACDefaultDatabaseSizeInBytes;
  pageSize_ = 0;
  if (!dbFileURL_) {
    DVACLogError(kDVACLogTag, "Failed to open database with result: " + std::to_string(SQLITE_CANTOPEN) + ".");
    return SQLITE_CANTOPEN;
  }

  int result = SQLITE_OK;
  sqlite3* db = openDatabaseAtFileURL(*dbFileURL_, &result);
  if (!db) return result;
  auto fail = [&](int code) {
    closeDatabase(db);
    if (isDamagedDatabaseResult(code)) *damaged = true;
    return code;
  };

  pageSize_ = getPageSizeInOpenedDatabase(db, &result);
  if (isDamagedDatabaseResult(result)) return fail(result);
  if (pageSize_ == 0) {
    DVACLogError(kDVACLogTag, "Failed to get storage page size.");
    return fail(SQLITE_ERROR);
  }

  if (existed) {
    // A file cut short or overwritten in part opens fine and fails later, row
    // by row; find out now.
    DVACStorageRows check = executeSelectionQuery("PRAGMA quick_check(1);", db, nullptr, &result);
    if (isDamagedDatabaseResult(result)) return fail(result);
    const std::string* verdict = check.empty() || check.front().empty() ? nullptr : check.front().front().string();
    if (result == SQLITE_OK && (!verdict || *verdict != "ok")) {
      DVACLogError(kDVACLogTag,
                   "Integrity check of \"" + filename_ + "\" failed: " + (verdict ? *verdict : "no answer"));
      return fail(SQLITE_CORRUPT);
    }
  }

  const uint64_t storedVersion = versionInOpenedDatabase(db, &result);
  if (result != SQLITE_OK) return fail(result);
  if (existed && storedVersion > version_) {
    // Written by a newer release: its rows are kept as long as the tables
    // still have every column this layout reads and writes.
    if (!hasUsableTables(db, &result)) return fail(result == SQLITE_OK ? SQLITE_NOTADB : result);
    DVACLogWarning(kDVACLogTag, "The database \"" + filename_ + "\" has version " + std::to_string(storedVersion) +
                                    ", newer than " + std::to_string(version_) + "; its rows are kept.");
  }

  result = createTablesWithSchema(schema_, db);
  if (result != SQLITE_OK) {
    DVACLogError(kDVACLogTag, "Failed to create tables with schema with error \"" + std::to_string(result) + "\".");
    return fail(result);
  }

  if (!existed) {
    DVACLogInfo(kDVACLogTag, "Created \"" + filename_ + "\" database with " + std::to_string(version_) + " version.");
    customizeDatabase(db);
  } else if (storedVersion < version_) {
    DVACLogInfo(kDVACLogTag, "Migrating \"" + filename_ + "\" database from version " + std::to_string(storedVersion) +
                                 " to " + std::to_string(version_) + ".");
    migrateDatabase(db, storedVersion);
  }
  result = enableAutoVacuumInOpenedDatabase(db);
  if (isDamagedDatabaseResult(result)) return fail(result);
  result = setVersion(version_, db);
  if (result != SQLITE_OK) return fail(result);
  result = enableWriteAheadLogInOpenedDatabase(db);
  if (result != SQLITE_OK) return fail(result);
  adoptConnection(db);
  return SQLITE_OK;
}

bool DVACDBStorage::hasUsableTables(sqlite3* db, int* result) {
  *result = SQLITE_OK;
  if (!schema_) return true;
  for (const auto& [tableName, columnsSchema] : *schema_) {
    DVACStorageBindableArray values;
    values.addString(tableName);
    const DVACStorageRows rows =
        executeSelectionQuery("SELECT \"name\" FROM pragma_table_info(?)", db, &values, result);
    if (*result != SQLITE_OK) return false;
    if (rows.empty()) continue;  // made below
    for (const auto& [columnName, words] : columnsSchema) {
      const bool present = std::any_of(rows.begin(), rows.end(), [&](const DVACStorageRow& row) {
        return !row.empty() && row.front().string() && *row.front().string() == columnName;
      });
      if (!present) {
        DVACLogError(kDVACLogTag, "The table \"" + tableName + "\" of \"" + filename_ + "\" has no column \"" +
                                      columnName + "\".");
        return false;
      }
    }
  }
  return true;
}

void DVACDBStorage::recreateDatabase() {
  dropDatabase();
  bool damaged = false;
  int result = configureDatabase(&damaged);
  if (result != SQLITE_OK) DVACLogError(kDVACLogTag, "Failed to initialize database.");
  databaseWasRecreated();
}

// ---- Instance operations ----------------------------------------------------

// ---- The kept connection --------------------------------------------------------

void DVACDBStorage::adoptConnection(sqlite3* db) {
  connection_ = db;
  connectionMaxPageCount_ = 0;
  sqlite3_wal_hook(db, &DVACDBStorage::walCommitted, this);
  rememberFile();
}

void DVACDBStorage::closeConnection(bool checkpoint) {
  for (auto& [query, statement] : statements_) sqlite3_finalize(statement);
  statements_.clear();
  if (connection_) {
    if (!checkpoint) sqlite3_db_config(connection_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    closeDatabase(connection_);
  }
  connection_ = nullptr;
  connectedFile_.reset();
  connectionMaxPageCount_ = 0;
  wroteFile_ = false;
}

void DVACDBStorage::rememberFile() {
  struct stat status {};
  if (!dbFileURL_ || ::stat(dbFileURL_->path().c_str(), &status) != 0) {
    connectedFile_.reset();
    return;
  }
  connectedFile_ = FileIdentity{status.st_dev, status.st_ino, status.st_size,
                                static_cast<int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

sqlite3* DVACDBStorage::connection(int* result) {
  *result = SQLITE_OK;
  if (connection_) {
    const std::optional<FileIdentity> known = connectedFile_;
    rememberFile();
    if (known && connectedFile_ == known) return connection_;
    // Replaced, removed or written behind our back: what the connection
    // holds may no longer be the file. Its log stays for the next one.
    closeConnection(false);
  }
  sqlite3* db = openDatabaseAtFileURL(*dbFileURL_, result);
  if (!db) return nullptr;
  *result = enableWriteAheadLogInOpenedDatabase(db);
  if (*result != SQLITE_OK) {
    closeDatabase(db);
    return nullptr;
  }
  adoptConnection(db);
  return db;
}

int DVACDBStorage::applyMaxPageCount(sqlite3* db) {
  const int64_t wanted = maxSizeInBytes_.load() / pageSize_.load();
  if (connectionMaxPageCount_ == wanted) return SQLITE_OK;
  const int result = setMaxPageCount(wanted, db);
  // SQLite never sets the limit below the pages in use; such a limit is
  // asked for again on the next operation, as the file may have shrunk.
  if (result == SQLITE_OK) connectionMaxPageCount_ = getMaxPageCountInOpenedDatabase(db);
  return result;
}

int64_t DVACDBStorage::checkpointPages() const {
  const int64_t limit = connectionMaxPageCount_ > 0 ? connectionMaxPageCount_ : kMaximumCheckpointPages;
  return std::clamp(limit / kCheckpointShareOfLimit, kMinimumCheckpointPages, kMaximumCheckpointPages);
}

int DVACDBStorage::walCommitted(void* storage, sqlite3* db, const char* /*name*/, int pages) {
  auto* self = static_cast<DVACDBStorage*>(storage);
  if (pages >= self->checkpointPages()) {
    // Passive: never waits for another connection's readers.
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    self->wroteFile_ = true;
  }
  return SQLITE_OK;
}

int DVACDBStorage::runOnOpenedDatabase(const std::function<int(sqlite3* db)>& block) {
  if (!dbFileURL_) {
    DVACLogError(kDVACLogTag, "Failed to open database with result: " + std::to_string(SQLITE_CANTOPEN) + ".");
    return SQLITE_CANTOPEN;
  }
  int result = SQLITE_OK;
  sqlite3* db = connection(&result);
  if (!db) return result;
  if (pageSize_.load() == 0) {
    DVACLogError(kDVACLogTag, "The database was not configured correctly. The page size is expected to be non zero.");
    return SQLITE_ERROR;
  }
  // The limit belongs to the connection, so every new connection gets it.
  result = applyMaxPageCount(db);
  if (isDamagedDatabaseResult(result)) return result;
  if (result != SQLITE_OK) {
    DVACLogError(kDVACLogTag, "Failed to open database with specified maximum size constraint.");
  }
  result = block(db);
  if (!sqlite3_get_autocommit(db)) {
    DVACLogError(kDVACLogTag, "A transaction was left open on \"" + filename_ + "\"; it is rolled back.");
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  if (wroteFile_) {
    wroteFile_ = false;
    rememberFile();
  }
  return result;
}

int DVACDBStorage::executeQueryUsingBlock(const std::function<int(sqlite3* db)>& block) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  int result = runOnOpenedDatabase(block);
  if (isDamagedDatabaseResult(result)) {
    DVACLogWarning(kDVACLogTag, "The database \"" + filename_ + "\" is damaged (result " + std::to_string(result) +
                                    "); it is deleted and created anew.");
    recreateDatabase();
    result = runOnOpenedDatabase(block);
  }
  return result;
}

int DVACDBStorage::executeNonSelectionQuery(const std::string& query) {
  return executeNonSelectionQuery(query, DVACStorageBindableArray());
}

int DVACDBStorage::executeNonSelectionQuery(const std::string& query, const DVACStorageBindableArray& values) {
  return executeQueryUsingBlock([&](sqlite3* db) { return executeNonSelectionQuery(query, db, &values); });
}

DVACStorageRows DVACDBStorage::executeSelectionQuery(const std::string& query) {
  return executeSelectionQuery(query, DVACStorageBindableArray());
}

DVACStorageRows DVACDBStorage::executeSelectionQuery(const std::string& query, const DVACStorageBindableArray& values) {
  DVACStorageRows rows;
  executeQueryUsingBlock([&](sqlite3* db) {
    int result = SQLITE_OK;
    rows = executeSelectionQuery(query, db, &values, &result);
    // Only damage is passed on, so that the file gets replaced.
    return isDamagedDatabaseResult(result) ? result : SQLITE_OK;
  });
  return rows;
}

uint64_t DVACDBStorage::countEntriesForTable(const std::string& tableName, const std::optional<std::string>& condition,
                                             const DVACStorageBindableArray& values) {
  std::string query = "SELECT COUNT(*) FROM " + quotedIdentifier(tableName) + " ";
  if (condition && !condition->empty()) query += "WHERE " + *condition;
  DVACStorageRows rows = executeSelectionQuery(query, values);
  if (rows.empty() || rows.front().empty()) return 0;
  return rows.front().front().asUInt64().value_or(0);
}

bool DVACDBStorage::createTable(const std::string& tableName, const DVACStorageColumnsSchema& columnsSchema) {
  int result = executeQueryUsingBlock([&](sqlite3* db) {
    int existsResult = SQLITE_OK;
    if (tableExists(tableName, db, &existsResult)) return SQLITE_OK;
    if (existsResult != SQLITE_OK) return existsResult;
    const std::string query =
        "CREATE TABLE " + quotedIdentifier(tableName) + " (" + columnsQueryFromColumnsSchema(columnsSchema) + ");";
    int createResult = executeNonSelectionQuery(query, db);
    if (createResult == SQLITE_OK) {
      DVACLogVerbose(kDVACLogTag, "Table " + tableName + " has been created");
    } else {
      DVACLogError(kDVACLogTag, "Failed to create table " + tableName);
    }
    return createResult;
  });
  return result == SQLITE_OK;
}

bool DVACDBStorage::dropTable(const std::string& tableName) {
  int result = executeQueryUsingBlock([&](sqlite3* db) {
    int existsResult = SQLITE_OK;
    if (!tableExists(tableName, db, &existsResult)) return existsResult;
    int dropResult = executeNonSelectionQuery("DROP TABLE " + quotedIdentifier(tableName) + ";", db);
    if (dropResult == SQLITE_OK) {
      DVACLogVerbose(kDVACLogTag, "Table " + tableName + " has been deleted");
    } else {
      DVACLogError(kDVACLogTag, "Failed to delete table " + tableName);
    }
    return dropResult;
  });
  return result == SQLITE_OK;
}

void DVACDBStorage::dropDatabase() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  closeConnection(false);
  if (dbFileURL_ && DVACUtility::deleteFileAtURL(dbFileURL_)) {
    removeCompanionFiles(*dbFileURL_);
    DVACLogVerbose(kDVACLogTag, "Database " + dbFileURL_->absoluteString() + " has been deleted.");
  } else {
    DVACLogError(kDVACLogTag, "Failed to delete database.");
  }
}

void DVACDBStorage::setMaxStorageSize(int64_t sizeInBytes, const std::function<void(bool success)>& completionHandler) {
  bool success = false;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    int result = SQLITE_CANTOPEN;
    sqlite3* db = dbFileURL_ ? connection(&result) : nullptr;
    if (!dbFileURL_) {
      DVACLogError(kDVACLogTag, "Failed to open database with result: " + std::to_string(result) + ".");
    }
    if (db) {
      const int64_t pageSize = pageSize_.load();
      if (pageSize == 0) {
        DVACLogError(kDVACLogTag,
                     "The database was not configured correctly. The page size is expected to be non zero.");
      } else {
        const int64_t pageCount = getPageCountInOpenedDatabase(db);
        DVACLogDebug(kDVACLogTag, "Found " + std::to_string(pageCount) + " pages in the database.");
        const int64_t requestedMaxPageCount = sizeInBytes / pageSize + (sizeInBytes % pageSize > 0 ? 1 : 0);
        if (pageCount > requestedMaxPageCount) {
          DVACLogWarning(kDVACLogTag, "Cannot change database size to " + std::to_string(sizeInBytes) +
                                          " bytes as it would cause a loss of data. Maximum database size will "
                                          "not be changed.");
        } else if ((result = setMaxPageCount(requestedMaxPageCount, db)) != SQLITE_OK) {
          DVACLogError(kDVACLogTag, "Could not change maximum database size to " + std::to_string(sizeInBytes) +
                                        " bytes. SQLite error code: " + std::to_string(result));
        } else {
          const int64_t currentMaxPageCount = getMaxPageCountInOpenedDatabase(db);
          const int64_t currentMaxSize = pageSize * currentMaxPageCount;
          if (currentMaxPageCount != requestedMaxPageCount) {
            DVACLogError(kDVACLogTag, "Could not change maximum database size to " + std::to_string(sizeInBytes) +
                                          " bytes, current maximum size is " + std::to_string(currentMaxSize) +
                                          " bytes.");
          } else {
            if (currentMaxSize == sizeInBytes) {
              DVACLogInfo(kDVACLogTag,
                          "Changed maximum database size to " + std::to_string(currentMaxSize) + " bytes.");
            } else {
              DVACLogInfo(kDVACLogTag, "Changed maximum database size to " + std::to_string(currentMaxSize) +
                                           " bytes (next multiple of 4KiB).");
            }
            maxSizeInBytes_ = currentMaxSize;
            success = true;
          }
          connectionMaxPageCount_ = currentMaxPageCount;
        }
      }
    }
  }
  if (completionHandler) completionHandler(success);
}

void DVACDBStorage::customizeDatabase(sqlite3* /*db*/) {}

void DVACDBStorage::migrateDatabase(sqlite3* /*db*/, uint64_t /*version*/) {}

// ---- Class operations ---------------------------------------------------------

sqlite3* DVACDBStorage::openDatabaseAtFileURL(const ns::URL& fileURL, int* result) {
  sqlite3* db = nullptr;
  int code = sqlite3_open_v2(fileURL.absoluteString().c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr);
  if (result) *result = code;
  if (code != SQLITE_OK) {
    DVACLogError(kDVACLogTag, "Failed to open database with result: " + std::to_string(code) + ".");
    closeDatabase(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMilliseconds);
  return db;
}

int DVACDBStorage::createTablesWithSchema(const std::optional<DVACStorageSchema>& schema, sqlite3* db) {
  if (!schema) return SQLITE_OK;
  std::vector<std::string> queries;
  for (const auto& [tableName, columnsSchema] : *schema) {
    int result = SQLITE_OK;
    if (tableExists(tableName, db, &result)) continue;
    if (result != SQLITE_OK) return result;
    queries.push_back("CREATE TABLE " + quotedIdentifier(tableName) + " (" +
                      columnsQueryFromColumnsSchema(columnsSchema) + ");");
  }
  for (const auto& query : queries) {
    int result = executeNonSelectionQuery(query, db);
    if (result != SQLITE_OK) return result;
  }
  return SQLITE_OK;
}

std::string DVACDBStorage::columnsQueryFromColumnsSchema(const DVACStorageColumnsSchema& columnsSchema) {
  std::string query;
  for (const auto& [name, words] : columnsSchema) {
    if (!query.empty()) query += ", ";
    query += quotedIdentifier(name) + " ";
    for (size_t i = 0; i < words.size(); ++i) {
      if (i > 0) query += " ";
      query += words[i];
    }
  }
  return query;
}

DVACStorageColumnsIndexes DVACDBStorage::columnsIndexes(const DVACStorageSchema& schema) {
  DVACStorageColumnsIndexes indexes;
  for (const auto& [tableName, columnsSchema] : schema) {
    auto& table = indexes[tableName];
    for (size_t i = 0; i < columnsSchema.size(); ++i) table[columnsSchema[i].first] = i;
  }
  return indexes;
}

bool DVACDBStorage::tableExists(const std::string& tableName, sqlite3* db, int* result) {
  DVACStorageBindableArray values;
  values.addString(tableName);
  DVACStorageRows rows = executeSelectionQuery(
      "SELECT COUNT(*) FROM \"sqlite_master\" WHERE \"type\"='table' AND \"name\"=?;", db, &values, result);
  if (rows.empty() || rows.front().empty()) return false;
  return rows.front().front().asBool().value_or(false);
}

uint64_t DVACDBStorage::versionInOpenedDatabase(sqlite3* db, int* result) {
  DVACStorageRows rows = executeSelectionQuery("PRAGMA user_version", db, nullptr, result);
  if (rows.empty() || rows.front().empty()) return 0;
  return rows.front().front().asUInt64().value_or(0);
}

int DVACDBStorage::setVersion(uint64_t version, sqlite3* db) {
  return executeNonSelectionQuery("PRAGMA user_version = " + std::to_string(version), db);
}

int DVACDBStorage::enableAutoVacuumInOpenedDatabase(sqlite3* db) {
  int result = SQLITE_OK;
  if (querySingleValue("PRAGMA auto_vacuum", db, &result) == 1) return result;
  if (isDamagedDatabaseResult(result)) return result;
  DVACLogDebug(kDVACLogTag, "Vacuuming database and enabling auto_vacuum");
  result = executeNonSelectionQuery("PRAGMA auto_vacuum = FULL;", db);
  if (result != SQLITE_OK) return result;
  return executeNonSelectionQuery("VACUUM;", db);
}

int DVACDBStorage::enableWriteAheadLogInOpenedDatabase(sqlite3* db) {
  int result = SQLITE_OK;
  const DVACStorageRows mode = executeSelectionQuery("PRAGMA journal_mode = WAL;", db, nullptr, &result);
  if (result != SQLITE_OK) return result;
  const std::string* name = mode.empty() || mode.front().empty() ? nullptr : mode.front().front().string();
  if (!name || *name != "wal") {
    DVACLogError(kDVACLogTag, "Could not use a write-ahead log; the journal mode is " + (name ? *name : "unknown") + ".");
  }
  return executeNonSelectionQuery("PRAGMA synchronous = NORMAL;", db);
}

int64_t DVACDBStorage::getPageSizeInOpenedDatabase(sqlite3* db, int* result) {
  return querySingleValue("PRAGMA page_size;", db, result);
}

int64_t DVACDBStorage::getPageCountInOpenedDatabase(sqlite3* db) { return querySingleValue("PRAGMA page_count;", db); }

int64_t DVACDBStorage::getMaxPageCountInOpenedDatabase(sqlite3* db) {
  return querySingleValue("PRAGMA max_page_count;", db);
}

int DVACDBStorage::setMaxPageCount(int64_t maxPageCount, sqlite3* db) {
  int result = SQLITE_OK;
  executeSelectionQuery("PRAGMA max_page_count = " + std::to_string(maxPageCount), db, nullptr, &result);
  return result;
}

int64_t DVACDBStorage::querySingleValue(const std::string& query, sqlite3* db, int* result) {
  DVACStorageRows rows = executeSelectionQuery(query, db, nullptr, result);
  if (rows.empty() || rows.front().empty()) return 0;
  return rows.front().front().asInt64().value_or(0);
}

int DVACDBStorage::executeQuery(const std::string& query, sqlite3* db, const DVACStorageBindableArray* values,
                                const std::function<int(sqlite3_stmt* statement)>& block) {
  sqlite3_stmt* statement = nullptr;
  int result = sqlite3_prepare_v2(db, query.c_str(), static_cast<int>(query.size()) + 1, &statement, nullptr);
  if (result != SQLITE_OK) {
    DVACLogError(kDVACLogTag,
                 "Failed to prepare SQLite statement, result=" + std::to_string(result) + "\n\t" + errorMessage(db));
    return result;
  }
  if (!statement) return SQLITE_OK;  // nothing but blanks or comments
  if (values) result = values->bindAllValuesWithStatement(statement, db);
  if (result == SQLITE_OK) result = block(statement);
  int finalizeResult = sqlite3_finalize(statement);
  // A failed step comes back from finalize too; it has been reported already.
  if (finalizeResult != SQLITE_OK && result == SQLITE_OK) {
    DVACLogError(kDVACLogTag, "Failed to finalize SQLite statement, result=" + std::to_string(finalizeResult) + "\n\t" +
                                  errorMessage(db));
  }
  return result;
}

int DVACDBStorage::executeNonSelectionQuery(const std::string& query, sqlite3* db,
                                            const DVACStorageBindableArray* values) {
  return executeQuery(query, db, values, [db](sqlite3_stmt* statement) { return stepNonSelection(statement, db); });
}

int DVACDBStorage::executeCachedNonSelectionQuery(const std::string& query, sqlite3* db,
                                                  const DVACStorageBindableArray& values) {
  if (db != connection_) return executeNonSelectionQuery(query, db, &values);
  sqlite3_stmt*& statement = statements_[query];
  if (!statement) {
    const int result = sqlite3_prepare_v3(db, query.c_str(), static_cast<int>(query.size()) + 1,
                                          SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (result != SQLITE_OK || !statement) {
      DVACLogError(kDVACLogTag,
                   "Failed to prepare SQLite statement, result=" + std::to_string(result) + "\n\t" + errorMessage(db));
      statements_.erase(query);
      return result;
    }
  }
  int result = values.bindAllValuesWithStatement(statement, db);
  if (result == SQLITE_OK) result = stepNonSelection(statement, db);
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  return result;
}

DVACStorageRows DVACDBStorage::executeSelectionQuery(const std::string& query, sqlite3* db,
                                                     const DVACStorageBindableArray* values, int* result) {
  DVACStorageRows rows;
  int code = executeQuery(query, db, values, [&](sqlite3_stmt* statement) {
    int stepResult = SQLITE_OK;
    while ((stepResult = sqlite3_step(statement)) == SQLITE_ROW) {
      const int count = sqlite3_column_count(statement);
      if (count <= 0) continue;
      DVACStorageRow row;
      row.reserve(static_cast<size_t>(count));
      for (int i = 0; i < count; ++i) row.push_back(columnValueFromStatement(statement, i));
      rows.push_back(std::move(row));
    }
    if (stepResult == SQLITE_DONE) return SQLITE_OK;
    DVACLogError(kDVACLogTag, "Query failed with error: " + std::to_string(stepResult) + "\n\t" + errorMessage(db));
    return stepResult;
  });
  if (result) *result = code;
  return rows;
}

ns::Value DVACDBStorage::columnValueFromStatement(sqlite3_stmt* statement, int index) {
  const int type = sqlite3_column_type(statement, index);
  switch (type) {
    case SQLITE_NULL:
      return ns::Value::null();
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
      const int length = sqlite3_column_bytes(statement, index);
      return text ? ns::Value(std::string(text, static_cast<size_t>(length))) : ns::Value::null();
    }
    case SQLITE_INTEGER:
      return ns::Value(static_cast<int64_t>(sqlite3_column_int64(statement, index)));
    default:
      DVACLogError(kDVACLogTag, "Could not retrieve column value at index " + std::to_string(index) +
                                    " from statement: unknown type " + std::to_string(type) + ".");
      return ns::Value::null();
  }
}

std::string DVACDBStorage::quotedIdentifier(const std::string& identifier) {
  std::string quoted = "\"";
  for (char c : identifier) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}
