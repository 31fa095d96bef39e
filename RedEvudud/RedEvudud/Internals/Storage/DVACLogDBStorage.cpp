#include "RedEvudud/RedEvudud/Internals/Storage/DVACLogDBStorage.h"

#include <algorithm>
#include <limits>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/Base64.h"

namespace {

// Well below SQLite's limit on the placeholders of one statement.
constexpr size_t kMaxValuesPerStatement = 500;

std::string quoted(const char* identifier) { return DVACDBStorage::quotedIdentifier(identifier); }

// "(?,?,?)"
std::string placeholders(size_t count) {
  std::string text = "(";
  for (size_t i = 0; i < count; ++i) text += i == 0 ? "?" : ",?";
  return text + ")";
}

std::string describe(const ns::Value& value) {
  if (const std::string* text = value.string()) return *text;
  if (auto number = value.asInt64()) return std::to_string(*number);
  return value.description();
}

void bind(DVACStorageBindableArray& values, const ns::Value& value) {
  if (const std::string* text = value.string()) {
    values.addString(*text);
  } else if (auto number = value.asInt64()) {
    values.addNumber(*number);
  } else {
    values.addString(std::nullopt);
  }
}

// Common Schema logs (and their subclasses) keep one target token beside
// their archive; asked by class name as the archive itself records it.
bool isCommonSchemaLog(const DVACLog& log) {
  const auto hierarchy = log.classHierarchy();
  return std::find(hierarchy.begin(), hierarchy.end(), "DVACCommonSchemaLog") != hierarchy.end();
}

}  // namespace

// ---- Creation and schema ------------------------------------------------------------

const DVACStorageSchema& DVACLogDBStorage::logsSchema() {
  static const DVACStorageSchema schema = {
      {kDVACLogTableName,
       {
           {kDVACIdColumnName, {"INTEGER", "PRIMARY KEY", "AUTOINCREMENT"}},
           {kDVACGroupIdColumnName, {"TEXT", "NOT NULL"}},
           {kDVACLogColumnName, {"TEXT", "NOT NULL"}},
           {kDVACTargetTokenColumnName, {"TEXT"}},
           {kDVACTargetKeyColumnName, {"TEXT"}},
           {kDVACPriorityColumnName, {"INTEGER"}},
       }},
  };
  return schema;
}

DVACLogDBStorage::DVACLogDBStorage() : DVACDBStorage(logsSchema(), kDVACLogsDatabaseVersion, kDVACLogsDBFileName) {
  const auto indexes = columnsIndexes(logsSchema()).at(kDVACLogTableName);
  idColumnIndex_ = indexes.at(kDVACIdColumnName);
  groupIdColumnIndex_ = indexes.at(kDVACGroupIdColumnName);
  logColumnIndex_ = indexes.at(kDVACLogColumnName);
  targetTokenColumnIndex_ = indexes.at(kDVACTargetTokenColumnName);
}

std::shared_ptr<DVACLogDBStorage> DVACLogDBStorage::create() {
  std::shared_ptr<DVACLogDBStorage> storage(new DVACLogDBStorage());
  storage->initialize();
  return storage;
}

int DVACLogDBStorage::createPriorityIndex(sqlite3* db) {
  const std::string indexName = std::string("ix_") + kDVACLogTableName + "_" + kDVACPriorityColumnName;
  return executeNonSelectionQuery("CREATE INDEX " + quotedIdentifier(indexName) + " ON " + quoted(kDVACLogTableName) +
                                      " (" + quoted(kDVACPriorityColumnName) + ")",
                                  db);
}

void DVACLogDBStorage::customizeDatabase(sqlite3* db) { createPriorityIndex(db); }

void DVACLogDBStorage::migrateDatabase(sqlite3* db, uint64_t version) {
  if (version >= kDVACLogsDatabaseVersion) return;
  // Logs of an older layout are not worth converting: start over.
  executeNonSelectionQuery("DROP TABLE IF EXISTS " + quoted(kDVACLogTableName), db);
  createTablesWithSchema(logsSchema(), db);
  createPriorityIndex(db);
}

void DVACLogDBStorage::databaseWasRecreated() {
  // The rows the batches listed are gone, and new rows may take their ids.
  batches_.clear();
}

void DVACLogDBStorage::setMaxStorageSize(int64_t sizeInBytes,
                                         const std::function<void(bool success)>& completionHandler) {
  DVACDBStorage::setMaxStorageSize(sizeInBytes, completionHandler);
}

// ---- Save ------------------------------------------------------------------------------

