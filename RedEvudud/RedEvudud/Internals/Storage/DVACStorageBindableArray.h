#pragma once
// The ordered values of one statement's placeholders.

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Storage/DVACStorageBindableType.h"

class DVACStorageBindableArray {
 public:
  DVACStorageBindableArray() = default;

  void addString(std::optional<std::string> value);
  void addNumber(int64_t value);
  void addValue(std::shared_ptr<const DVACStorageBindableType> value);

  const std::vector<std::shared_ptr<const DVACStorageBindableType>>& array() const { return array_; }
  size_t count() const { return array_.size(); }
  bool empty() const { return array_.empty(); }

  // Binds at positions 1, 2, ...; stops at the first failure, logs it and
  // returns its code. SQLITE_OK for an empty list.
  int bindAllValuesWithStatement(sqlite3_stmt* query, sqlite3* db) const;

 private:
  std::vector<std::shared_ptr<const DVACStorageBindableType>> array_;
};
