#pragma once
// Small archivable logs for the log store's tests: a plain one with a
// payload, and one that counts as a Common Schema log.

#include <memory>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACAbstractLog.h"
#include "platform/foundation/KeyedArchiver.h"

namespace dvac_test {

class StoreTestLog : public DVACAbstractLog {
 public:
  explicit StoreTestLog(std::string payload = {}) : payload(std::move(payload)) { setType("storeTest"); }

  std::string className() const override { return "DVACStoreTestLog"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACStoreTestLog", "DVACAbstractLog", "NSObject"};
  }
  void encodeWithCoder(ns::KeyedArchiver& coder) const override {
    DVACAbstractLog::encodeWithCoder(coder);
    coder.encodeObject(ns::Value(payload), "payload");
  }
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override {
    DVACAbstractLog::decodeWithCoder(coder);
    payload = coder.decodeString("payload").value_or("");
  }
  template <typename T>
  static std::shared_ptr<ns::Coding> decode(ns::KeyedUnarchiver& coder) {
    auto log = std::make_shared<T>();
    log->decodeWithCoder(coder);
    if (coder.error()) return nullptr;
    return log;
  }

  std::string payload;
};

// Bound to one transmission target, as Common Schema logs are.
class StoreTestCommonSchemaLog : public StoreTestLog {
 public:
  using StoreTestLog::StoreTestLog;
  std::string className() const override { return "DVACStoreTestCommonSchemaLog"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACStoreTestCommonSchemaLog", "DVACCommonSchemaLog", "DVACAbstractLog", "NSObject"};
  }
};

inline void registerStoreTestLogs() {
  ns::KeyedUnarchiver::registerClass("DVACStoreTestLog", &StoreTestLog::decode<StoreTestLog>);
  ns::KeyedUnarchiver::registerClass("DVACStoreTestCommonSchemaLog", &StoreTestLog::decode<StoreTestCommonSchemaLog>);
}

inline std::shared_ptr<StoreTestLog> testLog(std::string payload) {
  return std::make_shared<StoreTestLog>(std::move(payload));
}

inline std::shared_ptr<StoreTestCommonSchemaLog> commonSchemaLog(std::string payload,
                                                                 const std::vector<std::string>& tokens) {
  auto log = std::make_shared<StoreTestCommonSchemaLog>(std::move(payload));
  if (!tokens.empty()) {
    for (const auto& token : tokens) log->addTransmissionTargetToken(token);
  } else {
    log->setTransmissionTargetTokens(std::make_shared<const std::set<std::string>>());
  }
  return log;
}

inline std::string payloadOf(const std::shared_ptr<DVACLog>& log) {
  auto testLog = std::dynamic_pointer_cast<StoreTestLog>(log);
  return testLog ? testLog->payload : "<not a test log>";
}

}  // namespace dvac_test
