#include <mutex>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/KeyedArchiver.h"

namespace {

struct MigrationTable {
  std::mutex mutex;
  std::map<std::string, std::string> classes;  // old class name -> today's
};

MigrationTable& migrationTable() {
  static MigrationTable* table = new MigrationTable();
  return *table;
}

}  // namespace

void DVACUtility::addMigrationClasses(const std::map<std::string, std::string>& migrationClasses) {
  MigrationTable& table = migrationTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (const auto& [oldName, newName] : migrationClasses) table.classes[oldName] = newName;
}

const std::map<std::string, std::string>& DVACUtility::redEvududMigrationClasses() {
  static const std::map<std::string, std::string> classes = {
      {"DVDeviceHistoryInfo", "DVACDeviceHistoryInfo"},
      {"DVDevice", "DVACDevice"},
      {"DVStartServiceLog", "DVACStartServiceLog"},
      {"DVSessionHistoryInfo", "DVACSessionHistoryInfo"},
      {"DVUserIdHistoryInfo", "DVACUserIdHistoryInfo"},
      {"DVLogWithProperties", "DVACLogWithProperties"},
      {"DVLogContainer", "DVACLogContainer"},
      {"DVWrapperSdk", "DVACWrapperSdk"},
      {"DVAbstractLog", "DVACAbstractLog"},
  };
  return classes;
}

void DVACUtility::removeMigrationClassesForTesting() {
  MigrationTable& table = migrationTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.classes.clear();
}

std::optional<ns::Data> DVACUtility::archiveKeyedData(const ns::Value& object) {
  if (object.isNull()) return std::nullopt;
  ns::Error error;
  auto data = ns::KeyedArchiver::archivedDataWithRootObject(object, &error);
  if (!data) {
    DVACLogError(kDVACLogTag, "Archiving NSData failed with error: " + error.localizedDescription());
    return std::nullopt;
  }
  return data;
}

std::optional<ns::Value> DVACUtility::unarchiveKeyedData(const std::optional<ns::Data>& data) {
  if (!data) return std::nullopt;
  std::map<std::string, std::string> migrations;
  {
    MigrationTable& table = migrationTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    migrations = table.classes;
  }
  ns::Error error;
  bool failed = false;
  std::optional<ns::Value> object;
  try {
    object = ns::KeyedUnarchiver::unarchivedObjectWithData(*data, &error, migrations);
    failed = !object;
  } catch (const std::exception& exception) {
    // Nothing may escape to the caller, whatever a class's decoding does.
    error = ns::Error::withDescription(ns::NSCocoaErrorDomain, ns::NSCoderReadCorruptError, exception.what());
    failed = true;
  }
  if (failed || object->isNull()) {
    DVACLogError(kDVACLogTag,
                 "Unarchiving NSData failed with error: " + (failed ? error.localizedDescription() : "(null)"));
    return std::nullopt;
  }
  return object;
}
