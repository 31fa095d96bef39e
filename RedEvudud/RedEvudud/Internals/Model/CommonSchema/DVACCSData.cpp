#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSData.h"

#include "RedEvudud/RedEvudud/Internals/Model/Util/DVACOrderedDictionary.h"

namespace {

const bool kCSDataRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACCSData>("DVACCSData");
  return true;
}();

constexpr const char* kCSDataBaseType = "baseType";
constexpr const char* kCSDataBaseData = "baseData";

}  // namespace

std::optional<ns::Value> DVACCSData::properties() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return properties_;
}

void DVACCSData::setProperties(std::optional<ns::Dictionary> properties) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (properties) {
    properties_ = ns::Value(std::move(*properties));
  } else {
    properties_.reset();
  }
}

void DVACCSData::setProperties(ns::OrderedDictionary properties) {
  std::lock_guard<std::mutex> lock(mutex_);
  properties_ = ns::Value(std::move(properties));
}

ns::Value DVACCSData::serializeToDictionary() const {
  const auto current = properties();
  if (!current) return ns::Value();
  DVACOrderedDictionary dict;
  if (const auto* baseType = current->find(kCSDataBaseType)) dict.setObject(*baseType, kCSDataBaseType);
  if (const auto* baseData = current->find(kCSDataBaseData)) dict.setObject(*baseData, kCSDataBaseData);
  for (auto& [key, value] : current->dictionaryEntries()) dict.setObject(std::move(value), std::move(key));
  return dict.toValue();
}

bool DVACCSData::isEqual(const ns::Object& other) const {
  const auto* data = dynamic_cast<const DVACCSData*>(&other);
  if (!data) return false;
  if (data == this) return true;
  const auto mine = properties();
  const auto theirs = data->properties();
  if (!mine || !theirs) return !mine && !theirs;
  return ns::Value(*mine->asDictionary()) == ns::Value(*theirs->asDictionary());
}

std::shared_ptr<DVACCSData> DVACCSData::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto data = std::make_shared<DVACCSData>();
  data->decodeWithCoder(coder);
  return data;
}

void DVACCSData::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  auto root = coder.decodeObject();
  std::lock_guard<std::mutex> lock(mutex_);
  properties_.reset();
  if (!root || coder.error()) return;
  if (!root->isAnyDictionary()) {
    coder.failWithDescription("the data object's root object is not a dictionary");
    return;
  }
  properties_ = std::move(*root);
}

void DVACCSData::encodeWithCoder(ns::KeyedArchiver& coder) const {
  auto current = properties();
  coder.encodeRootObject(current ? std::move(*current) : ns::Value());
}
