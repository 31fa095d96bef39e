#pragma once
// Shared by the storage and encrypter tests: a scoped SDK directory and
// direct access to a database file behind the storage's back (the log
// recorder is the one every telemetry test uses).

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/tests/DVACTestSupport.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/TestSupport.h"

namespace dvac_test {

// The SDK directory under a temporary root for the lifetime of the object.
class ScopedSdkDirectory {
 public:
  ScopedSdkDirectory() { DVACUtility::resetRedEvududDirectoryForTesting(); }
  ~ScopedSdkDirectory() { DVACUtility::resetRedEvududDirectoryForTesting(); }
  std::string pathOf(const std::string& component) const {
    return DVACUtility::fullURLForPathComponent(component)->path();
  }

 private:
  ns::test::ScopedPathsRoot root_;
};

// A connection of its own to a database file.
class RawDatabase {
 public:
  explicit RawDatabase(const std::string& path) { sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr); }
  ~RawDatabase() { sqlite3_close_v2(db_); }
  RawDatabase(const RawDatabase&) = delete;
  RawDatabase& operator=(const RawDatabase&) = delete;

  sqlite3* handle() const { return db_; }
  int exec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }
  // The first cell of the first row as an integer; nullopt without a row.
  std::optional<int64_t> integer(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    std::optional<int64_t> value;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      value = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    return value;
  }
  std::vector<std::string> texts(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    std::vector<std::string> values;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        values.push_back(text ? text : "<null>");
      }
    }
    sqlite3_finalize(statement);
    return values;
  }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace dvac_test
