#pragma once
// A thin layer over one SQLite database file under the SDK directory: tables
// made from a schema description, a schema version kept in
// "PRAGMA user_version", full auto-vacuum, a size limit through
// "PRAGMA max_page_count", and prepared statements with bound values.
//
// The file is kept in write-ahead-log mode with normal sync: a committed
// change survives the process being killed, and only a power cut may lose the
// last moments. One connection is kept for the storage's life, so a save
// costs one insert and no open, schema read or journal sync; the log is
// checkpointed into the file once it holds a quarter of the size limit (at
// most 1000 pages) and when the storage goes away.
//
// Operations of one instance are serialised by the instance's own lock, so
// the kept handle is never used by two threads at once. A file that turns
// out to be damaged (not a database, corrupt, or holding tables this layout
// can't use) is deleted and made anew, so that the store keeps working; one
// written by a newer schema keeps its rows and gets this schema's version.
// A file changed behind the connection's back (replaced, removed, or written
// by someone else's checkpoint) is reopened before the next operation.

#include <sqlite3.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Storage/DVACStorageBindableArray.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

// One column: its name and its words (the SQL type, then constraints).
using DVACStorageColumnSchema = std::pair<std::string, std::vector<std::string>>;
// A table's columns; the position is the column index.
using DVACStorageColumnsSchema = std::vector<DVACStorageColumnSchema>;
// Table name -> columns.
using DVACStorageSchema = std::map<std::string, DVACStorageColumnsSchema>;
// Table name -> (column name -> 0-based position).
using DVACStorageColumnsIndexes = std::map<std::string, std::map<std::string, size_t>>;

// A selected row: NULL as a null value, TEXT as a string, INTEGER as a signed
// 64-bit number; any other type as a null value.
using DVACStorageRow = std::vector<ns::Value>;
using DVACStorageRows = std::vector<DVACStorageRow>;

// The size limit of a freshly configured database: 10 MiB.
inline constexpr int64_t kDVACDefaultDatabaseSizeInBytes = 10485760;

class DVACDBStorage {
 public:
  // Creates or opens the file and configures it. Always returns a storage; a
  // storage whose file could not be configured logs why and fails its
  // operations.
  static std::shared_ptr<DVACDBStorage> storageWithSchema(std::optional<DVACStorageSchema> schema, uint64_t version,
                                                          std::string filename);
  static std::shared_ptr<DVACDBStorage> storageWithVersion(uint64_t version, std::string filename);

  // Checkpoints the log into the file and closes the connection.
  virtual ~DVACDBStorage();
  DVACDBStorage(const DVACDBStorage&) = delete;
  DVACDBStorage& operator=(const DVACDBStorage&) = delete;

  const std::optional<ns::URL>& dbFileURL() const { return dbFileURL_; }
  int64_t maxSizeInBytes() const { return maxSizeInBytes_.load(); }
  // 0 means the database is unusable.
  int64_t pageSize() const { return pageSize_.load(); }
  const std::optional<DVACStorageSchema>& schema() const { return schema_; }
  const std::string& filename() const { return filename_; }
  uint64_t version() const { return version_; }

  // Runs the block on the kept connection (opened when needed, with the size
  // limit applied); returns the block's code, or the code that kept it from
  // running. A damaged file met here is made anew and the block runs once
  // more. A transaction the block leaves open is rolled back.
  int executeQueryUsingBlock(const std::function<int(sqlite3* db)>& block);

  int executeNonSelectionQuery(const std::string& query);
  int executeNonSelectionQuery(const std::string& query, const DVACStorageBindableArray& values);
  // The rows read; empty also when the database could not be opened.
  DVACStorageRows executeSelectionQuery(const std::string& query);
  DVACStorageRows executeSelectionQuery(const std::string& query, const DVACStorageBindableArray& values);
  uint64_t countEntriesForTable(const std::string& tableName, const std::optional<std::string>& condition,
                                const DVACStorageBindableArray& values = {});
  bool createTable(const std::string& tableName, const DVACStorageColumnsSchema& columnsSchema);
  bool dropTable(const std::string& tableName);
  // Closes the connection and deletes the file (and any journal, log or
  // shared-memory file beside it).
  void dropDatabase();

  // Changes the size limit, rounded up to whole pages. Refuses to go below
  // the current content. The handler, when given, always gets the outcome,
  // also when the database cannot be opened.
  void setMaxStorageSize(int64_t sizeInBytes, const std::function<void(bool success)>& completionHandler);

  // Hooks: after a new file got its tables, and when the stored version is
  // older than the requested one.
  virtual void customizeDatabase(sqlite3* db);
  virtual void migrateDatabase(sqlite3* db, uint64_t version);

