#pragma once
// A log in Common Schema 3.0 form, bound for Ruv Erirovevu: a few top-level
// fields, the "ext" extensions and the "data" object. It has its own JSON
// (keys in a fixed order) and its own validity; the base log's fields other
// than the timestamp and the target tokens do not appear in it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSData.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSExtensions.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACAbstractLog.h"

class DVACCommonSchemaLog : public DVACAbstractLog {
 public:
  const std::optional<std::string>& ver() const { return ver_; }
  void setVer(std::optional<std::string> ver) { ver_ = std::move(ver); }
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> name) { name_ = std::move(name); }
  // Archived, never written to JSON.
  double popSample() const { return popSample_; }
  void setPopSample(double popSample) { popSample_ = popSample; }
  const std::optional<std::string>& iKey() const { return iKey_; }
  void setIKey(std::optional<std::string> iKey) { iKey_ = std::move(iKey); }
  int64_t flags() const { return flags_; }
  void setFlags(int64_t flags) { flags_ = flags; }
  // The correlation vector; archived, never written to JSON.
  const std::optional<std::string>& cV() const { return cV_; }
  void setCV(std::optional<std::string> cV) { cV_ = std::move(cV); }
  const std::shared_ptr<DVACCSExtensions>& ext() const { return ext_; }
  void setExt(std::shared_ptr<DVACCSExtensions> ext) { ext_ = std::move(ext); }
  const std::shared_ptr<DVACCSData>& data() const { return data_; }
  void setData(std::shared_ptr<DVACCSData> data) { data_ = std::move(data); }

  // An insertion-ordered dictionary: "ver", "name", "time", "iKey", "flags"
  // (only when non-zero), "ext", "data", each only when present.
  ns::Value serializeToDictionary() const override;
  // Timestamp, ver and name present, checked in that order.
  bool isValid() const override;
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACCommonSchemaLog> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACCommonSchemaLog"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACCommonSchemaLog", "DVACAbstractLog", "NSObject"};
  }

 private:
  std::optional<std::string> ver_;
  std::optional<std::string> name_;
  double popSample_ = 0;
  std::optional<std::string> iKey_;
  int64_t flags_ = 0;
  std::optional<std::string> cV_;
  std::shared_ptr<DVACCSExtensions> ext_;
  std::shared_ptr<DVACCSData> data_;
};
