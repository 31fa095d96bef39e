#pragma once
// The log store: one SQLite table "logs" in "Logs.sqlite" under the SDK
// directory. Each log is kept as the Base64 text of its keyed archive with
// its group id and persistence priority; a Common Schema log also keeps one
// transmission target token, encrypted, and that token's target key.
//
// Loads hand logs out as batches that stay pending (in memory only) until
// they are deleted, so a log is never handed out twice in one run. A full
// store makes room by deleting the oldest logs of the lowest priority, never
// of a higher priority than the new log's.
//
// Every value reaches SQL as a bound parameter. Every operation holds the
// store's lock, so the store may be used from any thread.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Storage/DVACDBStorage.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACStorage.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACEncrypter.h"

inline constexpr const char* kDVACLogsDBFileName = "Logs.sqlite";
inline constexpr uint64_t kDVACLogsDatabaseVersion = 5;
inline constexpr const char* kDVACLogTableName = "logs";
inline constexpr const char* kDVACIdColumnName = "id";
inline constexpr const char* kDVACGroupIdColumnName = "groupId";
inline constexpr const char* kDVACLogColumnName = "log";
inline constexpr const char* kDVACTargetTokenColumnName = "targetToken";
inline constexpr const char* kDVACTargetKeyColumnName = "targetKey";
inline constexpr const char* kDVACPriorityColumnName = "priority";

class DVACLogDBStorage final : public DVACDBStorage, public DVACStorage {
 public:
  // The store on "Logs.sqlite", created or opened and migrated.
  static std::shared_ptr<DVACLogDBStorage> create();

  bool saveLog(const std::shared_ptr<DVACLog>& log, const std::string& groupId, DVACLogFlags flags) override;
  DVACStorageLogArray deleteLogsWithGroupId(const std::string& groupId) override;
  void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) override;
  bool loadLogsWithGroupId(const std::string& groupId, size_t limit,
                           const std::optional<std::vector<std::string>>& excludedTargetKeys,
                           const DVACLoadDataCompletionHandler& completionHandler) override;
  DVACStorageLogArray logsWithGroupId(const std::string& groupId) override;
  uint64_t countLogs() override;
  void setMaxStorageSize(int64_t sizeInBytes, const std::function<void(bool success)>& completionHandler) override;

  void customizeDatabase(sqlite3* db) override;
  void migrateDatabase(sqlite3* db, uint64_t version) override;

  // The table's description and its creation.
  static const DVACStorageSchema& logsSchema();
  static int createPriorityIndex(sqlite3* db);

  // Deletes the rows whose column holds one of the values (texts or
  // integers). The instance forms use a connection of their own.
  static int deleteLogsFromDBWithColumnValues(const std::vector<ns::Value>& columnValues, const std::string& columnName,
                                              sqlite3* db);
  int deleteLogsFromDBWithColumnValues(const std::vector<ns::Value>& columnValues, const std::string& columnName);
  int deleteLogFromDBWithId(int64_t dbId);

  // Number of batches handed out and not deleted yet, of every group.
  size_t pendingBatchCount() const;

 protected:
  void databaseWasRecreated() override;

 private:
  DVACLogDBStorage();

  struct StoredLog {
    int64_t dbId;
    std::shared_ptr<DVACLog> log;
  };
  // The logs of the rows that match; rows that cannot be read are deleted.
  std::vector<StoredLog> logsWithCondition(const std::string& condition, const DVACStorageBindableArray& values);
  std::vector<int64_t> pendingIdsOfGroup(const std::string& groupId) const;

  // (group id, batch id) -> row ids handed out in that batch.
  std::map<std::pair<std::string, std::string>, std::vector<int64_t>> batches_;
  size_t idColumnIndex_;
  size_t groupIdColumnIndex_;
  size_t logColumnIndex_;
  size_t targetTokenColumnIndex_;
  DVACEncrypter targetTokenEncrypter_;
};
