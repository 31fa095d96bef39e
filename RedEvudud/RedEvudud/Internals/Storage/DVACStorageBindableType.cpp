#include "RedEvudud/RedEvudud/Internals/Storage/DVACStorageBindableType.h"

int DVACStorageNumberType::bindWithStatement(sqlite3_stmt* query, int index) const {
  return sqlite3_bind_int64(query, index, static_cast<sqlite3_int64>(value_));
}

int DVACStorageTextType::bindWithStatement(sqlite3_stmt* query, int index) const {
  if (!value_) return sqlite3_bind_null(query, index);
  // Bound with its length: text with an embedded NUL is kept whole.
  return sqlite3_bind_text64(query, index, value_->data(), value_->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}