bool DVACLogDBStorage::saveLog(const std::shared_ptr<DVACLog>& log, const std::string& groupId, DVACLogFlags flags) {
  if (!log) return false;
  auto archive = DVACUtility::archiveKeyedData(ns::Value(log));
  if (!archive) return false;
  const std::string base64Data = ns::base64Encode(*archive);
  const int64_t priority = static_cast<int64_t>(flags & DVACLogFlagsPriorityMask);

  static const std::string insertLog = "INSERT INTO " + quoted(kDVACLogTableName) + " (" +
                                       quoted(kDVACGroupIdColumnName) + ", " + quoted(kDVACLogColumnName) + ", " +
                                       quoted(kDVACPriorityColumnName) + ") VALUES (?, ?, ?)";
  static const std::string insertLogWithToken =
      "INSERT INTO " + quoted(kDVACLogTableName) + " (" + quoted(kDVACGroupIdColumnName) + ", " +
      quoted(kDVACLogColumnName) + ", " + quoted(kDVACTargetTokenColumnName) + ", " +
      quoted(kDVACTargetKeyColumnName) + ", " + quoted(kDVACPriorityColumnName) + ") VALUES (?, ?, ?, ?, ?)";

  DVACStorageBindableArray values;
  const std::string* query = &insertLog;
  DVACTargetTokenSet tokens = isCommonSchemaLog(*log) ? log->transmissionTargetTokens() : nullptr;
  if (tokens && !tokens->empty()) {
    const std::string& targetToken = *tokens->begin();
    auto encryptedToken = targetTokenEncrypter_.encryptString(targetToken);
    if (!encryptedToken) {
      // Without its token the log could never be sent where it belongs.
      DVACLogError(kDVACLogTag, "Could not encrypt the target token; the log is not stored.");
      return false;
    }
    query = &insertLogWithToken;
    values.addString(groupId);
    values.addString(base64Data);
    values.addString(*encryptedToken);
    values.addString(DVACUtility::targetKeyFromTargetToken(targetToken));
    values.addNumber(priority);
  } else {
    values.addString(groupId);
    values.addString(base64Data);
    values.addNumber(priority);
  }

  std::lock_guard<std::recursive_mutex> lock(storageLock());
  int result = executeQueryUsingBlock([&](sqlite3* db) {
    const int64_t maxPages =
        connectionMaxPageCount() > 0 ? connectionMaxPageCount() : getMaxPageCountInOpenedDatabase(db);
    const int64_t maxSize = pageSize() * maxPages;
    if (static_cast<int64_t>(base64Data.size()) >= maxSize) {
      DVACLogError(kDVACLogTag, "Log is too large (" + std::to_string(base64Data.size()) +
                                    " bytes) to store in database. Current maximum database size is " +
                                    std::to_string(maxSize) + " bytes.");
      return SQLITE_ERROR;
    }
    int insertResult = executeCachedNonSelectionQuery(*query, db, values);
    int64_t deletedCount = 0;
    if (insertResult == SQLITE_FULL) {
      // Make room: lowest priority first, oldest first, never a log that
      // outranks the new one; one row at a time, as much as the log needs.
      DVACStorageBindableArray priorityValue;
      priorityValue.addNumber(priority);
      const DVACStorageRows candidates =
          executeSelectionQuery("SELECT " + quoted(kDVACIdColumnName) + " FROM " + quoted(kDVACLogTableName) +
                                    " WHERE " + quoted(kDVACPriorityColumnName) + " <= ? ORDER BY " +
                                    quoted(kDVACPriorityColumnName) + " ASC, " + quoted(kDVACIdColumnName) + " ASC",
                                db, &priorityValue);
      for (const auto& row : candidates) {
        if (row.empty()) continue;
        const ns::Value& candidateId = row.front();
        int deleteResult = deleteLogsFromDBWithColumnValues({candidateId}, kDVACIdColumnName, db);
        if (deleteResult != SQLITE_OK) {
          insertResult = deleteResult;
          break;
        }
        ++deletedCount;
        DVACLogDebug(kDVACLogTag, "Deleted a log with id " + describe(candidateId) + " to store a new log.");
        insertResult = executeCachedNonSelectionQuery(*query, db, values);
        if (insertResult != SQLITE_FULL) break;
      }
    }
    if (deletedCount > 0) {
      DVACLogDebug(kDVACLogTag, "Log storage was over capacity, " + std::to_string(deletedCount) +
                                    " oldest log(s) with equal or lower priority deleted.");
    }
    if (insertResult == SQLITE_OK) {
      DVACLogVerbose(kDVACLogTag, "Log is stored with id: '" + std::to_string(sqlite3_last_insert_rowid(db)) + "'");
    } else if (insertResult == SQLITE_FULL) {
      DVACLogError(kDVACLogTag, "Storage is full and no logs with equal or lower priority exist; discarding the log.");
    }
    return insertResult;
  });
  return result == SQLITE_OK;
}

// ---- Load ------------------------------------------------------------------------------

