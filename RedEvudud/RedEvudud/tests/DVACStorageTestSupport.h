#pragma once
// Shared by the storage and encrypter tests: a log recorder, a scoped SDK
// directory, and direct access to a database file behind the storage's back.

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/TestSupport.h"

namespace dvac_test {

// Collects every SDK log line, at every level, while it lives.
class LogRecorder {
 public:
  struct Entry {
    DVACLogLevel level;
    std::string message;
  };

  LogRecorder() {
    DVACLogger::setLogHandler([this](const DVACLogMessageProvider& provider, DVACLogLevel level, const std::string&,
                                     const char*, const char*, unsigned int) {
      std::string message = provider();
      std::lock_guard<std::mutex> lock(mutex_);
      entries_.push_back({level, std::move(message)});
    });
  }
  ~LogRecorder() { DVACLogger::resetForTesting(); }
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  std::vector<Entry> entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }
  // Lines containing the text, at the level when one is given.
  size_t count(const std::string& text, std::optional<DVACLogLevel> level = std::nullopt) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
      return e.message.find(text) != std::string::npos && (!level || e.level == *level);
    }));
  }
  bool contains(const std::string& text, std::optional<DVACLogLevel> level = std::nullopt) const {
    return count(text, level) > 0;
  }
  bool exactly(const std::string& message, DVACLogLevel level) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const Entry& e) { return e.message == message && e.level == level; });
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

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