  // ---- Class operations on an open handle ----------------------------------
  // Made once per process before any database is used; its result is logged
  // by the first storage made.
  static int configureSQLite();
  static int globalConfigurationResult();
  static sqlite3* openDatabaseAtFileURL(const ns::URL& fileURL, int* result);
  static int createTablesWithSchema(const std::optional<DVACStorageSchema>& schema, sqlite3* db);
  static std::string columnsQueryFromColumnsSchema(const DVACStorageColumnsSchema& columnsSchema);
  static DVACStorageColumnsIndexes columnsIndexes(const DVACStorageSchema& schema);
  static bool tableExists(const std::string& tableName, sqlite3* db, int* result = nullptr);
  static uint64_t versionInOpenedDatabase(sqlite3* db, int* result);
  static int setVersion(uint64_t version, sqlite3* db);
  static int enableAutoVacuumInOpenedDatabase(sqlite3* db);
  // Write-ahead log with normal sync; the journal mode stays with the file.
  static int enableWriteAheadLogInOpenedDatabase(sqlite3* db);
  static int64_t getPageSizeInOpenedDatabase(sqlite3* db, int* result = nullptr);
  static int64_t getPageCountInOpenedDatabase(sqlite3* db);
  static int64_t getMaxPageCountInOpenedDatabase(sqlite3* db);
  static int setMaxPageCount(int64_t maxPageCount, sqlite3* db);
  // The first cell of the first row as an integer; 0 when there is none.
  static int64_t querySingleValue(const std::string& query, sqlite3* db, int* result = nullptr);
  static int executeNonSelectionQuery(const std::string& query, sqlite3* db,
                                      const DVACStorageBindableArray* values = nullptr);
  static DVACStorageRows executeSelectionQuery(const std::string& query, sqlite3* db,
                                               const DVACStorageBindableArray* values, int* result = nullptr);
  // Prepares, binds, runs the block on the statement and finalizes; returns
  // the binding's or the block's code.
  static int executeQuery(const std::string& query, sqlite3* db, const DVACStorageBindableArray* values,
                          const std::function<int(sqlite3_stmt* statement)>& block);
  static ns::Value columnValueFromStatement(sqlite3_stmt* statement, int index);
  // An identifier in double quotes, inner quotes doubled.
  static std::string quotedIdentifier(const std::string& identifier);
  // Codes that mean the file itself is damaged.
  static bool isDamagedDatabaseResult(int result) { return result == SQLITE_NOTADB || result == SQLITE_CORRUPT; }

 protected:
  DVACDBStorage(std::optional<DVACStorageSchema> schema, uint64_t version, std::string filename);

  // Configures the file; run once by the factory right after construction so
  // that a subclass's hooks take part.
  void initialize();

  // Called, with the storage's lock held, after a damaged file was replaced
  // by a new one: whatever a subclass remembers about rows is void.
  virtual void databaseWasRecreated() {}

  // Held around every operation; subclasses hold it around operations made
  // of several steps.
  std::recursive_mutex& storageLock() const { return mutex_; }

  // The page limit in force on the connection the block runs on.
  int64_t connectionMaxPageCount() const { return connectionMaxPageCount_; }

  // A non-selection statement prepared once per connection and reused, for
  // the statements run on every save; reported as executeNonSelectionQuery.
  int executeCachedNonSelectionQuery(const std::string& query, sqlite3* db, const DVACStorageBindableArray& values);

 private:
  struct FileIdentity {
    dev_t device;
    ino_t inode;
    off_t size;
    int64_t modifiedNanoseconds;
    bool operator==(const FileIdentity&) const = default;
  };

  int configureDatabase(bool* damaged);
  void recreateDatabase();
  int runOnOpenedDatabase(const std::function<int(sqlite3* db)>& block);
  // The kept connection, opened anew when there is none or when the file is
  // no longer the one it was left as.
  sqlite3* connection(int* result);
  void adoptConnection(sqlite3* db);
  // Finalizes the kept statements and closes; without a checkpoint when the
  // file is to be deleted or was changed by someone else.
  void closeConnection(bool checkpoint);
  void rememberFile();
  int applyMaxPageCount(sqlite3* db);
  int64_t checkpointPages() const;
  bool hasUsableTables(sqlite3* db, int* result);
  static int walCommitted(void* storage, sqlite3* db, const char* name, int pages);

  std::optional<ns::URL> dbFileURL_;
  std::atomic<int64_t> maxSizeInBytes_{0};
  std::atomic<int64_t> pageSize_{0};
  std::optional<DVACStorageSchema> schema_;
  uint64_t version_;
  std::string filename_;
  mutable std::recursive_mutex mutex_;

  sqlite3* connection_ = nullptr;
  std::map<std::string, sqlite3_stmt*> statements_;
  std::optional<FileIdentity> connectedFile_;
  // Set when our own checkpoint wrote the file.
  bool wroteFile_ = false;
  // max_page_count as read back from the connection; 0 before it is set.
  int64_t connectionMaxPageCount_ = 0;
};
