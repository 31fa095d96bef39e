#pragma once
// Shared by the telemetry benchmarks that measure a path to the log store:
// the environment the store needs, a log's text as the store keeps it, the
// plain SQLite inserts each path is compared with, and the wall and processor
// time of both sides measured back to back.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Model/DVACLog.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACDBStorage.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACLogDBStorage.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/TestSupport.h"
#include "platform/security/Keychain.h"

namespace bench {

// Everything the store touches under a temporary root, with no logging and
// an in-memory keychain.
struct StoreEnvironment {
  StoreEnvironment() {
    DVACLogger::setCurrentLogLevel(DVACLogLevelNone);
    sec::setCurrentKeychain(std::make_shared<sec::MemoryKeychainStore>());
    DVACUtility::resetRedEvududDirectoryForTesting();
    DVACRedEvududUserDefaults::resetSharedInstance();
  }
  ~StoreEnvironment() {
    DVACUtility::resetRedEvududDirectoryForTesting();
    DVACRedEvududUserDefaults::resetSharedInstance();
    sec::setCurrentKeychain(nullptr);
  }
  StoreEnvironment(const StoreEnvironment&) = delete;
  StoreEnvironment& operator=(const StoreEnvironment&) = delete;

  ns::test::ScopedPathsRoot root;
  ns::test::ScopedStandardDefaults defaults;
};

// What the store writes in the "log" column for a log: its keyed archive in
// Base64.
inline std::string archivedText(const std::shared_ptr<DVACLog>& log) {
  return ns::base64Encode(*DVACUtility::archiveKeyedData(ns::Value(log)));
}

// The baseline: plain prepared inserts of archived logs, one autocommit
// insert per call, into a file of its own beside the store's, laid out as the
// store's (same table and index, full auto-vacuum, same size limit) and
// written in write-ahead-log mode with normal sync.
class PlainInserts {
 public:
  explicit PlainInserts(const DVACDBStorage& storage) {
    const std::string path = storage.dbFileURL()->path() + ".plain";
    std::remove(path.c_str());
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    const std::string table =
        DVACDBStorage::columnsQueryFromColumnsSchema(DVACLogDBStorage::logsSchema().at(kDVACLogTableName));
    exec("PRAGMA auto_vacuum = FULL");
    exec("CREATE TABLE \"logs\" (" + table + ")");
    exec("CREATE INDEX \"ix_logs_priority\" ON \"logs\" (\"priority\")");
    exec("PRAGMA journal_mode = WAL");
    exec("PRAGMA synchronous = NORMAL");
    exec("PRAGMA max_page_count = " + std::to_string(storage.maxSizeInBytes() / storage.pageSize()));
    sqlite3_prepare_v2(db_, "INSERT INTO \"logs\" (\"groupId\", \"log\", \"priority\") VALUES (?, ?, ?)", -1, &insert_,
                       nullptr);
  }
  ~PlainInserts() {
    sqlite3_finalize(insert_);
    sqlite3_close_v2(db_);
  }
  PlainInserts(const PlainInserts&) = delete;
  PlainInserts& operator=(const PlainInserts&) = delete;

  void insert(const std::string& text) {
    sqlite3_bind_text(insert_, 1, "Analytics", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert_, 2, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    sqlite3_bind_int64(insert_, 3, 1);
    benchmark::DoNotOptimize(sqlite3_step(insert_));
    sqlite3_reset(insert_);
  }
  // Empties the table, so the file stays within its limit.
  void clear() { exec("DELETE FROM \"logs\""); }

 private:
  void exec(const std::string& sql) { sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

// Wall and processor time of the path under test and of the plain inserts
// that follow it, added up lap after lap. The processor clock is the
// process's when the path hands work to other threads, else the thread's.
class SideBySide {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SideBySide(clockid_t cpuClock) : cpuClock_(cpuClock) {}

  // The path under test starts.
  void start() {
    c0_ = cpuSeconds();
    t0_ = Clock::now();
  }
  // The path under test is done; the plain inserts start.
  void split() {
    t1_ = Clock::now();
    c1_ = cpuSeconds();
  }
  // The plain inserts are done.
  void stop() {
    const auto t2 = Clock::now();
    const double c2 = cpuSeconds();
    pathTime_ += t1_ - t0_;
    plainTime_ += t2 - t1_;
    pathCpu_ += c1_ - c0_;
    plainCpu_ += c2 - c1_;
  }

  // Sets the rate and the processor time per item of both sides under the
  // given counter names, for `count` items on each side.
  void report(benchmark::State& state, double count, const char* pathRate, const char* pathCpuPerItem) const {
    state.counters[pathRate] = count / pathSeconds();
    state.counters["plain_inserts_per_s"] = count / plainSeconds();
    state.counters[pathCpuPerItem] = pathCpuSeconds() / count * 1e6;
    state.counters["plain_cpu_us_per_insert"] = plainCpuSeconds() / count * 1e6;
    // The path's rate as a share of the plain inserts' (1 = as fast).
    state.counters["path_to_plain_rate_ratio"] = plainSeconds() / pathSeconds();
  }

  double pathSeconds() const { return std::chrono::duration<double>(pathTime_).count(); }
  double plainSeconds() const { return std::chrono::duration<double>(plainTime_).count(); }
  double pathCpuSeconds() const { return pathCpu_; }
  double plainCpuSeconds() const { return plainCpu_; }

 private:
  double cpuSeconds() const {
    timespec ts{};
    clock_gettime(cpuClock_, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }

  clockid_t cpuClock_;
  Clock::time_point t0_;
  Clock::time_point t1_;
  double c0_ = 0;
  double c1_ = 0;
  Clock::duration pathTime_{};
  Clock::duration plainTime_{};
  double pathCpu_ = 0;
  double plainCpu_ = 0;
};

}  // namespace bench
