#include "RedEvudud/RedEvudud/Internals/Model/Util/DVACOrderedDictionary.h"

DVACOrderedDictionary::DVACOrderedDictionary(std::size_t /*capacity*/) {}

void DVACOrderedDictionary::setObject(ns::Value value, std::string key) {
  dictionary_.set(std::move(key), std::move(value));
}

const ns::Value* DVACOrderedDictionary::objectForKey(std::string_view key) const { return dictionary_.find(key); }

bool DVACOrderedDictionary::isEqualToDictionary(const DVACOrderedDictionary& other) const {
  return dictionary_ == other.dictionary_;
}

bool DVACOrderedDictionary::isEqualToDictionary(const ns::Value& other) const {
  const ns::OrderedDictionary* ordered = other.orderedDictionary();
  return ordered && dictionary_ == *ordered;
}