std::vector<int64_t> DVACLogDBStorage::pendingIdsOfGroup(const std::string& groupId) const {
  std::vector<int64_t> ids;
  for (auto it = batches_.lower_bound({groupId, std::string()}); it != batches_.end() && it->first.first == groupId;
       ++it) {
    ids.insert(ids.end(), it->second.begin(), it->second.end());
  }
  return ids;
}

bool DVACLogDBStorage::loadLogsWithGroupId(const std::string& groupId, size_t limit,
                                           const std::optional<std::vector<std::string>>& excludedTargetKeys,
                                           const DVACLoadDataCompletionHandler& completionHandler) {
  std::lock_guard<std::recursive_mutex> lock(storageLock());
  const std::vector<int64_t> pendingIds = pendingIdsOfGroup(groupId);

  DVACStorageBindableArray values;
  std::string condition = quoted(kDVACGroupIdColumnName) + " = ?";
  values.addString(groupId);
  if (excludedTargetKeys && !excludedTargetKeys->empty()) {
    condition += " AND " + quoted(kDVACTargetKeyColumnName) + " NOT IN " + placeholders(excludedTargetKeys->size());
    for (const auto& key : *excludedTargetKeys) values.addString(key);
  }
  if (!pendingIds.empty()) {
    condition += " AND " + quoted(kDVACIdColumnName) + " NOT IN " + placeholders(pendingIds.size());
    for (int64_t id : pendingIds) values.addNumber(id);
  }
  // Highest priority first, oldest first. The rows are picked by id first so
  // that only the chosen rows are read whole and sorted, not the group's.
  const std::string order =
      " ORDER BY " + quoted(kDVACPriorityColumnName) + " DESC, " + quoted(kDVACIdColumnName) + " ASC";
  condition = quoted(kDVACIdColumnName) + " IN (SELECT " + quoted(kDVACIdColumnName) + " FROM " +
              quoted(kDVACLogTableName) + " WHERE " + condition + order + " LIMIT ?)" + order;
  // One row more than asked tells whether more are available; -1 is no limit.
  const bool unlimited = limit >= static_cast<size_t>(std::numeric_limits<int64_t>::max());
  values.addNumber(unlimited ? -1 : static_cast<int64_t>(limit) + 1);

  std::vector<StoredLog> stored = logsWithCondition(condition, values);
  bool moreDataAvailable = false;
  if (stored.size() > limit) {
    stored.resize(limit);
    moreDataAvailable = true;
  }

  DVACStorageLogArray logs;
  std::optional<std::string> batchId;
  if (!stored.empty()) {
    std::vector<int64_t> ids;
    std::vector<std::string> idTexts;
    for (const auto& entry : stored) {
      ids.push_back(entry.dbId);
      idTexts.push_back(std::to_string(entry.dbId));
      logs.push_back(entry.log);
    }
    batchId = ns::UUID::random().UUIDString();
    batches_[{groupId, *batchId}] = std::move(ids);
    DVACLogVerbose(kDVACLogTag,
                   "Load log(s) with id(s) '" + DVACUtility::joinStrings(idTexts, "','") + "' as batch Id:" + *batchId);
  }
  if (completionHandler) completionHandler(logs, batchId);
  return moreDataAvailable;
}

DVACStorageLogArray DVACLogDBStorage::logsWithGroupId(const std::string& groupId) {
  std::lock_guard<std::recursive_mutex> lock(storageLock());
  DVACStorageBindableArray values;
  values.addString(groupId);
  DVACStorageLogArray logs;
  for (auto& entry : logsWithCondition(quoted(kDVACGroupIdColumnName) + " = ?", values)) {
    logs.push_back(std::move(entry.log));
  }
  return logs;
}

