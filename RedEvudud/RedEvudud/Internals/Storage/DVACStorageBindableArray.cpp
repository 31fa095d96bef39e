#include "RedEvudud/RedEvudud/Internals/Storage/DVACStorageBindableArray.h"

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"

void DVACStorageBindableArray::addString(std::optional<std::string> value) {
  array_.push_back(std::make_shared<DVACStorageTextType>(std::move(value)));
}

void DVACStorageBindableArray::addNumber(int64_t value) {
  array_.push_back(std::make_shared<DVACStorageNumberType>(value));
}

void DVACStorageBindableArray::addValue(std::shared_ptr<const DVACStorageBindableType> value) {
  if (value) array_.push_back(std::move(value));
}

int DVACStorageBindableArray::bindAllValuesWithStatement(sqlite3_stmt* query, sqlite3* db) const {
  int index = 1;
  for (const auto& value : array_) {
    int result = value->bindWithStatement(query, index);
    if (result != SQLITE_OK) {
      DVACLogError(kDVACLogTag, "Binding query parameter " + std::to_string(index) + " failed with error: " +
                                    std::to_string(result) + ". Message: " + sqlite3_errmsg(db));
      return result;
    }
    ++index;
  }
  return SQLITE_OK;
}
