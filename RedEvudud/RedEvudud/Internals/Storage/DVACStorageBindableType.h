#pragma once
// Values bound to the "?" placeholders of a statement, 1-based.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>

class DVACStorageBindableType {
 public:
  virtual ~DVACStorageBindableType() = default;
  // An SQLite result code.
  virtual int bindWithStatement(sqlite3_stmt* query, int index) const = 0;
};

// A 64-bit integer.
class DVACStorageNumberType final : public DVACStorageBindableType {
 public:
  explicit DVACStorageNumberType(int64_t value) : value_(value) {}
  int64_t value() const { return value_; }
  int bindWithStatement(sqlite3_stmt* query, int index) const override;

 private:
  int64_t value_;
};

// UTF-8 text, copied by SQLite; an absent value binds NULL.
class DVACStorageTextType final : public DVACStorageBindableType {
 public:
  explicit DVACStorageTextType(std::optional<std::string> value) : value_(std::move(value)) {}
  const std::optional<std::string>& value() const { return value_; }
  int bindWithStatement(sqlite3_stmt* query, int index) const override;

 private:
  std::optional<std::string> value_;
};