std::vector<DVACLogDBStorage::StoredLog> DVACLogDBStorage::logsWithCondition(const std::string& condition,
                                                                             const DVACStorageBindableArray& values) {
  // Named rather than "*": a table of a newer layout may have more columns,
  // or the same ones in another order.
  static const std::string select = [] {
    std::string columns;
    for (const auto& [name, words] : logsSchema().at(kDVACLogTableName)) {
      columns += (columns.empty() ? "" : ", ") + quoted(name.c_str());
    }
    return "SELECT " + columns + " FROM " + quoted(kDVACLogTableName);
  }();
  std::string query = select;
  if (!condition.empty()) query += " WHERE " + condition;
  const DVACStorageRows rows = executeSelectionQuery(query, values);

  std::vector<StoredLog> logs;
  logs.reserve(rows.size());
  const size_t minimumCells =
      std::max({idColumnIndex_, groupIdColumnIndex_, logColumnIndex_, targetTokenColumnIndex_}) + 1;
  for (const auto& row : rows) {
    if (row.size() < minimumCells) continue;
    const std::optional<int64_t> dbId = row[idColumnIndex_].asInt64();
    if (!dbId) continue;
    const std::string idText = std::to_string(*dbId);

    std::shared_ptr<DVACLog> log;
    if (const std::string* text = row[logColumnIndex_].string()) {
      auto data = ns::base64Decode(*text, true);
      if (data && !data->empty()) {
        auto object = DVACUtility::unarchiveKeyedData(data);
        if (object) log = object->objectAs<DVACLog>();
      }
    }
    if (!log) {
      // Gone at once, so that it cannot block later loads.
      DVACLogError(kDVACLogTag, "Deserialization failed for log with Id " + idText);
      deleteLogFromDBWithId(*dbId);
      continue;
    }

    if (const std::string* encryptedToken = row[targetTokenColumnIndex_].string()) {
      if (encryptedToken->empty()) {
        DVACLogError(kDVACLogTag, "Unexpected empty target token for log with Id " + idText + ".");
      } else if (auto token = targetTokenEncrypter_.decryptString(*encryptedToken)) {
        log->addTransmissionTargetToken(*token);
      } else {
        DVACLogError(kDVACLogTag, "Failed to decrypt the target token for log with Id " + idText + ".");
      }
    }
    logs.push_back({*dbId, std::move(log)});
  }
  return logs;
}

// ---- Deletion --------------------------------------------------------------------------

void DVACLogDBStorage::deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) {
  std::lock_guard<std::recursive_mutex> lock(storageLock());
  auto it = batches_.find({groupId, batchId});
  if (it == batches_.end()) return;
  if (!it->second.empty()) {
    std::vector<ns::Value> ids;
    ids.reserve(it->second.size());
    for (int64_t id : it->second) ids.emplace_back(id);
    deleteLogsFromDBWithColumnValues(ids, kDVACIdColumnName);
  }
  batches_.erase(it);
}

DVACStorageLogArray DVACLogDBStorage::deleteLogsWithGroupId(const std::string& groupId) {
  std::lock_guard<std::recursive_mutex> lock(storageLock());
  DVACStorageBindableArray values;
  values.addString(groupId);
  std::vector<StoredLog> stored = logsWithCondition(quoted(kDVACGroupIdColumnName) + " = ?", values);
  deleteLogsFromDBWithColumnValues({ns::Value(groupId)}, kDVACGroupIdColumnName);
  for (auto it = batches_.lower_bound({groupId, std::string()}); it != batches_.end() && it->first.first == groupId;) {
    it = batches_.erase(it);
  }
  DVACStorageLogArray logs;
  logs.reserve(stored.size());
  for (auto& entry : stored) logs.push_back(std::move(entry.log));
  return logs;
}

int DVACLogDBStorage::deleteLogsFromDBWithColumnValues(const std::vector<ns::Value>& columnValues,
                                                       const std::string& columnName, sqlite3* db) {
  std::vector<std::string> texts;
  texts.reserve(columnValues.size());
  for (const auto& value : columnValues) texts.push_back(describe(value));
  const std::string trace =
      "Deletion of log(s) by " + columnName + " with value(s) '" + DVACUtility::joinStrings(texts, "','") + "'";

  int result = SQLITE_OK;
  for (size_t start = 0; start < columnValues.size() && result == SQLITE_OK; start += kMaxValuesPerStatement) {
    const size_t count = std::min(kMaxValuesPerStatement, columnValues.size() - start);
    DVACStorageBindableArray values;
    for (size_t i = start; i < start + count; ++i) bind(values, columnValues[i]);
    result = executeNonSelectionQuery("DELETE FROM " + quoted(kDVACLogTableName) + " WHERE " +
                                          quotedIdentifier(columnName) + " IN " + placeholders(count),
                                      db, &values);
  }
  if (result == SQLITE_OK) {
    DVACLogVerbose(kDVACLogTag, trace + " succeeded.");
  } else {
    DVACLogError(kDVACLogTag, trace + " failed.");
  }
  return result;
}

int DVACLogDBStorage::deleteLogsFromDBWithColumnValues(const std::vector<ns::Value>& columnValues,
                                                       const std::string& columnName) {
  return executeQueryUsingBlock(
      [&](sqlite3* db) { return deleteLogsFromDBWithColumnValues(columnValues, columnName, db); });
}

int DVACLogDBStorage::deleteLogFromDBWithId(int64_t dbId) {
  return deleteLogsFromDBWithColumnValues({ns::Value(dbId)}, kDVACIdColumnName);
}

// ---- Counting --------------------------------------------------------------------------

uint64_t DVACLogDBStorage::countLogs() { return countEntriesForTable(kDVACLogTableName, std::nullopt); }

size_t DVACLogDBStorage::pendingBatchCount() const {
  std::lock_guard<std::recursive_mutex> lock(storageLock());
  return batches_.size();
}
