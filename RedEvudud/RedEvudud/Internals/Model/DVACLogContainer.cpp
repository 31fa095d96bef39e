#include "RedEvudud/RedEvudud/Internals/Model/DVACLogContainer.h"

#include "platform/foundation/Json.h"

namespace {

const bool kLogContainerRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACLogContainer>("DVACLogContainer");
  return true;
}();

constexpr const char* kLogs = "logs";
constexpr const char* kBatchId = "batchId";

}  // namespace

ns::Value DVACLogContainer::serializeToDictionary() const {
  ns::Array array;
  array.reserve(logs.size());
  for (const auto& log : logs) {
    if (!log) continue;
    ns::Value dict = log->serializeToDictionary();
    if (!dict.isNull()) array.push_back(std::move(dict));
  }
  return ns::Value(ns::Dictionary{{kLogs, ns::Value(std::move(array))}});
}

std::optional<std::string> DVACLogContainer::serializeLogWithPrettyPrinting(bool prettyPrint) const {
  // The writer never escapes "/", so URLs in the logs come out as they are.
  ns::json::WriteOptions options;
  options.prettyPrinted = prettyPrint;
  ns::Error error;
  auto json = ns::json::write(serializeToDictionary(), options, &error);
  if (!json) {
    DVACLogError(kDVACLogTag, "Couldn't serialize log container to json: " + error.localizedDescription());
  }
  return json;
}

bool DVACLogContainer::isValid() const {
  if (logs.empty()) {
    DVACLogVerbose(kDVACLogTag, className() + ": there are no logs in container.");
    return false;
  }
  for (const auto& log : logs) {
    if (!log || !log->isValid()) return false;
  }
  return true;
}

bool DVACLogContainer::isEqual(const ns::Object& other) const {
  const auto* container = dynamic_cast<const DVACLogContainer*>(&other);
  if (!container || batchId != container->batchId || logs.size() != container->logs.size()) return false;
  for (size_t i = 0; i < logs.size(); ++i) {
    if (!dvac::objectsEqual(logs[i], container->logs[i])) return false;
  }
  return true;
}

std::shared_ptr<DVACLogContainer> DVACLogContainer::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto container = std::make_shared<DVACLogContainer>();
  container->decodeWithCoder(coder);
  return container;
}

void DVACLogContainer::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  batchId = coder.decodeString(kBatchId);
  logs.clear();
  auto array = coder.decodeArray(kLogs);
  if (!array) return;
  for (const auto& element : *array) {
    auto log = element.objectAs<DVACLog>();
    if (!log) {
      coder.failWithDescription("an element of a log container is not a log");
      return;
    }
    logs.push_back(std::move(log));
  }
}

void DVACLogContainer::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, batchId, kBatchId);
  ns::Array array;
  for (const auto& log : logs) {
    if (log) array.emplace_back(std::shared_ptr<DVACLog>(log));
  }
  coder.encodeObject(ns::Value(std::move(array)), kLogs);
}
